// Drives the page in headless Chromium (Debian's) from a local static
// server: feeds it images, edited files, dumps to merge and raw dumps, and
// checks what it shows and offers against what d88info, volspar, volpack,
// d88merge and d88conv print and write. Usage:
//   node browser_test.mjs [BUILD_DIR [PAGE_DIR [SCREENSHOT.png]]]
// BUILD_DIR holds bin/d88info, bin/volspar, bin/volpack, bin/d88merge,
// bin/d88conv and demo.d88 (default: D88_BUILD_DIR, else build/); PAGE_DIR the page (default:
// D88_PAGE_DIR, else build-web/page/). Missing defaults are built first.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const root = fileURLToPath(new URL('../..', import.meta.url));
let work = null;
let browser = null;

// Whatever way the test ends, its folder goes, the browser's profile with it.
function removeWork() {
  if (browser && browser.process() && browser.process().exitCode === null) {
    browser.process().kill('SIGKILL');
  }
  if (work) fs.rmSync(work, { recursive: true, force: true, maxRetries: 5 });
  work = null;
}
let stopping = false;
process.on('exit', removeWork);
// Once stopped, what the closing browser breaks off is no failure to tell.
process.on('uncaughtException', (error) => {
  if (stopping) return;
  console.error(error);
  process.exit(1);
});
for (const [signal, code] of [['SIGINT', 130], ['SIGTERM', 143], ['SIGHUP', 129]]) {
  process.on(signal, async () => {
    if (stopping) return;
    stopping = true;
    console.error(`\n${signal}: stopping`);
    if (browser) {
      await Promise.race([browser.close().catch(() => {}),
                          new Promise((resolve) => setTimeout(resolve, 3000))]);
    }
    process.exit(code);
  });
}

// `dir` with `files` in it: if some are missing, a folder given is an
// error, a default one is built by `commands`.
function ensure(dir, files, given, what, commands) {
  const missing = files.filter((file) => !fs.existsSync(path.join(dir, file)));
  if (missing.length === 0) return;
  if (given) {
    console.error(`${dir} lacks ${missing.join(', ')}: build it first (see the README)`);
    process.exit(2);
  }
  console.log(`building ${what}: ${commands.map((c) => c.join(' ')).join(' && ')}`);
  for (const command of commands) {
    const result = spawnSync(command[0], command.slice(1), {
      cwd: root, stdio: 'inherit', env: { NODE_PATH: '/usr/share/nodejs', ...process.env },
    });
    if (result.status !== 0) process.exit(2);
  }
}

// The commands' build and the page's: as given, or found, or built.
function locate() {
  const [buildArg, pageArg, shotArg] = process.argv.slice(2);
  const buildGiven = buildArg || process.env.D88_BUILD_DIR;
  const pageGiven = pageArg || process.env.D88_PAGE_DIR;
  const buildDir = path.resolve(buildGiven || path.join(root, 'build'));
  const pageDir = path.resolve(pageGiven || path.join(root, 'build-web', 'page'));
  const tools = ['bin/d88info', 'bin/volspar', 'bin/volpack', 'bin/d88merge', 'bin/d88conv',
                 'demo.d88', 'damaged.d88'];
  ensure(buildDir, tools, buildGiven, 'the commands', [
    ['cmake', '-S', '.', '-B', buildDir],
    ['cmake', '--build', buildDir, '-j', '2', '--target', 'd88info', 'volspar', 'volpack',
     'd88merge', 'd88conv', 'demo_image']]);
  ensure(pageDir, ['index.html', 'page.js', 'd88web.js', 'd88web.wasm'], pageGiven, 'the page',
         [['cmake', '--preset', 'web'], ['cmake', '--build', '--preset', 'web']]);
  return { buildDir, pageDir, screenshot: shotArg ? path.resolve(shotArg) : null };
}

const { buildDir, pageDir, screenshot } = locate();
work = fs.mkdtempSync(path.join(os.tmpdir(), 'd88web-'));
let passed = 0;
let failed = 0;
function check(ok, what) {
  if (ok) ++passed; else { ++failed; console.error('FAILED: ' + what); }
}

