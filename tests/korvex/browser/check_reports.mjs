// Opens each kind of --html page in Debian's headless Chromium and uses it as
// a reader would: the tree draws, opens and closes, the search filters,
// missing modules stand out, columns sort, and nothing is fetched or run that
// the page did not bring. The pages are made first by make_reports.cpp.
//   node check_reports.mjs MAKE_REPORTS FOLDER
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {pathToFileURL} from 'node:url';

import {launchChromium} from './launch.mjs';

const [maker, folder] = process.argv.slice(2);
let passed = 0, failed = 0;
function check(name, ok, detail = '') {
  ok ? ++passed : ++failed;
  console.log(`${ok ? 'ok' : 'not ok'} - ${name}${ok ? '' : ' ' + detail}`);
}
function stop(reason) {
  console.error(reason);
  console.log(`${passed} passed, ${failed + 1} failed`);
  process.exit(1);
}
const made = spawnSync(maker, [folder], {encoding: 'utf8'});
if (made.status !== 0) stop(`${maker} failed: ${made.stderr}`);

// Every request but the page's own file is refused and kept, with whatever
// the page raised or tried to show; the page must end with none of them.
async function withPage(context, name, checks) {
  const url = pathToFileURL(path.join(folder, name + '.html')).href;
  const page = await context.newPage();
  page.setDefaultTimeout(5000);
  const seen = {requests: [], errors: [], dialogs: []};
  await page.route('**/*', (route) => route.request().url() === url ? route.continue()
                                                                     : (seen.requests.push(route.request().url()), route.abort()));
  page.on('request', (request) => request.url() !== url && seen.requests.push(request.url()));
  page.on('pageerror', (error) => seen.errors.push(error.message));
  page.on('dialog', (dialog) => { seen.dialogs.push(dialog.message()); dialog.dismiss(); });
  await page.goto(url, {waitUntil: 'load'});
  await checks(page);
  const state = await page.evaluate(() => ({
    injected: window.korvexInjected, resources: performance.getEntriesByType('resource').length,
    scripts: document.scripts.length, markup: document.querySelectorAll('main img, main b, main script').length}));
  check(`${name}: no request but the file`, seen.requests.length + state.resources === 0, seen.requests.join(' '));
  check(`${name}: no script from the data ran`, state.injected === undefined && seen.dialogs.length === 0 &&
        state.scripts === 2 && state.markup === 0, JSON.stringify(state));
  check(`${name}: no script error`, seen.errors.length === 0, seen.errors.join('; '));
}

const texts = (page, selector) => page.$$eval(selector, (nodes) => nodes.map((node) => node.textContent));
const shownNames = (page) => page.$$eval('#tree-view .tree-row .name',
                                         (nodes) => nodes.filter((node) => node.checkVisibility()).map((node) => node.textContent));
const row = (page, name) => page.locator(`#tree-view .tree-row:has(.name:text-is("${name}"))`);
const item = (page, name) => page.locator(`#tree-view [role=treeitem]:has(> .tree-row .name:text-is("${name}"))`);
// The tree's rows drawn, each as "level name".
const levels = (page) => page.$$eval('#tree-view [role=treeitem]', (items) =>
  items.map((item) => `${item.getAttribute('aria-level')} ${item.querySelector('.name').textContent}`).join());
const column = (page, n) => texts(page, `#table-view tbody td:nth-child(${n})`);
const header = (page, label) => page.locator(`#table-view th:has(button:text-is("${label}"))`);

