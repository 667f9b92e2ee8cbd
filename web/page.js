// The page: files in, the C++ report, map and extraction out. Everything
// it shows is what d88info and volspar would print and write.
'use strict';

const status = document.getElementById('status');
const results = document.getElementById('results');
let wasm = null;
let nextId = 0;

function say(text) { status.textContent = text; }

function readText(path) {
  try { return wasm.FS.readFile(path, { encoding: 'utf8' }); } catch (e) { return ''; }
}

// Each image lies in a directory of its own, under its own name, so that
// messages name it as the commands would.
function inspect(image, problems, disk) {
  wasm.FS.chdir(image.dir);
  return wasm.ccall('d88web_inspect', 'number', ['string', 'number', 'number'],
                    [image.name, problems ? 1 : 0, disk]);
}

function element(tag, attributes, text) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes || {})) node.setAttribute(key, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

function showImage(name, bytes) {
  const image = { dir: '/in/' + ++nextId, name: name.replace(/[\/\0]/g, '_') };
  wasm.FS.mkdir(image.dir);
  wasm.FS.writeFile(image.dir + '/' + image.name, bytes);
  const started = performance.now();
  const disks = inspect(image, false, 0);
  const section = element('section', { class: 'image', 'data-image': name });
  section.appendChild(element('h2', {}, name));
  const errors = readText('/out/errors.txt');
  const verdict = readText('/out/verdict.txt');
  section.setAttribute('data-verdict', verdict);
  if (errors) section.appendChild(element('p', { class: 'error' }, errors));
  if (disks < 0) {
    results.appendChild(section);
    return performance.now() - started;
  }
  section.appendChild(element('p', { class: 'verdict ' + (verdict === 'clean' ? 'clean' : 'bad') },
                              'Verdict: ' + verdict));
  const controls = element('p');
  const problemsLabel = element('label');
  const problemsBox = element('input', { type: 'checkbox' });
  problemsLabel.append(problemsBox, ' Problems only');
  controls.appendChild(problemsLabel);
  let diskChooser = null;
  if (disks > 1) {
    const label = element('label', {}, ' Disk: ');
    diskChooser = element('select');
    for (let d = 0; d < disks; ++d) diskChooser.appendChild(element('option', { value: d }, String(d)));
    label.appendChild(diskChooser);
    controls.appendChild(label);
  }
  const extract = element('button', { type: 'button' }, 'Extract TRV01.BIN … TRV07.BIN');
  controls.appendChild(extract);
  section.appendChild(controls);
  const report = element('pre', {}, readText('/out/report.txt'));
  section.appendChild(report);
  const map = element('div', { class: 'map' });
  // The map is this program's own SVG, its texts escaped for XML.
  map.innerHTML = readText('/out/map.svg');
  section.appendChild(map);
  const downloads = element('p', { class: 'downloads' });
  section.appendChild(downloads);

  const redraw = () => {
    inspect(image, problemsBox.checked, diskChooser ? Number(diskChooser.value) : 0);
    report.textContent = readText('/out/report.txt');
    map.innerHTML = readText('/out/map.svg');
  };
  problemsBox.addEventListener('change', redraw);
  if (diskChooser) diskChooser.addEventListener('change', redraw);
  extract.addEventListener('click', () => {
    downloads.textContent = '';
    const path = image.dir + '/' + image.name;
    if (wasm.ccall('d88web_extract', 'number', ['string'], [path]) !== 0) {
      downloads.appendChild(element('span', { class: 'error' }, 'The files could not be extracted.'));
      return;
    }
    const base = name.replace(/\.[^.]*$/, '');
    const files = ['TRV01.BIN', 'TRV02.BIN', 'TRV03.BIN', 'TRV04.BIN', 'TRV05.BIN',
                   'TRV06.BIN', 'TRV07.BIN', 'TRV.zip'];
    for (const file of files) {
      const blob = new Blob([wasm.FS.readFile('/out/' + file)]);
      const download = file === 'TRV.zip' ? base + '-TRV.zip' : file;
      downloads.appendChild(element('a', { href: URL.createObjectURL(blob), download }, download));
    }
  });
  results.appendChild(section);
  return performance.now() - started;
}

async function showFiles(list) {
  for (const file of list) {
    say('Reading ' + file.name + '…');
    try {
      const bytes = new Uint8Array(await file.arrayBuffer());
      const ms = showImage(file.name, bytes);
      say(file.name + ': done in ' + ms.toFixed(0) + ' ms.');
    } catch (e) {
      results.appendChild(element('p', { class: 'error', 'data-image': file.name,
                                         'data-verdict': '' },
                                  file.name + ': cannot be read: ' + e));
      say(file.name + ': cannot be read.');
    }
  }
}

const input = document.getElementById('files');
input.addEventListener('change', () => showFiles(Array.from(input.files)));
const drop = document.getElementById('drop');
drop.addEventListener('dragover', (event) => { event.preventDefault(); drop.classList.add('over'); });
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  showFiles(Array.from(event.dataTransfer.files));
});

D88Web().then((module) => {
  wasm = module;
  wasm.FS.mkdir('/in');
  wasm.FS.mkdir('/out');
  document.body.setAttribute('data-ready', 'true');
  say('Ready: choose or drop images.');
}, (error) => say('The page could not start: ' + error));