// A formatted disk of `cylinders` × `sides` tracks of `sectors` sectors of
// 128 << `n` bytes; every sector filled with its number.
function plainImage(file, { name, media, cylinders, sides, sectors, n }) {
  const size = 128 << n;
  const trackBytes = sectors * (16 + size);
  const total = 688 + cylinders * sides * trackBytes;
  const image = Buffer.alloc(total);
  name.copy(image, 0);
  image[0x1b] = media;
  image.writeInt32LE(total, 0x1c);
  for (let t = 0; t < cylinders * sides; ++t) {
    const start = 688 + t * trackBytes;
    image.writeInt32LE(start, 0x20 + 4 * t);
    for (let r = 1; r <= sectors; ++r) {
      const at = start + (r - 1) * (16 + size);
      image[at] = Math.floor(t / sides); image[at + 1] = t % sides; image[at + 2] = r;
      image[at + 3] = n;
      image.writeUInt16LE(sectors, at + 4);
      image.writeUInt16LE(size, at + 14);
      image.fill(r, at + 16, at + 16 + size);
    }
  }
  fs.writeFileSync(file, image);
}

// Each record of a one-disk image: where it starts, its ID, its data's size.
function records(image) {
  const list = [];
  for (let t = 0; t < 164; ++t) {
    let at = image.readUInt32LE(0x20 + 4 * t);
    const count = at ? image.readUInt16LE(at + 4) : 0;
    for (let i = 0; i < count; ++i) {
      const size = image.readUInt16LE(at + 14);
      list.push({ at, c: image[at], h: image[at + 1], r: image[at + 2], size });
      at += 16 + size;
    }
  }
  return list;
}

// Each name of `names` as a path in the work folder.
const inWork = (names) => Object.fromEntries(Object.entries(names).map(
  ([key, name]) => [key, path.join(work, name)]));
const images = inWork({
  demo: 'demo.d88', damaged: 'damaged.d88', text: 'notes.d88',
  // 1.2 MB, as 2HD disks hold.
  big: 'big2hd.d88',
  // Sound, but not a disk volspar reads; its name is Shift_JIS.
  small: 'sectors256.d88',
  // demo.d88's disk, then damaged.d88's: read errors on disk 1.
  two: 'two.d88',
});
fs.copyFileSync(path.join(buildDir, 'demo.d88'), images.demo);
fs.copyFileSync(path.join(buildDir, 'damaged.d88'), images.damaged);
const demo = fs.readFileSync(images.demo);
fs.writeFileSync(images.text, 'These are notes, not a disk image.\n'.repeat(40));
plainImage(images.big, { name: Buffer.from('2HD TEST'), media: 0x20, cylinders: 77, sides: 2,
                         sectors: 8, n: 3 });
plainImage(images.small, { name: Buffer.from([0xC3, 0xBD, 0xC4, 0x20, 0x93, 0xFA, 0x96, 0x7B]),
                           media: 0x00, cylinders: 40, sides: 2, sectors: 16, n: 1 });
fs.writeFileSync(images.two, Buffer.concat([demo, fs.readFileSync(images.damaged)]));

// Dumps of the demonstration disk, each with a read error (status 0xB0)
// where the other has none (the first also under the name the second's
// merged image takes); and a disk of the same shape with other data.
const dumps = inWork({ monday: 'monday.d88', tuesday: 'tuesday.d88', other: 'other.d88',
                       asMerged: 'tuesday-merged.d88' });
for (const [key, k] of [['monday', 20], ['tuesday', 300]]) {
  const dump = Buffer.from(demo);
  dump[records(demo)[k].at + 8] = 0xB0;
  fs.writeFileSync(dumps[key], dump);
}
fs.copyFileSync(dumps.monday, dumps.asMerged);
plainImage(dumps.other, { name: Buffer.from('OTHER'), media: 0x00, cylinders: 40, sides: 2,
                          sectors: 9, n: 2 });

