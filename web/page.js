// The page: images in, the C++ findings out. Everything it shows is what
// d88info, volspar, volpack, d88merge and d88conv print and write, in their
// words; it decides nothing itself. The answers come first (the two-part
// verdict and volspar's files with their downloads); the map and the
// report follow once the browser has shown them.
'use strict';

const statusLine = document.getElementById('status');
const results = document.getElementById('results');
let wasm = null;
let nextId = 0;
let batch = 0;
let shown = [];


// What each word of the verdict means, in one sentence.
const MEANINGS = {
  clean: 'Every disk is whole in the file, and no sector\'s status reports a read error.',
  damaged: 'The file does not hold what its headers say: it is cut short, or records ' +
           'run past the end of the file or of their disk.',
  'read errors': 'Some sectors carry a status saying the drive could not read them ' +
                 'cleanly, such as a CRC error.',
  complete: 'All seven files would be read whole, from sectors whose headers report ' +
            'nothing wrong.',
  suspect: 'Some file holds bytes of a sector whose header says they may be wrong: a ' +
           'bad status, a deleted mark or a duplicated ID.',
  incomplete: 'Some file would not be read whole: its run stops at a missing or short ' +
              'sector, and the rest would be left over from earlier files.',
  'not its disk': 'The tracks volspar reads hold no sector of the size it reads, so its ' +
                  'files would say nothing about this disk.',
  'not a D88 image': 'The file cannot be a D88 image.',
};
// How a state looks: the first of these tones that one of its words has.
const TONES = {
  bad: ['damaged', 'read errors', 'incomplete', 'not a D88 image'],
  warn: ['suspect'],
  neutral: ['not its disk'],
  good: ['clean', 'complete'],
};

function words(state) { return state ? state.split(', ') : []; }

function tone(state) {
  const list = words(state);
  for (const [name, members] of Object.entries(TONES)) {
    if (list.some((word) => members.includes(word))) return name;
  }
  return 'neutral';
}

function say(text) { statusLine.textContent = text; }

function element(tag, attributes, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes || {})) node.setAttribute(key, value);
  node.append(...children);
  return node;
}

function readText(path) {
  try { return wasm.FS.readFile(path, { encoding: 'utf8' }); } catch (e) { return ''; }
}

function call(name, ...args) {
  const types = args.map((a) => (a instanceof Uint8Array ? 'array' : typeof a));
  return wasm.ccall(name, 'number', types, args);
}

function blobUrl(image, bytes) {
  const url = URL.createObjectURL(new Blob([bytes]));
  image.urls.push(url);
  return url;
}

function removeTree(path) {
  for (const name of wasm.FS.readdir(path)) {
    if (name === '.' || name === '..') continue;
    const child = path + '/' + name;
    if (wasm.FS.isDir(wasm.FS.stat(child).mode)) removeTree(child); else wasm.FS.unlink(child);
  }
  wasm.FS.rmdir(path);
}

// Lets the browser show what is on the page before more work starts.
function paint() {
  return new Promise((resolve) => {
    const timer = setTimeout(resolve, 50);  // a hidden tab draws no frames
    requestAnimationFrame(() => { clearTimeout(timer); setTimeout(resolve, 0); });
  });
}

// ---- The C++ side ----

// Each image lies in a directory of its own, under its own name, so that
// messages name it as the commands would.
function answer(name, bytes) {
  const image = { id: ++nextId, name, file: name.replace(/[/\0]/g, '_'), urls: [] };
  image.dir = '/in/' + image.id;
  image.path = image.dir + '/' + image.file;
  wasm.FS.mkdir(image.dir);
  wasm.FS.writeFile(image.path, bytes);
  wasm.FS.chdir(image.dir);
  image.disks = call('d88web_answers', image.file);
  const json = readText('/out/image.json');
  image.doc = json ? JSON.parse(json).images[0] : { verdict: [] };
  image.summary = readText('/out/summary.txt').trim();
  image.errors = readText('/out/errors.txt');
  if (image.disks >= 0) extract(image);
  else if (image.doc.raw_dump) rawLayouts(image);
  return image;
}

