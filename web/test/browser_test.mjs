// Drives the page in headless Chromium (Debian's) from a local static
// server: feeds it images, and checks its verdicts, report, map and
// downloads against what d88info and volspar print and write. Usage:
//   node browser_test.mjs BUILD_DIR WEB_DIR SCREENSHOT.png
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const [build, webDir, screenshot] = process.argv.slice(2).map((p) => path.resolve(p));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'd88web-'));
let passed = 0;
let failed = 0;
function check(ok, what) {
  if (ok) ++passed; else { ++failed; console.error('FAILED: ' + what); }
}

// A 2HD image of 77 cylinders, two sides, eight 1024-byte sectors a track:
// 1.2 MB, as such disks hold.
function twoHdImage(file) {
  const trackBytes = 8 * (16 + 1024);
  const size = 688 + 154 * trackBytes;
  const image = Buffer.alloc(size);
  image.write('2HD TEST', 0);
  image[0x1b] = 0x20;
  image.writeInt32LE(size, 0x1c);
  for (let t = 0; t < 154; ++t) {
    const start = 688 + t * trackBytes;
    image.writeInt32LE(start, 0x20 + 4 * t);
    for (let r = 1; r <= 8; ++r) {
      const at = start + (r - 1) * (16 + 1024);
      image[at] = t >> 1; image[at + 1] = t & 1; image[at + 2] = r; image[at + 3] = 3;
      image.writeUInt16LE(8, at + 4);
      image.writeUInt16LE(1024, at + 14);
      image.fill(r, at + 16, at + 16 + 1024);
    }
  }
  fs.writeFileSync(file, image);
}

const images = {
  demo: path.join(work, 'demo.d88'),
  damaged: path.join(work, 'damaged.d88'),
  text: path.join(work, 'notes.d88'),
  big: path.join(work, 'big2hd.d88'),
};
fs.copyFileSync(path.join(build, 'demo.d88'), images.demo);
fs.copyFileSync(path.join(build, 'damaged.d88'), images.damaged);
fs.writeFileSync(images.text, 'These are notes, not a disk image.\n'.repeat(40));
twoHdImage(images.big);

// What a command prints on standard output, as bytes; and on error.
function run(name, args, cwd = work) {
  const result = spawnSync(path.join(build, 'bin', name), args, { cwd });
  return { out: result.stdout, err: result.stderr.toString('utf8') };
}
const command = (name, args, cwd) => run(name, args, cwd).out.toString('latin1');