// Raw sector dumps: the demonstration disk's sectors in cylinder, side and
// sector order; and a size that fits two layouts, in a file without an
// extension.
const raws = inWork({ disk: 'disk.img', floppy: 'floppy' });
{
  const byId = new Map(records(demo).map((record) => [
    `${record.c}/${record.h}/${record.r}`, demo.subarray(record.at + 16, record.at + 16 + record.size)]));
  const sectors = [];
  for (let c = 0; c < 40; ++c) {
    for (let h = 0; h < 2; ++h) {
      for (let r = 1; r <= 9; ++r) sectors.push(byId.get(`${c}/${h}/${r}`));
    }
  }
  fs.writeFileSync(raws.disk, Buffer.concat(sectors));
  fs.writeFileSync(raws.floppy, Buffer.alloc(327680, 0xE5));
}

// What a command prints, as text, and its status.
function run(name, args, cwd = work) {
  const result = spawnSync(path.join(buildDir, 'bin', name), args, { cwd });
  return { out: result.stdout.toString('utf8'), err: result.stderr.toString('utf8'),
           status: result.status };
}
const command = (name, args, cwd) => run(name, args, cwd).out;
const jsonOf = (name, cwd) => JSON.parse(command('d88info', ['--json', name], cwd)).images[0];
const verdictOf = (name, cwd) => jsonOf(name, cwd).verdict.join(', ');
const lineOf = (name, cwd) => command('d88info', ['-s', name], cwd).trim();
const sameBytes = (bytes, ...file) => Buffer.from(bytes).equals(fs.readFileSync(path.join(...file)));
// volspar's files from `image`, in a new folder `dir` of the work folder.
function extract(image, dir) {
  const where = path.join(work, dir);
  fs.mkdirSync(where);
  command('volspar', [image], where);
  return where;
}

// The static server: the page's own files, and nothing else.
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
let transferred = 0;
const server = http.createServer((request, response) => {
  const name = path.join(pageDir, path.normalize(decodeURIComponent(request.url.split('?')[0])));
  const file = name.endsWith('/') ? path.join(name, 'index.html') : name;
  if (!file.startsWith(pageDir) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
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

browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  userDataDir: path.join(work, 'profile'),
  handleSIGINT: false, handleSIGTERM: false, handleSIGHUP: false,
  env: { ...process.env, TMPDIR: work },
  args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
});
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
check((await page.$$('input[type=file]:not([data-input])')).length === 1, 'one input for images');
const input = await page.$('input[type=file]:not([data-input])');
const section = (name) => `section[data-image="${name}"]`;
const textOf = (selector) => page.$eval(selector, (node) => node.textContent);
// Each download that `selector` finds: its name, its URL and its bytes.
const downloads = (selector) => page.$$eval(selector, (anchors) => Promise.all(anchors.map(
  async (a) => ({ name: a.getAttribute('download'), href: a.href,
                  bytes: Array.from(new Uint8Array(await (await fetch(a.href)).arrayBuffer())) }))));

// Feeds `files` and waits until the page is done with them. Says when
// they were chosen, when the first one's verdict was on the page, and
// whether its map and its downloads were there then (ms, page clock).
async function feed(...files) {
  await page.evaluate((name) => {
    const timing = window.timing = {};
    document.addEventListener('change', () => { timing.chosen = performance.now(); },
                              { capture: true, once: true });
    const results = document.getElementById('results');
    const observer = new MutationObserver(() => {
      const found = document.querySelector(`section[data-image="${name}"][data-verdict]`);
      if (!found) return;
      timing.verdict = performance.now();
      timing.map = found.querySelector('svg') !== null;
      timing.links = found.querySelectorAll('a[download]').length;
      observer.disconnect();
    });
    observer.observe(results, { childList: true, subtree: true });
  }, path.basename(files[0]));
  await input.uploadFile(...files);
  await page.waitForFunction(() => window.timing.chosen &&
    document.getElementById('results').getAttribute('aria-busy') === 'false', { timeout: 30000 });
  return page.evaluate(() => window.timing);
}

// What a section shows (the first of that name within `scope`).
async function shown(name, scope = 'body') {
  return page.$eval(`${scope} ${section(name)}`, (node) => ({
    verdict: node.getAttribute('data-verdict'),
    health: node.getAttribute('data-health'),
    volspar: node.getAttribute('data-volspar'),
    line: node.querySelector('.line')?.textContent ?? null,
    report: node.querySelector('pre.report')?.textContent ?? null,
    cells: node.querySelectorAll('svg g > title').length,
    svg: node.querySelectorAll('svg').length,
    files: Array.from(node.querySelectorAll('table.files tbody tr'), (row) => ({
      link: row.querySelector('a[download]')?.getAttribute('download') ?? null,
      text: row.cells[0].textContent, bytes: row.cells[1].textContent,
    })),
    zip: node.querySelector('.zip a')?.textContent ?? null,
    red: Array.from(node.querySelectorAll('.line, dl.verdict *, table.files *'))
      .filter((e) => getComputedStyle(e).color === 'rgb(176, 0, 32)').length,
  }));
}

// The cells of each track row of d88info's map of `name`: the row's label
// and each cell's title.
function mapRows(name, disk) {
  command('d88info', ['-s', '--map', 'map.svg', '--disk', String(disk), name]);
  const svg = fs.readFileSync(path.join(work, 'map.svg'), 'utf8');
  const text = (xml) => xml.replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&quot;/g, '"')
    .replace(/&apos;/g, '\'').replace(/&amp;/g, '&');
  return {
    cells: svg.split('<g><title>').length - 1,
    rows: svg.split('<g stroke="#888888">').slice(1).map((row) => ({
      label: text(/<text[^>]*>(.*?)<\/text>/.exec(row)[1]),
      titles: Array.from(row.matchAll(/<g><title>(.*?)<\/title>/g), (m) => text(m[1])),
    })),
  };
}