// The layouts d88conv's table has for the raw dump's size; --from-raw auto
// takes the first.
function rawLayouts(image) {
  const count = call('d88web_raw_layouts', image.file);
  image.layouts = count > 0 ? readText('/out/layouts.txt').trim().split('\n') : [];
}

// volspar's file names, in the findings' order.
function trvNames(doc) { return (doc.files || []).map((file) => file.name); }

// volspar's files into the image's directory; false if they could not be.
function extractInto(image) {
  return call('d88web_extract', image.path, image.dir) === 0;
}

function removeExtracted(image) {
  for (const name of [...trvNames(image.doc), 'TRV.zip']) {
    try { wasm.FS.unlink(image.dir + '/' + name); } catch (e) { /* not there */ }
  }
}

function extract(image) {
  image.trv = {};
  if (!extractInto(image)) return;
  for (const name of trvNames(image.doc)) {
    image.trv[name] = blobUrl(image, wasm.FS.readFile(image.dir + '/' + name));
  }
  image.zip = blobUrl(image, wasm.FS.readFile(image.dir + '/TRV.zip'));
  removeExtracted(image);
}

function draw(image) {
  const disk = image.diskChooser ? Number(image.diskChooser.value) : 0;
  wasm.FS.chdir(image.dir);
  call('d88web_inspect', image.file, image.full.checked ? 0 : 1, disk);
  image.report.textContent = readText('/out/report.txt');
  image.map.innerHTML = readText('/out/map.svg');  // this program's SVG, its texts escaped
  image.drawn = true;
  keyboardMap(image);
}

// `name` with `suffix` before its extension: monday.d88, monday-merged.d88.
function suffixed(name, suffix) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(0, dot) + suffix + name.slice(dot) : name + suffix;
}

function packedName(name) { return suffixed(name, '-packed'); }

// game.img, game.d88; a name without an extension gets one.
function convertedName(name) {
  const dot = name.lastIndexOf('.');
  return (dot > 0 ? name.slice(0, dot) : name) + '.d88';
}

// volpack on the image with the files given, in place of those volspar
// takes from it.
async function pack(image, files, result) {
  const contents = await Promise.all(files.map((file) => file.arrayBuffer()));
  result.textContent = '';
  const known = trvNames(image.doc);
  if (!extractInto(image)) {
    result.append(element('p', { class: 'error' }, 'volspar\'s files could not be written.'));
    return;
  }
  const given = [];
  const unused = [];
  files.forEach((file, i) => {
    if (!known.includes(file.name)) { unused.push(file.name); return; }
    wasm.FS.writeFile(image.dir + '/' + file.name, new Uint8Array(contents[i]));
    given.push(file.name);
  });
  const target = packedName(image.file);
  wasm.FS.chdir(image.dir);
  const status = call('d88web_pack', image.file, target);
  result.append(element('p', {}, given.length
    ? 'Yours: ' + given.join(', ') + '; the others as volspar takes them from ' + image.name + '.'
    : 'None of these is one of ' + known.join(', ') + '.'));
  if (unused.length) {
    result.append(element('p', {}, 'Not used (volpack reads only ' + known[0] + ' … ' +
                                   known[known.length - 1] + '): ' + unused.join(', ') + '.'));
  }
  const out = readText('/out/pack.txt');
  const err = readText('/out/pack-errors.txt');
  if (out) result.append(element('div', { class: 'lines' }, out));
  if (err) result.append(element('div', { class: 'lines error' }, err));
  if (status === 0) {
    const url = blobUrl(image, wasm.FS.readFile(image.dir + '/' + target));
    const name = packedName(image.name);
    result.append(element('p', {}, element('a', { href: url, download: name }, 'Download ' + name)));
  }
  try { wasm.FS.unlink(image.dir + '/' + target); } catch (e) { /* not written */ }
  removeExtracted(image);
}

// A command's lines and its refusals, each where the tests find them.
function linesInto(node, name, out, err) {
  if (out) node.append(element('div', { class: 'lines', 'data-out': name }, out));
  if (err) node.append(element('div', { class: 'lines error', 'data-err': name }, err));
}

