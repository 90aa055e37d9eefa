// Debian's Chromium, headless, with a profile of its own that close()
// removes; driven by playwright-core from this folder's node_modules
// (scripts/install-deps test), which downloads no browser of its own.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export async function launchChromium() {
  const {chromium} = await import('playwright-core');
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'korvex-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync']});
  return {context, close: async () => { await context.close(); fs.rmSync(profile, {recursive: true, force: true}); }};
}