// ---- Timing: the first image, then the same image again, a few times ----
const timings = [];
for (let k = 0; k < 5; ++k) timings.push(await feed(images.demo));
for (const timing of timings) {
  check(!timing.map && timing.links === 8,
        `the verdict and the seven files' links come before the map (map ${timing.map}, ` +
        `${timing.links} links)`);
}
const firstMs = timings[0].verdict - timings[0].chosen;
const againMs = timings.slice(1).map((t) => t.verdict - t.chosen).sort((a, b) => a - b)[2];
// Far above what it takes (tens of ms), so that a busy machine passes.
check(againMs < 1000, `the demonstration image's verdict in ${againMs.toFixed(0)} ms`);
// Everything a person needs at first sight is on the first screen.
const lowest = await page.$$eval(`${section('demo.d88')} a[download]`, (links) =>
  Math.max(...links.map((a) => a.getBoundingClientRect().bottom)));
check(lowest <= 900, `the downloads are on the first screen (lowest at ${lowest} px)`);

// ---- One image at a time: the two-part verdict, the files, the report, the map ----
let bigMs = 0;
for (const key of ['demo', 'damaged', 'big', 'small', 'two']) {
  const name = path.basename(images[key]);
  const fed = Date.now();
  await feed(images[key]);
  if (key === 'big') bigMs = Date.now() - fed;
  const result = await shown(name);
  const json = jsonOf(name);
  check(result.verdict === json.verdict.join(', '), `${key}: verdict ${result.verdict}`);
  check(result.health === json.health.state && result.volspar === json.volspar.state,
        `${key}: health ${result.health} and volspar ${result.volspar} are d88info's`);
  check(result.line === lineOf(name), `${key}: the -s line`);
  check(result.report === command('d88info', ['--problems', name]), `${key}: the problems`);
  const map = mapRows(name, 0);
  check(result.svg === 1 && result.cells === map.cells, `${key}: the map has d88info's cells`);
  // Each file: its link, its state beside it, its bytes; the .zip says
  // how many are not complete.
  check(result.files.length === 7 && json.files.every((file, i) =>
    result.files[i].link === file.name && result.files[i].text === file.name + ' ' + file.state &&
    result.files[i].bytes === `${file.bytes_from_image.toLocaleString('en')} of ` +
                              `${file.bytes_needed.toLocaleString('en')}`),
  `${key}: the seven files as d88info sees them: ${JSON.stringify(result.files)}`);
  const notComplete = 7 - json.volspar.complete;
  check(result.zip.endsWith(notComplete ? `, ${notComplete} not complete` : 'all seven files'),
        `${key}: the .zip says ${result.zip}`);
  if (key === 'demo' || key === 'two') {
    await page.click(`${section(name)} input[type=checkbox]`);
    check((await shown(name)).report === command('d88info', [name]),
          `${key}: the full listing is d88info's`);
  }
  if (key === 'small') {
    check(result.health === 'clean' && result.volspar === 'not its disk' && result.red === 0,
          `a sound disk volspar does not read is not shown as a failure (${result.red} red)`);
  }
  if (key === 'two') {
    check(/2 disks, read errors \(2 sectors on disk 1\); volspar: complete$/.test(result.line),
          'two disks: the read errors are on disk 1: ' + result.line);
    await page.select(`${section(name)} select`, '1');
    check((await shown(name)).cells === mapRows(name, 1).cells,
          'two disks: the map of disk 1 is d88info\'s');
  }
}