// An image a command made: read as any image, offered for download, and
// shown open in `node`, after the nodes `between`.
async function showMade(name, bytes, node, ...between) {
  const made = answer(name, bytes);
  shown.push(made);
  const url = blobUrl(made, bytes);
  node.append(element('p', { class: 'made' },
                      element('a', { href: url, download: name }, 'Download ' + name)),
              ...between, render(made, true));
  await paint();
  if (made.disks >= 0 && shown.includes(made)) draw(made);
  return made;
}

function discard(image) {
  wasm.FS.chdir('/');
  image.urls.forEach((url) => URL.revokeObjectURL(url));
  try { removeTree(image.dir); } catch (e) { /* never written */ }
  shown = shown.filter((other) => other !== image);
}

// `d88conv --from-raw auto` on the raw dump, then the new image as any.
async function convert(image, button, result) {
  const started = performance.now();
  button.disabled = true;
  result.setAttribute('aria-busy', 'true');
  result.textContent = 'd88conv is working…';
  wasm.FS.chdir(image.dir);
  // The new file is never the dump itself: a dump named .d88 gets its image
  // in a folder beside it.
  let target = convertedName(image.file);
  if (target === image.file) {
    target = 'converted/' + target;
    try { wasm.FS.mkdir(image.dir + '/converted'); } catch (e) { /* made before */ }
  }
  const status = call('d88web_from_raw', image.file, target);
  result.textContent = '';
  linesInto(result, 'conv', readText('/out/conv.txt'), readText('/out/conv-errors.txt'));
  if (status === 0) {
    const bytes = wasm.FS.readFile(image.dir + '/' + target);
    wasm.FS.unlink(image.dir + '/' + target);
    const made = await showMade(convertedName(image.name), bytes, result);
    say('Converted: ' + made.summary + ' (' + Math.round(performance.now() - started) + ' ms)');
  } else {
    button.disabled = false;
    say('Not converted: ' + readText('/out/conv-errors.txt').split('\n')[0]);
  }
  result.setAttribute('aria-busy', 'false');
}

// The dumps side by side in a folder of their own, under their own names
// (a name given twice goes in a numbered folder), so that d88merge names
// them as it would on the command line. Returns their names.
function gatherDumps(images, dir) {
  wasm.FS.mkdir(dir);
  const names = [];
  for (const image of images) {
    let name = image.file;
    if (names.includes(name)) {
      const folder = String(names.length + 1);
      wasm.FS.mkdir(dir + '/' + folder);
      name = folder + '/' + name;
    }
    wasm.FS.writeFile(dir + '/' + name, wasm.FS.readFile(image.path));
    names.push(name);
  }
  return names;
}

// The names as d88web_merge takes them: each one ended by a NUL.
function nameList(names) {
  const encoder = new TextEncoder();
  const parts = names.map((name) => encoder.encode(name + '\0'));
  const list = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  parts.reduce((at, part) => { list.set(part, at); return at + part.length; }, 0);
  return list;
}

// The merged image's file among the dumps `names` in `dir`: the first
// dump's name `first` with -merged. It is never one of the dumps (d88merge would
// refuse it): when a dump has that name, the image goes in a folder beside
// them, named as no dump is.
function mergedTarget(first, names, dir) {
  const target = suffixed(first, '-merged');
  if (!names.includes(target)) return target;
  let folder = 'merged';
  while (names.includes(folder)) folder += '_';
  wasm.FS.mkdir(dir + '/' + folder);
  return folder + '/' + target;
}

