// The web build in headless Chromium: serves build/web on 127.0.0.1, loads the
// page at 640 x 480, keeps the canvas of chosen frames as PNG files, times the
// program's own work for each frame, saves a screenshot, then holds Escape
// through the browser's input events and checks that the program ended with
// code 0 and left nothing running.
// usage: node web_browser.mjs WEB_DIR OUT_DIR FRAME...
import { createServer } from 'node:http';
import { readFile, writeFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';
import { chromium } from 'playwright-core';

const [webDir, outDir, ...frameArgs] = process.argv.slice(2);
const wanted = frameArgs.map(Number);
const timedFrames = 600;
const fail = message => { console.error(`web_browser: FAIL: ${message}`); process.exit(1); };

const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
const server = createServer(async (request, response) => {
  const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname)).replace(/^(\.\.[/\\])+/, '');
  try {
    const body = await readFile(join(webDir, path === '/' ? 'index.html' : path));
    response.writeHead(200, { 'Content-Type': types[extname(path)] || 'application/octet-stream' });
    response.end(body);
  } catch {
    response.writeHead(404).end();
  }
});
await new Promise(resolve => server.listen(0, '127.0.0.1', resolve));

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  const page = await browser.newPage({ viewport: { width: 640, height: 480 } });
  const errors = [];
  page.on('pageerror', error => errors.push(String(error)));
  // Before the page's own scripts: count what could keep running after the
  // end, and keep the chosen frames and every frame's cost.
  await page.addInitScript(wantedFrames => {
    const seen = window.seen = { raf: 0, timers: 0, frames: 0, costs: [], kept: {} };
    const raf = window.requestAnimationFrame.bind(window);
    window.requestAnimationFrame = callback => { seen.raf++; return raf(callback); };
    const timeout = window.setTimeout.bind(window), interval = window.setInterval.bind(window);
    window.setTimeout = (...args) => { seen.timers++; return timeout(...args); };
    window.setInterval = (...args) => { seen.timers++; return interval(...args); };
    document.addEventListener('DOMContentLoaded', () => {
      const canvas = document.getElementById('screen');
      canvas.addEventListener('frame', event => {
        seen.frames = event.detail.frame;
        if (event.detail.frame > 1) seen.costs.push([event.detail.drawMs, event.detail.presentMs]);
        if (wantedFrames.includes(event.detail.frame)) seen.kept[event.detail.frame] = canvas.toDataURL('image/png');
      });
    });
  }, wanted);

  const { port } = server.address();
  await page.goto(`http://127.0.0.1:${port}/index.html`);
  const enough = Math.max(timedFrames + 2, ...wanted);
  await page.waitForFunction(n => window.seen.frames >= n, enough, { timeout: 120000, polling: 200 })
    .catch(async () => fail(`fewer than ${enough} frames in 120 s (${await page.evaluate(() => window.seen.frames)}): ${errors}`));

  // Running: the canvas fills the 640 x 480 page exactly, nothing over it.
  const layout = await page.evaluate(() => {
    const r = document.getElementById('screen').getBoundingClientRect();
    const top = document.elementFromPoint(320, 240);
    return { rect: [r.left, r.top, r.width, r.height].join(','), top: top && top.id, title: document.title };
  });
  if (layout.rect !== '0,0,640,480') fail(`canvas at ${layout.rect}, expected 0,0,640,480`);
  if (layout.top !== 'screen') fail(`"${layout.top}" covers the canvas while running`);
  await page.screenshot({ path: join(outDir, 'browser.png') });

  // A page without the focus is not in the foreground: its keys do not reach
  // the program (the page's focus is stubbed: headless Chromium keeps it).
  await page.evaluate(() => { document.hasFocus = () => false; });
  await page.waitForTimeout(200);
  await page.keyboard.down('Escape');
  await page.waitForTimeout(500);
  await page.keyboard.up('Escape');
  await page.evaluate(() => { delete document.hasFocus; });
  await page.waitForTimeout(200);
  if (/exit code/.test(await page.title())) fail('Escape reached the program while the page had no focus');

  // Escape held through the browser's own key events, until the program ends.
  await page.keyboard.down('Escape');
  await page.waitForFunction(() => /exit code/.test(document.title), null, { timeout: 10000 })
    .catch(async () => fail(`Escape did not end the program: title "${await page.title()}" ${errors}`));
  await page.keyboard.up('Escape');
  const title = await page.title();
  if (title !== 'ringscroller: exit code 0') fail(`title "${title}", expected "ringscroller: exit code 0"`);
  const shown = await page.evaluate(() => document.body.innerText);
  if (!shown.includes('exit code 0')) fail(`the page does not show the exit code: "${shown}"`);
  const before = await page.evaluate(() => ({ ...window.seen, costs: 0, kept: 0 }));
  await page.waitForTimeout(500);
  const after = await page.evaluate(() => ({ ...window.seen, costs: 0, kept: 0 }));
  if (JSON.stringify(before) !== JSON.stringify(after))
    fail(`still running after the end: ${JSON.stringify(before)} then ${JSON.stringify(after)}`);
  if (errors.length) fail(`page errors: ${errors.join('; ')}`);

  const seen = await page.evaluate(() => window.seen);
  for (const n of wanted) {
    if (!seen.kept[n]) fail(`frame ${n} was not kept`);
    await writeFile(join(outDir, `web-${n}.png`), Buffer.from(seen.kept[n].split(',')[1], 'base64'));
  }
  const median = column => {
    const sorted = seen.costs.map(cost => cost[column]).sort((a, b) => a - b);
    return sorted[Math.floor(sorted.length / 2)].toFixed(3);
  };
  if (seen.costs.length < timedFrames) fail(`only ${seen.costs.length} frames timed`);
  console.log(`web_browser: median frame cost over ${seen.costs.length} frames: ${median(0)} ms drawing, ` +
              `${median(1)} ms presenting`);
} finally {
  await browser.close();
  server.close();
}