// ---- The downloads: the seven files and the .zip, as volspar writes them ----
await feed(images.damaged);
const extracted = extract(images.damaged, 'extracted');
const links = await downloads(`${section('damaged.d88')} a[download]`);
check(links.length === 8, `seven files and a .zip: ${links.length} links`);
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
  check(sameBytes(bytes, extracted, link.name), link.name + ' is volspar\'s');
}
for (let row = 1; row <= 7; ++row) {
  const name = `TRV0${row}.BIN`;
  check(zipped[name] && sameBytes(zipped[name], extracted, name), `the .zip's ${name} is volspar's`);
}

// ---- The map by keyboard: Tab into it, then the arrow keys ----
{
  await input.focus();
  let tabs = 0;
  for (; tabs < 80; ++tabs) {
    await page.keyboard.press('Tab');
    if (await page.evaluate(() => document.activeElement.getAttribute('role') === 'gridcell')) break;
  }
  for (const key of ['ArrowDown', 'ArrowDown', 'ArrowRight']) await page.keyboard.press(key);
  const expected = mapRows('damaged.d88', 0).rows[2];
  const want = `${expected.label}: ${expected.titles[1]}`;
  const focused = await page.evaluate(() => ({
    label: document.activeElement.getAttribute('aria-label'),
    tabindex: document.activeElement.getAttribute('tabindex'),
    grid: document.activeElement.closest('[role="grid"]') !== null,
    stops: document.querySelectorAll('[role="grid"] [tabindex="0"]').length,
    shown: document.querySelector('section[data-image="damaged.d88"] .cell').textContent,
  }));
  const snapshot = await page.accessibility.snapshot();
  const find = (node) => node.focused ? node : (node.children || []).map(find).find(Boolean);
  const spoken = find(snapshot);
  check(tabs < 80 && focused.grid && focused.tabindex === '0' && focused.stops === 1,
        `the map is one tab stop (${tabs} tabs, ${focused.stops} stops)`);
  check(focused.label === want && focused.shown === want,
        `a cell's details by keyboard: "${focused.label}", shown "${focused.shown}", want "${want}"`);
  check(spoken && spoken.name === want && spoken.role === 'gridcell',
        'a screen reader hears the cell: ' + JSON.stringify(spoken && { role: spoken.role, name: spoken.name }));
}