async function deps(page) {
  const shown = await shownNames(page);
  const open = (name) => item(page, name).evaluate((node) => node.getAttribute('aria-expanded') + ' ' + node.classList.contains('holds-trouble'));
  check('deps: a missing module two levels down is shown without a click, its branch marked and opened',
        shown.includes('deep_gone.dll') && (await open('alpha.dll')) === 'true true' &&
        (await open('beta.dll')) === 'true true' && (await open('cut.dll')) === 'false false', shown.join());
  check('deps: a missing module is highlighted', await row(page, 'gone.dll').evaluate((node) =>
        node.parentElement.classList.contains('missing') && getComputedStyle(node).backgroundColor === 'rgb(253, 232, 231)'));
  check('deps: missing modules and functions come first, with their importers',
        (await texts(page, '.problems tr.missing')).join('|') === 'gone.dllapp.exe|deep_gone.dllbeta.dll|beta_gonebeta.dllalpha.dll');
  check('deps: the notes of the text tree are badges', (await row(page, 'cut.dll').textContent()).includes(
        'system folder: Wine ships it; Windows does not') && /skipped.*is damaged/.test(await row(page, 'cut.dll').textContent()) &&
        await page.locator('#tree-view .tree-row:has(.name:text-is("kernel32.dll")) [data-legend=system]').count() === 1);
  const toggle = row(page, 'alpha.dll').locator('.toggle');
  const beta = page.locator('#tree-view .name:text-is("beta.dll")');
  await toggle.click();
  check('deps: a click closes a module', !(await beta.isVisible()) && await item(page, 'alpha.dll').getAttribute('aria-expanded') === 'false');
  await toggle.click();
  check('deps: a second click opens it', await beta.isVisible());
  const importers = page.locator('#table-view tr:has(td:text-is("kernel32.dll")) td:nth-child(7)');
  const before = await importers.textContent();
  await importers.locator('button.more').click();
  check('deps: "Imported by" shows three and a count that opens the rest', before === 'app.exe, alpha.dll, cut.dll+1 more' &&
        await importers.textContent() === 'app.exe, alpha.dll, cut.dll, beta.dll', before);
  await page.fill('#search', 'BETA');
  check('deps: the search filters the tree and the table', (await shownNames(page)).slice(1).join() ===
        'alpha.dll,beta.dll,beta_gone' && (await column(page, 1)).join() === 'beta.dll', (await shownNames(page)).join());
  await page.fill('#search', '_gone');
  check('deps: the search finds a function name', (await shownNames(page)).slice(1).join() === 'alpha.dll,beta.dll,deep_gone.dll,beta_gone');
  await page.fill('#search', '');
  await header(page, 'Module').locator('button').click();
  check('deps: a click on a header sorts up', await header(page, 'Module').getAttribute('aria-sort') === 'ascending' &&
        (await column(page, 1)).join() === 'alpha.dll,beta.dll,cut.dll,deep_gone.dll,gone.dll,kernel32.dll');
  await header(page, 'Module').locator('button').click();
  check('deps: a second click sorts down', (await column(page, 1))[0] === 'kernel32.dll');
  await legendHolds(page, 'deps');
}

// Every badge drawn (with the tree opened whole) is explained in the legend.
async function legendHolds(page, name) {
  await page.click('#open-all');
  const missing = await page.$$eval('main .badge', (badges) => badges.map((b) => b.dataset.legend)
    .filter((key) => !document.querySelector(`#legend dt[data-legend="${key}"] + dd`)?.textContent));
  check(`${name}: every badge has its legend`, missing.length === 0, missing.join());
}

// A field the page does not know yet is a badge of its own, with a legend.
async function extra(page) {
  const badge = page.locator('#tree-view [data-legend="field:windows_since"]');
  const spelled = await texts(page, '#legend [data-legend^="field:"] .badge');
  check('extra: a field new to the page is shown as a badge, lists and records bounded', await badge.first().textContent() ===
        'windows since: 7' && spelled.join('|') === 'windows since: 7|nested: a b c \u2026|files: x, y, z, +1 more', spelled.join('|'));
  check('extra: a program without a system folder says so', (await page.textContent('#tree-view li.root')).includes(
        'no system foldernote: /nowhere does not exist: every DLL of Windows is missing below'));
  await legendHolds(page, 'extra');
}

