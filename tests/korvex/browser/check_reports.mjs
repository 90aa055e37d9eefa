// Opens each kind of --html page in Debian's headless Chromium and uses it as
// a reader would: the tree draws, opens and closes, the search filters,
// missing modules stand out, columns sort, and nothing is fetched or run that
// the page did not bring. The pages are made first by make_reports.cpp.
//   node check_reports.mjs MAKE_REPORTS FOLDER
import {spawnSync} from 'node:child_process';
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
  check('deps: the tree draws the program and its imports', (await shownNames(page)).join() ===
        [path.join(folder, 'app', 'app.exe'), 'alpha.dll', 'gone.dll'].join(), (await shownNames(page)).join());
  check('deps: a missing module is highlighted', await row(page, 'gone.dll').evaluate((node) =>
        node.parentElement.classList.contains('missing') && getComputedStyle(node).backgroundColor === 'rgb(253, 232, 231)'));
  check('deps: missing modules and functions come first, with their importers',
        (await texts(page, '.problems tr.missing')).join('|') === 'gone.dllapp.exe|beta_gonebeta.dllalpha.dll');
  const toggle = row(page, 'alpha.dll').locator('.toggle');
  const beta = page.locator('#tree-view .name:text-is("beta.dll")');
  await toggle.click();
  check('deps: a click opens a module', await beta.isVisible() && await item(page, 'alpha.dll').getAttribute('aria-expanded') === 'true');
  await toggle.click();
  check('deps: a second click closes it', !(await beta.isVisible()));
  await page.fill('#search', 'BETA');
  check('deps: the search filters the tree and the table', (await shownNames(page)).slice(1).join() ===
        'alpha.dll,beta.dll,beta_gone' && (await column(page, 1)).join() === 'beta.dll', (await shownNames(page)).join());
  await page.fill('#search', '_gone');
  check('deps: the search finds a function name', (await shownNames(page)).slice(1).join() === 'alpha.dll,beta.dll,beta_gone');
  await page.fill('#search', '');
  await header(page, 'Module').locator('button').click();
  check('deps: a click on a header sorts up', await header(page, 'Module').getAttribute('aria-sort') === 'ascending' &&
        (await column(page, 1)).join() === 'alpha.dll,beta.dll,gone.dll');
  await header(page, 'Module').locator('button').click();
  check('deps: a second click sorts down', (await column(page, 1)).join() === 'gone.dll,beta.dll,alpha.dll');
}

async function show(page) {
  check('show: a process is drawn under its parent, with threads and priority', (await levels(page)).includes(
        '1 system.exe,2 explorer.exe,3 app.exe') && /3 threads.*priority/.test(await row(page, 'app.exe').textContent()));
  await row(page, 'explorer.exe').locator('.toggle').click();
  check('show: closing a process hides its children', !(await levels(page)).includes('app.exe'), await levels(page));
  await row(page, 'explorer.exe').locator('.toggle').click();
  await page.click('#tree-view .pick:has(.name:text-is("app.exe"))');
  check('show: choosing a process lists its modules', (await column(page, 1)).join() === '12,12,12');
  await page.click('#tree-view .pick:has(.name:text-is("All processes"))');
  await page.fill('#search', 'app\\shell');
  check('show: the search filters by path', (await column(page, 3)).join() === 'shell32.dll');
  await page.fill('#search', '');
  await header(page, 'Size').locator('button').click();
  const sizes = (await column(page, 4)).map(Number);
  check('show: sorting by size orders numbers', sizes.length === 6 && sizes.every((size, i) => i === 0 || sizes[i - 1] <= size), sizes.join());
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
  for (const [name, checks] of Object.entries({deps, show, crowd, diff, hostile})) await withPage(browser.context, name, checks);
} catch (error) {
  check('the checks ran to the end', false, error.stack);
} finally {
  await browser.close();
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