// ---- Several images: the table first, each row opening its image ----
{
  await feed(images.demo, images.damaged, images.text);
  const rows = await page.$$eval('table[data-summary] tr[data-image]', (trs) =>
    trs.map((tr) => ({ name: tr.getAttribute('data-image'),
                       cells: Array.from(tr.cells, (cell) => cell.textContent) })));
  const want = [['demo.d88', '1', 'clean', 'complete'],
                ['damaged.d88', '1', 'read errors', 'incomplete, suspect'],
                ['notes.d88', '—', 'not a D88 image']];
  check(JSON.stringify(rows.map((row) => row.cells)) === JSON.stringify(want) &&
        rows.every((row, i) => row.name === want[i][0]),
        'the summary table: ' + JSON.stringify(rows));
  const status = await textOf('#status');
  check(status.startsWith('3 images: 2 done, 1 failed (notes.d88)'), 'the status line: ' + status);
  const closed = await page.$eval(`${section('damaged.d88')} [id^="body-"]`, (body) => body.hidden);
  await page.click('table[data-summary] tr[data-image="damaged.d88"] a');
  const opened = await page.$eval(section('damaged.d88'), (node) => ({
    hidden: node.querySelector('[id^="body-"]').hidden,
    svg: node.querySelectorAll('svg').length,
    focused: node.contains(document.activeElement),
  }));
  check(closed && !opened.hidden && opened.svg === 1 && opened.focused,
        'a row opens its image: ' + JSON.stringify(opened));
  const notes = await page.$eval(section('notes.d88'), (node) => ({
    verdict: node.getAttribute('data-verdict'),
    message: node.querySelector('.error').textContent,
    drawn: node.querySelectorAll('pre, svg, a[download], input').length,
  }));
  check(notes.verdict === 'not a D88 image' && notes.drawn === 0 &&
        notes.message === run('d88info', ['notes.d88']).err,
        'a file that is not an image: d88info\'s message, and nothing else: ' +
        JSON.stringify(notes));
}

// ---- The way back: edited files into a new image, as volpack writes it ----
{
  await feed(images.demo);
  const cli = extract(images.demo, 'pack');
  fs.copyFileSync(images.demo, path.join(cli, 'demo.d88'));
  const trvInput = await page.$(`${section('demo.d88')} input[type=file][data-input="trv"]`);
  const packed = `${section('demo.d88')} .pack a[download="demo-packed.d88"]`;
  // volpack's lines and the page's for TRV03.BIN holding `bytes`, given
  // from its own folder `dir` (a new path, so that the input takes it).
  const pack = async (dir, bytes, target) => {
    const given = path.join(work, dir, 'TRV03.BIN');
    fs.mkdirSync(path.dirname(given));
    fs.writeFileSync(given, bytes);
    fs.copyFileSync(given, path.join(cli, 'TRV03.BIN'));
    const want = run('volpack', ['demo.d88', target], cli);
    await trvInput.uploadFile(given);
    const result = `${section('demo.d88')} .pack-result`;
    await page.waitForFunction((s) => !/working/.test(document.querySelector(s).textContent),
                               {}, result);
    return [want, await page.$eval(result, (node) => {
      const text = (query) => Array.from(node.querySelectorAll(query), (e) => e.textContent).join('');
      return { out: text('.lines:not(.error)'), err: text('.lines.error') };
    })];
  };

  const trv = fs.readFileSync(path.join(cli, 'TRV03.BIN'));
  trv[100] ^= 0xFF;
  const [ok, good] = await pack('edited', trv, 'demo-packed.d88');
  check(ok.status === 0 && good.out === ok.out && good.err === ok.err,
        `volpack's lines: ${JSON.stringify(good)}, want ${JSON.stringify(ok)}`);
  const made = (await downloads(packed))[0] || { href: '', bytes: [] };
  check(made.href.startsWith('blob:') && sameBytes(made.bytes, cli, 'demo-packed.d88'),
        'the new image is volpack\'s, byte for byte');

  const [refused, bad] = await pack('wrong', Buffer.alloc(10), 'refused.d88');
  check(refused.status === 1 && bad.err === refused.err && bad.out === '',
        `volpack's refusal: ${JSON.stringify(bad.err)}, want ${JSON.stringify(refused.err)}`);
  check(await page.$(packed) === null, 'a refusal offers no image');
}