// d88merge on the dumps: the comparison (as it prints it without -o), then,
// unless it refused them, the merge into the first dump's name with
// -merged, and the new image as any. `offer.made` keeps that image, so
// that the next merge replaces it.
async function merge(images, force, result, offer) {
  const started = performance.now();
  if (offer.made) discard(offer.made);
  offer.made = null;
  result.setAttribute('aria-busy', 'true');
  result.textContent = 'd88merge is working…';
  const dir = '/in/merge-' + (++nextId);
  const names = gatherDumps(images, dir);
  const list = nameList(names);
  wasm.FS.chdir(dir);
  const compared = call('d88web_merge', list, names.length, '', force ? 1 : 0);
  const otherDisks = call('d88web_merge_refusal') === 1;
  const comparison = [readText('/out/merge.txt'), readText('/out/merge-errors.txt')];
  const target = mergedTarget(images[0].file, names, dir);
  let lines = ['', ''];
  let bytes = null;
  if (compared !== 1) {
    const status = call('d88web_merge', list, names.length, target, force ? 1 : 0);
    lines = [readText('/out/merge.txt'), readText('/out/merge-errors.txt')];
    if (status !== 1) bytes = wasm.FS.readFile(dir + '/' + target);
  }
  wasm.FS.chdir('/');
  removeTree(dir);
  result.textContent = '';
  const name = suffixed(images[0].name, '-merged');
  const report = [element('h3', {}, 'Comparison'),
                  element('p', {}, 'As d88merge prints it without -o:'),
                  element('pre', { class: 'report', tabindex: '0', 'data-out': 'compare' },
                          comparison[0])];
  if (bytes) {
    result.append(element('h3', {}, 'Merged: ' + name));
    linesInto(result, 'merge', ...lines);
    const warnings = element('div');
    linesInto(warnings, 'compare', '', comparison[1]);
    offer.made = await showMade(name, bytes, result, ...report, warnings);
  } else {
    result.append(element('h3', {}, 'No merged image'));
    if (compared === 1) linesInto(result, 'compare', '', comparison[1]);
    else linesInto(result, 'merge', '', lines[1]);
    if (otherDisks) {
      result.append(element('p', {}, 'Tick “even if they cannot be the same disk” to merge ' +
                                     'them all the same.'));
    }
    if (comparison[0]) result.append(...report);
  }
  result.setAttribute('aria-busy', 'false');
  // The outcome in one line for the status line, which screen readers
  // read; the result itself is too long to be read out whole.
  const ms = ' (' + Math.round(performance.now() - started) + ' ms)';
  say(bytes ? 'Merged: ' + offer.made.summary + ms
    : 'Not merged: ' + ((compared === 1 ? comparison[1] : lines[1]).split('\n')[0] ||
                        'd88merge refused the dumps') + ms);
}

// ---- The map by keyboard: one tab stop, arrow keys between cells ----

function keyboardMap(image) {
  const svg = image.map.querySelector('svg');
  if (!svg) return;
  const grid = [];
  for (const node of svg.children) {
    if (node.tagName === 'title') continue;
    if (node.tagName !== 'g') { node.setAttribute('aria-hidden', 'true'); continue; }
    const [label, ...items] = node.children;
    node.setAttribute('role', 'row');
    label.setAttribute('role', 'rowheader');
    for (const item of items) item.setAttribute('role', 'gridcell');
    if (items.length) grid.push(items);
  }
  svg.setAttribute('role', 'grid');
  svg.setAttribute('aria-label', svg.querySelector('title').textContent +
                   ': the arrow keys move between sectors');
  if (!grid.length) return;
  let at = [0, 0];
  const name = (item) => item.parentNode.firstElementChild.textContent + ': ' +
    (item.tagName === 'g' ? item.querySelector('title').textContent : item.textContent);
  const focus = (row, column) => {
    row = Math.max(0, Math.min(grid.length - 1, row));
    column = Math.max(0, Math.min(grid[row].length - 1, column));
    grid[at[0]][at[1]].removeAttribute('tabindex');
    at = [row, column];
    const item = grid[row][column];
    item.setAttribute('tabindex', '0');
    item.setAttribute('aria-label', name(item));
    item.focus();
  };
  grid[0][0].setAttribute('tabindex', '0');
  grid[0][0].setAttribute('aria-label', name(grid[0][0]));
  const keys = {
    ArrowRight: () => [at[0], at[1] + 1], ArrowLeft: () => [at[0], at[1] - 1],
    ArrowDown: () => [at[0] + 1, at[1]], ArrowUp: () => [at[0] - 1, at[1]],
    PageDown: () => [at[0] + 10, at[1]], PageUp: () => [at[0] - 10, at[1]],
    Home: (ctrl) => [ctrl ? 0 : at[0], 0], End: (ctrl) => [ctrl ? grid.length - 1 : at[0], 1e9],
  };
  svg.addEventListener('keydown', (event) => {
    const move = keys[event.key];
    if (!move) return;
    event.preventDefault();
    focus(...move(event.ctrlKey));
  });
  svg.addEventListener('focusin', (event) => { image.cell.textContent = name(event.target); });
  svg.addEventListener('click', (event) => {
    const item = event.target.closest('[role="gridcell"]');
    if (!item) return;
    const row = grid.findIndex((items) => items.includes(item));
    focus(row, grid[row].indexOf(item));
  });
}