async function show(page) {
  await page.setViewportSize({width: 1400, height: 900});
  check('show: a process is drawn under its parent, with threads and priority', /1 system\.exe,2 explorer\.exe,(3 [^,]*,)?3 app\.exe/.test(
        await levels(page)) && /3 threads.*priority/.test(await row(page, 'app.exe').textContent()));
  const cut = await page.$$eval('#table-view :is(th, td)', (cells) => cells.filter((cell) => cell.scrollWidth > cell.clientWidth + 1 ||
    cell.getBoundingClientRect().right > cell.closest('.scroll-box').getBoundingClientRect().right + 1).map((cell) => cell.textContent));
  const dates = await page.$$eval('#table-view td:nth-child(6)', (cells) => cells.map((cell) => {
    const range = document.createRange();
    range.selectNodeContents(cell);
    return new Set([...range.getClientRects()].map((rect) => Math.round(rect.top))).size + ' ' + cell.textContent;
  }));
  check('show: at 1,400 px no column is cut and dates stay on one line', cut.length === 0 && dates.length === 11 &&
        dates.every((date) => /^1 \d{4}-\d\d-\d\d \d\d:\d\d$/.test(date)), cut.join('|') + ' ' + dates.join('|'));
  check('show: sizes have thousands separators and long paths wrap', (await column(page, 4)).includes('1,234,567,890') &&
        await page.locator('#table-view td:has(.path:text-matches("deep.dll$"))').evaluate((cell) => cell.offsetHeight > 60));
  await row(page, 'explorer.exe').locator('.toggle').click();
  check('show: closing a process hides its children', !(await levels(page)).includes('app.exe'), await levels(page));
  await row(page, 'explorer.exe').locator('.toggle').click();
  await page.click('#tree-view .pick:has(.name:text-is("app.exe"))');
  check('show: choosing a process lists its modules', (await column(page, 1)).join() === '12,12,12,12,12');
  await page.click('#tree-view .pick:has(.name:text-is("All processes"))');
  await page.fill('#search', 'app\\shell');
  check('show: the search filters by path', (await column(page, 3)).join() === 'shell32.dll');
  await page.fill('#search', '');
  await header(page, 'Size').locator('button').click();
  const sizes = (await column(page, 4)).map((size) => Number(size.replaceAll(',', '')));
  check('show: sorting by size orders numbers', sizes.length === 11 && sizes.every((size, i) => i === 0 || sizes[i - 1] <= size), sizes.join());
  await page.click('#by-module');
  await page.fill('#search', 'KERNEL32.dll');
  const holders = page.locator('#modules-view tbody td:nth-child(3)');
  await holders.locator('button.more').click();
  check('show: the modules view names every process that loads kernel32.dll', await page.locator('#table-view').isHidden() &&
        (await texts(page, '#modules-view tbody td:nth-child(1)')).join() === 'kernel32.dll' &&
        /^system\.exe \(4\), explorer\.exe \(8\), app\.exe \(12\), .*\(13\)$/.test(await holders.textContent()), await holders.textContent());
  await holders.locator('button:text-is("explorer.exe (8)")').click();
  check('show: a process there opens its modules in the processes view', (await column(page, 1)).join() === '8' &&
        await page.textContent('#table-view h2') === 'Modules of explorer.exe (process 8)');
}

async function holders(page) {
  await page.click('#by-module');
  const cell = page.locator('#modules-view tbody td:nth-child(3)');
  const before = await cell.locator('.pick').count() + ' ' + await cell.locator('.more').textContent();
  await cell.locator('.more').click();
  check('holders: a list of 2,000 shows 3, then 500 more a click', before === '3 +1,997 more' &&
        await cell.locator('.pick').count() === 503 && await cell.locator('.more').textContent() === '+1,497 more', before);
}

async function diff(page) {
  check('diff: the counts head the page', await page.textContent('#counts') ===
        '1 started, 1 ended, 1 changed; 2 modules loaded, 2 unloaded, 1 changed');
  const group = page.locator('#changed li.group:has(.name:text-is("app.exe"))');
  const rows = () => group.locator('tbody tr').evaluateAll((trs) => trs.map((tr) => [...tr.cells].slice(0, 4).map((td) => td.textContent).join(' ')));
  check('diff: a process groups its loaded, unloaded and changed modules', (await rows()).join('|') ===
        '+ loaded new.dll 10 1.0|\u2212 unloaded old.dll 10 1.0|~ changed a.dll 10 \u2192 12 1.0 \u2192 1.1', (await rows()).join('|'));
  await group.locator('.toggle').click();
  check('diff: a group closes', !(await group.locator('table').isVisible()));
  await page.fill('#search', 'new');
  check('diff: the search filters processes and modules', (await rows()).length === 1 &&
        (await texts(page, '#started .name')).join() === 'new.exe' && await page.textContent('#ended .empty') === 'Nothing matches.');
}