// Presses `button` and waits until `selector`, where the command's lines
// go, is done: how long it took, each name's lines and refusals there, and
// its downloads with their bytes.
async function press(button, selector) {
  const clicked = Date.now();
  await page.click(button);
  await page.waitForFunction((s) => document.querySelector(s).getAttribute('aria-busy') === 'false',
                             {}, selector);
  const ms = Date.now() - clicked;
  const lines = await page.$eval(selector, (node) => {
    const text = (query) => Array.from(node.querySelectorAll(query), (e) => e.textContent).join('');
    const lines = {};
    for (const e of node.querySelectorAll('[data-out], [data-err]')) {
      const name = e.getAttribute('data-out') || e.getAttribute('data-err');
      lines[name] = { out: text(`[data-out="${name}"]`), err: text(`[data-err="${name}"]`) };
    }
    return lines;
  });
  return { ms, lines, made: await downloads(`${selector} .made a[download]`) };
}
const noLines = { out: '', err: '' };
const sameLines = (shownLines, result) => JSON.stringify(shownLines || noLines) ===
  JSON.stringify({ out: result.out, err: result.err });
// Whether the page offers one image, `target`, byte for byte the one in `dir`.
const offersOnly = (made, target, dir) => made.length === 1 && made[0].name === target &&
  made[0].href.startsWith('blob:') && sameBytes(made[0].bytes, dir, target);

// ---- Dumps of one disk: the comparison, the merged image, a refusal ----
let mergeMs = 0;
{
  const cases = [
    { what: 'two dumps', files: [dumps.monday, dumps.tuesday], force: false, made: true },
    // The refusal says that --force would take them.
    { what: 'two disks', files: [images.demo, dumps.other], force: false, made: false, tick: true },
    // d88merge's own refusal; the command adds its usage line.
    { what: 'nine dumps', files: Array(9).fill(dumps.monday), force: false, made: false, usage: true },
    { what: 'two disks, forced', files: [images.demo, dumps.other], force: true, made: true },
    // d88merge would not write over the second: the image goes in a folder.
    { what: 'a dump named as the merged image', files: [dumps.tuesday, dumps.asMerged],
      force: false, made: true, folder: 'merged' },
  ];
  for (const { what, files, force, made, folder = '', tick, usage } of cases) {
    await feed(...files);
    const names = files.map((file) => path.basename(file));
    const target = names[0].replace(/\.d88$/, '-merged.d88');
    const where = path.join(work, folder);
    fs.mkdirSync(where, { recursive: true });
    const options = force ? ['--force'] : [];
    const compared = run('d88merge', [...options, ...names]);
    if (usage) compared.err = compared.err.replace(/^Usage:.*\n/m, '');
    const merged = run('d88merge', [...options, '-o', path.join(folder, target), ...names]);
    const offer = await page.$eval('section[data-merge]', (node) => ({
      button: node.querySelector('button[data-action="merge"]').textContent,
      afterTable: node.previousElementSibling.matches('table[data-summary]'),
    }));
    check(offer.button === `Merge these ${names.length} as dumps of one disk` && offer.afterTable,
          `${what}: the offer to merge, after the table: ${JSON.stringify(offer)}`);
    if (force) await page.click('section[data-merge] input[data-option="force"]');
    const result = await press('section[data-merge] button[data-action="merge"]', '.merge-result');
    mergeMs ||= result.ms;
    // The outcome in one line, where screen readers hear it.
    const status = await textOf('#status');
    const outcome = made ? `Merged: ${lineOf(target, where)} (`
      : `Not merged: ${compared.err.split('\n')[0]} (`;
    check(status.startsWith(outcome), `${what}: the status line: ${status}`);
    check(sameLines(result.lines.compare, compared),
          `${what}: d88merge's comparison: ${JSON.stringify(result.lines.compare).slice(0, 300)}`);
    if (!made) {
      check(compared.status === 1 && result.made.length === 0 && !result.lines.merge &&
            (await page.$('.merge-result section.image')) === null,
            `${what}: a refusal offers no image`);
      const ticked = (await textOf('.merge-result')).includes('Tick');
      check(ticked === Boolean(tick), `${what}: the hint at --force: ${ticked}`);
      continue;
    }
    check(merged.status === 0 || merged.status === 2, `${what}: d88merge merged them`);
    check(sameLines(result.lines.merge, merged),
          `${what}: d88merge's lines: ${JSON.stringify(result.lines.merge)}, want ` +
          JSON.stringify(merged.out));
    check(offersOnly(result.made, target, where),
          `${what}: the merged image is d88merge's, byte for byte, as ${result.made[0]?.name}`);
    const image = await shown(target, '.merge-result');
    check(image.verdict === verdictOf(target, where) && image.line === lineOf(target, where) &&
          image.files.length === 7,
          `${what}: the merged image's verdict ${image.verdict}, as d88info gives it`);
  }
}