// ---- What the page shows of one image ----

function verdictPart(term, state, extra) {
  const meaning = words(state).map((word) => MEANINGS[word] || '').join(' ');
  return [element('dt', {}, term),
          element('dd', {}, element('span', { class: 'word ' + tone(state) }, state), ': ',
                  meaning, extra ? element('span', { class: 'detail' }, extra) : '')];
}

function fileRows(image) {
  const doc = image.doc;
  const neutral = doc.volspar.state === 'not its disk';
  const body = element('tbody');
  for (const file of doc.files) {
    const link = image.trv[file.name]
      ? element('a', { href: image.trv[file.name], download: file.name }, file.name) : file.name;
    const state = element('span', { class: neutral ? 'neutral' : tone(file.state) }, file.state);
    body.append(element('tr', {},
      element('td', {}, link, ' ', state),
      element('td', { class: 'number' }, file.bytes_from_image.toLocaleString('en') + ' of ' +
                                         file.bytes_needed.toLocaleString('en')),
      element('td', { class: 'why' }, file.reasons.join('; '))));
  }
  return body;
}

function filesPart(image, body) {
  const id = 'files-' + image.id;
  body.append(element('h3', { id }, 'volspar\'s seven files'));
  const table = element('table', { class: 'files', 'aria-labelledby': id },
    element('thead', {}, element('tr', {}, element('th', { scope: 'col' }, 'File'),
                                 element('th', { scope: 'col' }, 'Bytes from the image'),
                                 element('th', { scope: 'col' }, 'Why'))),
    fileRows(image));
  body.append(table);
  if (!image.zip) {
    body.append(element('p', { class: 'error' }, 'The files could not be extracted.'));
    return;
  }
  const notComplete = image.doc.files.length - image.doc.volspar.complete;
  const zipName = image.name.replace(/\.[^.]*$/, '') + '-TRV.zip';
  body.append(element('p', { class: 'zip' }, element('a', { href: image.zip, download: zipName },
    zipName + ': all seven files' + (notComplete ? ', ' + notComplete + ' not complete' : ''))));
}

function packPart(image, body) {
  const id = 'pack-' + image.id;
  const group = element('div', { class: 'pack', role: 'group', 'aria-labelledby': id });
  const input = element('input', { type: 'file', id: id + '-input', 'data-input': 'trv', multiple: '' });
  const result = element('div', { class: 'pack-result', 'aria-live': 'polite' });
  group.append(element('h3', { id }, 'Put edited files back'),
               element('p', {}, element('label', { for: input.id }, 'Edited TRV files:'), input,
                       ' or drop them here. volpack writes them into a copy of ' + image.name +
                       '; the files you do not give are the ones volspar takes from it.'),
               result);
  const run = (files) => {
    if (!files.length) return;
    result.textContent = 'volpack is working…';
    pack(image, files, result).catch((e) => { result.textContent = 'volpack failed: ' + e; });
  };
  input.addEventListener('change', () => { run(Array.from(input.files)); input.value = ''; });
  dropTarget(group, run);
  body.append(group);
}

function drawingPart(image, body) {
  const mapId = 'map-' + image.id;
  body.append(element('h3', { id: mapId }, 'Disk map'));
  if (image.disks > 1) {
    image.diskChooser = element('select', { id: mapId + '-disk' });
    for (let d = 0; d < image.disks; ++d) image.diskChooser.append(element('option', { value: d }, String(d)));
    image.diskChooser.addEventListener('change', () => draw(image));
    body.append(element('p', {}, element('label', { for: image.diskChooser.id }, 'Disk:'),
                        image.diskChooser));
  }
  image.cell = element('p', { class: 'cell' },
                       'Tab into the map, then move between its sectors with the arrow keys.');
  image.map = element('div', { class: 'map' });
  body.append(image.cell, image.map);
  const reportId = 'report-' + image.id;
  image.full = element('input', { type: 'checkbox', id: reportId + '-full' });
  image.full.addEventListener('change', () => draw(image));
  image.report = element('pre', { class: 'report', tabindex: '0', 'aria-labelledby': reportId });
  body.append(element('h3', { id: reportId }, 'Report'),
              element('p', {}, image.full, element('label', { for: image.full.id },
                      'Full listing: every track and record (off: the problems only)')),
              image.report);
}