// The static server: the page's own files, and nothing else.
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
let transferred = 0;
const server = http.createServer((request, response) => {
  const name = path.join(webDir, path.normalize(decodeURIComponent(request.url.split('?')[0])));
  const file = name.endsWith('/') ? path.join(name, 'index.html') : name;
  if (!file.startsWith(webDir) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    response.writeHead(404).end();
    return;
  }
  const body = fs.readFileSync(file);
  transferred += body.length;
  response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
  response.end(body);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const origin = 'http://127.0.0.1:' + server.address().port;

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
});
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 900 });
  const requests = [];
  page.on('request', (request) => requests.push(request.url()));
  const client = await page.createCDPSession();
  await client.send('Browser.setDownloadBehavior', { behavior: 'deny' }).catch(() => {});

  const start = Date.now();
  await page.goto(origin + '/', { waitUntil: 'load' });
  await page.waitForSelector('body[data-ready]', { timeout: 30000 });
  const readyMs = Date.now() - start;
  const input = await page.$('input[type=file]');
  check((await page.$$('input[type=file]')).length === 1, 'one file input');

  // Feeds `files` and waits until the page shows `count` results in all.
  async function feed(files, count) {
    const begun = Date.now();
    await input.uploadFile(...files);
    await page.waitForFunction((n) => document.querySelectorAll('[data-image]').length === n,
                               { timeout: 30000 }, count);
    return Date.now() - begun;
  }
  const demoMs = await feed([images.demo], 1);
  const bigMs = await feed([images.big], 2);
  const times = await page.$eval('#status', (s) => s.textContent);
  await feed([images.damaged, images.text], 4);

  // Verdicts and reports, as d88info gives them.
  for (const [key, file] of Object.entries(images)) {
    const name = path.basename(file);
    const result = await page.$eval(`[data-image="${name}"]`, (section) => ({
      verdict: section.getAttribute('data-verdict'),
      report: section.querySelector('pre') ? section.querySelector('pre').textContent : null,
      cells: section.querySelectorAll('svg g > title').length,
      svg: section.querySelectorAll('svg').length,
    }));
    const summary = command('d88info', ['-s', name]);
    const words = summary.slice(summary.indexOf(': ') + 2).trim().replace(/^\d+ disks?, /, '');
    check(result.verdict === words, `${key}: verdict ${result.verdict} is d88info's ${words}`);
    if (key === 'text') {
      check(result.report === null && result.svg === 0, 'not an image: no report, no map');
      continue;
    }
    check(Buffer.from(result.report, 'utf8').equals(
              Buffer.from(command('d88info', [name]), 'latin1')),
          `${key}: the report is d88info's`);
    command('d88info', ['-s', '--map', 'map.svg', name]);
    const svg = fs.readFileSync(path.join(work, 'map.svg'), 'utf8');
    check(result.svg === 1 && result.cells === svg.split('<g><title>').length - 1,
          `${key}: the map has d88info's ${svg.split('<g><title>').length - 1} cells (${result.cells})`);
  }
  const errorText = await page.$eval('[data-image="notes.d88"] .error', (e) => e.textContent);
  check(errorText === run('d88info', ['notes.d88']).err,
        'the message for a file that is not an image is d88info\'s: ' + errorText);

  // Downloads: the seven files and the .zip, as volspar writes them.
  const extracted = path.join(work, 'extracted');
  fs.mkdirSync(extracted);
  command('volspar', [images.damaged], extracted);
  await page.click('[data-image="damaged.d88"] button');
  await page.waitForFunction(() =>
    document.querySelectorAll('[data-image="damaged.d88"] a[download]').length === 8);
  const links = await page.$$eval('[data-image="damaged.d88"] a[download]', (anchors) =>
    Promise.all(anchors.map(async (a) => ({
      name: a.getAttribute('download'),
      href: a.href,
      bytes: Array.from(new Uint8Array(await (await fetch(a.href)).arrayBuffer())),
    }))));
  const zipped = {};
  for (const link of links) {
    check(link.href.startsWith('blob:'), link.name + ' is a blob: URL');
    const bytes = Buffer.from(link.bytes);
    if (link.name.endsWith('.zip')) {
      // Stored entries: local header, name, data.
      for (let at = 0; bytes.readUInt32LE(at) === 0x04034b50;) {
        const size = bytes.readUInt32LE(at + 18);
        const nameLength = bytes.readUInt16LE(at + 26);
        const entry = bytes.toString('latin1', at + 30, at + 30 + nameLength);
        zipped[entry] = bytes.subarray(at + 30 + nameLength, at + 30 + nameLength + size);
        at += 30 + nameLength + size;
      }
      continue;
    }
    check(bytes.equals(fs.readFileSync(path.join(extracted, link.name))),
          link.name + ' is volspar\'s');
  }
  for (let row = 1; row <= 7; ++row) {
    const name = `TRV0${row}.BIN`;
    check(zipped[name] && zipped[name].equals(fs.readFileSync(path.join(extracted, name))),
          `the .zip's ${name} is volspar's`);
  }

  check(requests.every((url) => url.startsWith(origin + '/') || url.startsWith('blob:') ||
                                url.startsWith('data:')),
        'no request left for anything but the page: ' +
        requests.filter((url) => !url.startsWith(origin)).join(' '));
  if (screenshot) {
    await page.evaluate(() => document.querySelector('[data-image="damaged.d88"]').scrollIntoView());
    await page.screenshot({ path: screenshot });
  }
  console.log(`page ready in ${readyMs} ms; demo image analysed in ${demoMs} ms, ` +
              `1.2 MB 2HD image in ${bigMs} ms (the page: ${times}); page transfer ${transferred} bytes`);
} finally {
  await browser.close();
  server.close();
  fs.rmSync(work, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