// ---- Raw sector dumps: the layout auto takes, then the image as any ----
let convertMs = 0;
{
  const trv = extract(images.demo, 'demo-trv');
  const cases = [
    { file: raws.disk, layout: '40x2x9x512', others: '', target: 'disk.d88', trv: true },
    { file: raws.floppy, layout: '2D (40x2x16x256)',
      others: ', the first of the 2 layouts of its size, not 40x2x8x512',
      target: 'floppy.d88', trv: false },
  ];
  for (const { file, layout, others, target, trv: same } of cases) {
    const name = path.basename(file);
    await feed(file);
    const offer = await page.$eval(section(name), (node) => ({
      verdict: node.getAttribute('data-verdict'),
      layout: node.querySelector('code[data-layout]').textContent,
      text: node.querySelector('code[data-layout]').parentNode.textContent,
      button: node.querySelector('button[data-action="convert"]').textContent,
    })).catch((e) => ({ error: String(e) }));
    check(offer.verdict === 'not a D88 image' && offer.layout === layout &&
          offer.text.includes(layout + others + '.') && offer.button === 'Convert to D88: ' + target,
          `${name}: the offer to convert: ${JSON.stringify(offer)}`);
    const converted = run('d88conv', ['--from-raw', 'auto', name, target]);
    const result = await press(`${section(name)} button[data-action="convert"]`,
                               `${section(name)} .convert-result`);
    convertMs ||= result.ms;
    check(converted.status === 0 && sameLines(result.lines.conv, converted),
          `${name}: d88conv's lines: ${JSON.stringify(result.lines.conv)}, want ` +
          JSON.stringify(converted.out));
    check(offersOnly(result.made, target, work),
          `${name}: the new image is d88conv's, byte for byte, as ${result.made[0]?.name}`);
    const image = await shown(target);
    check(image.verdict === verdictOf(target) && image.svg === 1,
          `${name}: the new image's verdict ${image.verdict} and its map`);
    if (!same) continue;
    const files = await downloads(`${section(target)} table.files a[download]`);
    check(files.length === 7 && files.every((f) => sameBytes(f.bytes, trv, f.name)),
          `${name}: the new image's seven files are volspar's from demo.d88`);
  }
}

check(requests.every((url) => url.startsWith(origin + '/') || url.startsWith('blob:') ||
                              url.startsWith('data:')),
      'no request left for anything but the page: ' +
      requests.filter((url) => !url.startsWith(origin)).join(' '));
check(transferred < 300000, `the page is under 300 KB: ${transferred} bytes`);
if (screenshot) {
  await feed(images.damaged);
  await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({ path: screenshot });
}
console.log(`page ready in ${readyMs} ms, ${transferred} bytes transferred; ` +
            `demonstration image chosen to verdict: ${firstMs.toFixed(0)} ms the first time, ` +
            `${againMs.toFixed(0)} ms after (median of 4); 1.2 MB 2HD image done in ${bigMs} ms; ` +
            `two dumps merged in ${mergeMs} ms; a raw dump converted in ${convertMs} ms`);
await browser.close();
browser = null;
server.close();
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