function convertPart(image, body) {
  const id = 'convert-' + image.id;
  const [auto, ...others] = image.layouts;
  const target = convertedName(image.name);
  const button = element('button', { type: 'button', 'data-action': 'convert' },
                         'Convert to D88: ' + target);
  const result = element('div', { class: 'convert-result' });
  const group = element('div', { class: 'convert', role: 'group', 'aria-labelledby': id });
  group.append(element('h3', { id }, 'Convert the raw dump'),
               element('p', {}, 'd88conv --from-raw auto takes it as ',
                       element('code', { 'data-layout': '' }, auto),
                       others.length ? ', the first of the ' + image.layouts.length +
                                       ' layouts of its size, not ' + others.join(', not ') : '',
                       '. The new image is read as any other.'),
               element('p', {}, button), result);
  button.addEventListener('click', () => {
    convert(image, button, result).catch((e) => { result.textContent = 'd88conv failed: ' + e; });
  });
  body.append(group);
}

function setOpen(image, open) {
  image.toggle.setAttribute('aria-expanded', String(open));
  image.body.hidden = !open;
  if (open && !image.drawn && image.disks >= 0) draw(image);
}

function render(image, open) {
  const doc = image.doc;
  const health = doc.health ? doc.health.state : '';
  const volspar = doc.volspar ? doc.volspar.state : '';
  const section = element('section', {
    class: 'image', id: 'image-' + image.id, 'data-image': image.name,
    'data-verdict': doc.verdict.join(', '), 'data-health': health, 'data-volspar': volspar,
  });
  image.section = section;
  image.body = element('div', { id: 'body-' + image.id });
  image.toggle = element('button', { type: 'button', 'aria-controls': image.body.id }, image.name);
  image.toggle.addEventListener('click', () =>
    setOpen(image, image.toggle.getAttribute('aria-expanded') !== 'true'));
  section.append(element('h2', {}, image.toggle), image.body);
  const body = image.body;
  if (image.summary) body.append(element('p', { class: 'line' }, image.summary));
  if (image.errors) body.append(element('p', { class: 'error' }, image.errors));
  if (image.disks >= 0) {
    body.append(element('dl', { class: 'verdict' },
      ...verdictPart('Disk health', health),
      ...verdictPart('volspar\'s files', volspar, doc.volspar.reason)));
    filesPart(image, body);
    packPart(image, body);
    drawingPart(image, body);
  } else if (image.layouts && image.layouts.length) {
    convertPart(image, body);
  }
  image.toggle.setAttribute('aria-expanded', String(open));
  body.hidden = !open;
  return section;
}

// ---- Several images: a table first ----

function summaryRow(image) {
  const doc = image.doc;
  const link = element('a', { href: '#' + image.section.id }, image.name);
  link.addEventListener('click', (event) => {
    event.preventDefault();
    setOpen(image, true);
    image.section.scrollIntoView();
    image.toggle.focus();
  });
  const cells = image.disks >= 0
    ? [element('td', {}, String(image.disks)),
       element('td', { class: tone(doc.health.state) }, doc.health.state),
       element('td', { class: tone(doc.volspar.state) }, doc.volspar.state)]
    : [element('td', {}, '—'),
       element('td', { class: 'bad', colspan: 2 }, doc.verdict.join(', ') || 'cannot be read')];
  return element('tr', { 'data-image': image.name }, element('th', { scope: 'row' }, link), ...cells);
}

function summaryTable(count) {
  return element('table', { 'data-summary': '' },
    element('caption', {}, count + ' images: choose one for its details'),
    element('thead', {}, element('tr', {}, ...['Image', 'Disks', 'Disk health', 'volspar\'s files']
      .map((text) => element('th', { scope: 'col' }, text)))),
    element('tbody'));
}