async function crowd(page) {
  check('crowd: a process of 150,000 children is drawn closed', await page.textContent('#counts') ===
        '150001 processes, 0 modules' && await item(page, 'parent.exe').getAttribute('aria-expanded') === 'false');
  // Milliseconds from the act until the page shows `selector` inside the tree's box.
  const seen = async (act, selector) => {
    const start = performance.now();
    await act();
    await page.waitForFunction((selector) => {
      const box = document.querySelector('#tree-view .scroll-box').getBoundingClientRect();
      const node = document.querySelector(selector)?.getBoundingClientRect();
      return node !== undefined && node.top >= box.top && node.bottom <= box.bottom;
    }, selector);
    return Math.round(performance.now() - start);
  };
  const first = '#tree-view [aria-level="2"][aria-posinset="1"]';
  const last = '#tree-view [aria-level="2"][aria-posinset="150000"][aria-setsize="150000"]';
  const open = await seen(() => item(page, 'parent.exe').locator('.toggle').click(), first);
  const made = await page.locator('#tree-view [role=treeitem]').count();
  check(`crowd: a click opens the branch, its first child seen in ${open} ms, ${made} rows made`, open < 1000 && made < 300);
  const active = () => page.$eval('#tree-view [role=tree]', (tree) => document.getElementById(tree.getAttribute('aria-activedescendant')).querySelector('.badge').textContent);
  await seen(() => page.keyboard.press('End'), '#tree-view .active');
  const end = await active();
  await seen(() => page.keyboard.press('ArrowLeft'), '#tree-view .active');
  check('crowd: End shows the last child and ArrowLeft its parent', end === 'pid 600004' && await active() === 'pid 4', end);
  const scroll = await seen(() => page.$eval('#tree-view .scroll-box', (box) => { box.scrollTop = box.scrollHeight; }), last);
  check(`crowd: scrolled to the end, the last child seen in ${scroll} ms`, scroll < 1000 && await page.textContent(last + ' .badge') === 'pid 600004');
  const filter = await seen(() => page.fill('#search', '600004'), '#tree-view [aria-level="2"][aria-setsize="1"]');
  check(`crowd: a search for its pid keeps the last child, seen in ${filter} ms`, filter < 1000 &&
        (await levels(page)) === '1 All processes,1 parent.exe,2 child.exe', await levels(page));
}

async function hostile(page) {
  await page.click('#open-all');
  const shown = await texts(page, '#tree-view .name');
  check('hostile: names holding markup are shown as text', ["<script>window.korvexInjected='script'</script>.dll",
        '"><img src=x onerror="window.korvexInjected=\'image\'">', "</script><script>window.korvexInjected='closed'</script>"]
        .every((name) => shown.includes(name)), shown.join(' '));
}

const browser = await launchChromium().catch((error) =>
  stop(`Chromium could not be started (${error.message}): run scripts/install-deps test`));
try {
  // deps.html with a field added to a module, as a later korvex may write.
  const page = fs.readFileSync(path.join(folder, 'deps.html'), 'utf8');
  fs.writeFileSync(path.join(folder, 'extra.html'), page.replace('"not_windows":false,', '"not_windows":false,"windows_since":"7",' +
      '"nested":{"a":{"b":{"c":{"d":1}}}},"files":["x","y","z","w"],')
    .replace('"no_system_folder":null', '"no_system_folder":"/nowhere does not exist"'));
  for (const [name, checks] of Object.entries({deps, extra, show, crowd, holders, diff, hostile})) await withPage(browser.context, name, checks);
} catch (error) {
  check('the checks ran to the end', false, error.stack);
} finally {
  await browser.close();
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
