#!/usr/bin/env node
// How fast a large `korvex deps --html` page opens and answers in a browser:
// every file of a folder as a root (Wine's 754), one page, opened in Debian's
// headless Chromium (with playwright-core from tests/korvex/browser) several
// times. Prints the figures and "result KEY VALUE" lines for bench/report.py.
//   node bench/html_report_bench.mjs KORVEX CORPUS_FOLDER [ROUNDS]
// "open": from the start of the navigation until the page's script has run
// (load) and until the first frame after it is drawn. "filter" and "sort":
// from the change until the next frame is drawn, measured in the page.
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {pathToFileURL} from 'node:url';

import {launchChromium} from '../tests/korvex/browser/launch.mjs';

const [korvex, corpus, roundsText = '7'] = process.argv.slice(2);
if (!korvex || !corpus) {
  console.error('usage: node bench/html_report_bench.mjs KORVEX CORPUS_FOLDER [ROUNDS]');
  process.exit(2);
}
const rounds = Number(roundsText);

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'korvex-html-bench-'));
const report = path.join(work, 'deps.html');
// Every file of the folder, as the closure benchmark takes them (deps_bench.py):
// Wine's 754 are 544 .dll files and the other PE and NE images beside them.
const files = fs.readdirSync(corpus).sort().map((name) => path.join(corpus, name))
  .filter((file) => fs.statSync(file).isFile());
const started = process.hrtime.bigint();
const made = spawnSync(korvex, ['deps', '--html', '-o', report, ...files], {encoding: 'utf8'});
const makeMs = Number(process.hrtime.bigint() - started) / 1e6;
if (!fs.existsSync(report)) {
  console.error(`korvex made no page (status ${made.status}): ${made.stderr}`);
  process.exit(1);
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const queries = ['kernel32', 'd3d9', 'GetProcAddress'];
const figures = {load: [], frame: [], sort: [], clear: []};
for (const query of queries) figures['filter ' + query] = [];
let counts = '';

const browser = await launchChromium();
const context = browser.context;
try {
  for (let round = 0; round < rounds; ++round) {
    const page = await context.newPage();
    await page.goto(pathToFileURL(report).href, {waitUntil: 'load'});
    const opened = await page.evaluate(async () => {
      await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
      return {load: performance.getEntriesByType('navigation')[0].loadEventEnd, frame: performance.now(),
              counts: document.getElementById('counts').textContent};
    });
    figures.load.push(opened.load);
    figures.frame.push(opened.frame);
    counts = opened.counts;
    // Each change, timed from the event to the frame that shows it.
    const timed = (change) => page.evaluate(async (source) => {
      const act = new Function(source);
      const start = performance.now();
      act();
      await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
      return performance.now() - start;
    }, change);
    const type = (text) => `const input = document.getElementById('search'); input.value = ${JSON.stringify(text)};
                            input.dispatchEvent(new Event('input'));`;
    for (const query of queries) {
      figures['filter ' + query].push(await timed(type(query)));
      figures.clear.push(await timed(type('')));
    }
    figures.sort.push(await timed(`document.querySelector('#table-view th button').click();`));
    await page.close();
  }
} finally {
  await browser.close();
}

const size = fs.statSync(report).size;
console.log(`korvex deps --html of ${files.length} roots: ${(size / 1e6).toFixed(1)} MB, made in ${makeMs.toFixed(0)} ms`);
console.log(`page: ${counts}`);
console.log(`Chromium, median of ${rounds} rounds (ms):`);
for (const [name, values] of Object.entries(figures)) console.log(`  ${name.padEnd(24)} ${median(values).toFixed(1)}`);
console.log(`result html.roots ${files.length}`);
console.log(`result html.megabytes ${(size / 1e6).toFixed(2)}`);
console.log(`result html.make_ms ${makeMs.toFixed(1)}`);
console.log(`result html.load_ms ${median(figures.load).toFixed(1)}`);
console.log(`result html.frame_ms ${median(figures.frame).toFixed(1)}`);
for (const query of queries) console.log(`result html.filter_${query.toLowerCase()}_ms ${median(figures['filter ' + query]).toFixed(1)}`);
console.log(`result html.clear_ms ${median(figures.clear).toFixed(1)}`);
console.log(`result html.sort_ms ${median(figures.sort).toFixed(1)}`);
fs.rmSync(work, {recursive: true, force: true});