// The offer to merge the images (those d88info reads as D88 images, in the
// order given) as dumps of one disk.
function mergePart(images) {
  const dumps = images.filter((image) => image.disks >= 0);
  if (dumps.length < 2) return null;
  const group = element('section', { class: 'merge', 'data-merge': '',
                                     'aria-labelledby': 'merge-title' });
  const left = images.filter((image) => image.disks < 0).map((image) => image.name);
  group.append(element('h2', { id: 'merge-title' }, 'Dumps of one disk?'),
               element('p', {}, 'If these are reads of the same disk, d88merge compares them ' +
                       'sector by sector and makes one image of the best copy of each: ' +
                       dumps.map((image) => image.name).join(', ') + ', in this order' +
                       (left.length ? ' (not ' + left.join(', ') + ': no D88 image)' : '') + '.'));
  const force = element('input', { type: 'checkbox', id: 'merge-force', 'data-option': 'force' });
  const button = element('button', { type: 'button', 'data-action': 'merge' },
                         'Merge these ' + dumps.length + ' as dumps of one disk');
  const result = element('div', { class: 'merge-result' });
  group.append(element('p', {}, button, ' ', force, element('label', { for: force.id },
                       'even if they cannot be the same disk (--force)')), result);
  const offer = { made: null };
  button.addEventListener('click', () => {
    merge(dumps, force.checked, result, offer)
      .catch((e) => { result.textContent = 'd88merge failed: ' + e; });
  });
  return group;
}

function clear() {
  for (const image of shown) discard(image);
  shown = [];
  results.textContent = '';
}

async function showFiles(list) {
  if (!list.length || !wasm) return;
  const mine = ++batch;
  results.setAttribute('aria-busy', 'true');
  clear();
  const started = performance.now();
  const several = list.length > 1;
  const table = several ? summaryTable(list.length) : null;
  if (table) results.append(table);
  const failed = [];
  for (const [index, file] of list.entries()) {
    say('Reading ' + (index + 1) + ' of ' + list.length + ': ' + file.name + '…');
    let image;
    try {
      const bytes = new Uint8Array(await file.arrayBuffer());
      if (mine !== batch) return;
      image = answer(file.name, bytes);
    } catch (e) {
      image = { id: ++nextId, name: file.name, disks: -1, urls: [], doc: { verdict: [] },
                summary: '', errors: file.name + ': cannot be read: ' + e };
    }
    shown.push(image);
    results.append(render(image, !several));
    if (table) table.tBodies[0].append(summaryRow(image));
    if (image.disks < 0) failed.push(file.name);
    if (!several && image.disks >= 0) {
      await paint();
      if (mine !== batch) return;
      draw(image);
    }
  }
  const offer = several ? mergePart(shown) : null;
  if (offer) table.after(offer);
  results.setAttribute('aria-busy', 'false');
  const count = list.length + (list.length === 1 ? ' image' : ' images');
  say(count + ': ' + (list.length - failed.length) + ' done, ' + failed.length + ' failed' +
      (failed.length ? ' (' + failed.join(', ') + ')' : '') + ', in ' +
      Math.round(performance.now() - started) + ' ms.');
}

// ---- Wiring ----

function dropTarget(zone, take) {
  zone.addEventListener('dragover', (event) => {
    event.preventDefault();
    event.stopPropagation();
    zone.classList.add('over');
  });
  zone.addEventListener('dragleave', () => zone.classList.remove('over'));
  zone.addEventListener('drop', (event) => {
    event.preventDefault();
    event.stopPropagation();
    zone.classList.remove('over');
    take(Array.from(event.dataTransfer.files));
  });
}

const input = document.getElementById('files');
input.addEventListener('change', () => {
  showFiles(Array.from(input.files));
  input.value = '';  // the same files chosen again are read again
});
dropTarget(document.getElementById('drop'), showFiles);
// A file dropped beside the zones must not replace the page.
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => event.preventDefault());

D88Web().then((module) => {
  wasm = module;
  wasm.FS.mkdir('/in');
  wasm.FS.mkdir('/out');
  document.body.setAttribute('data-ready', 'true');
  say('Ready: choose or drop images.');
}, (error) => say('The page could not start: ' + error));
