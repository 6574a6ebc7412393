// The page's control, off the page's thread: this worker loads the WebAssembly control,
// scripts it with the host sequence of the payment page, and answers the page by
// messages, so a long validation never freezes the page.
//
// Drives of the control: A is the removable drive the user's file (or the current
// diskette) is put on, a read-only file system over the picked file itself (the module's
// WORKERFS), so the file is read where it lies and never copied into memory; C, in memory,
// the fixed drive that holds the work folder C:\ZAV\temp\. The work copy of a picked
// file reads the same file object (platform/file_system.cpp).
//
// A file in one piece is deflated for its archive while it is validated, on a thread of
// its own (pack-worker.js); the control's zip entry then only writes the container.
//
// Requests {id, op, ...} and answers {id, ok: true, ...} or {id, ok: false, error}:
//   load                          the control is loaded and passed the safety check
//   single {name, file}           a payment file in one piece (a File or Blob): inicio,
//                                 copiaArch
//   part {name, file, disk}       diskette `disk` (0 first): inicio on the first, then
//                                 IntegraDisco and ChecaUltimoDisco; answers
//                                 {message, text} on refusal, else {last} (0: more follow)
//   validate {serverDate}         ValidaReg; answers the verdict and, when accepted, the
//                                 capture line, the parameter string and the archive
//   diagnose {serverDate, keep}   every problem of the file the last run refused:
//                                 {problems, more} (host/problems_json.hpp), the first
//                                 `keep` of them and how many more
//   record {number}               {text}: record `number` of the work file, or null
// While a run or a diagnosis walks the records the worker also posts {progress: {done,
// total}} (no id). A run cannot be interrupted: the page cancels by ending the worker.

import createZavModule from './dist/zavctl.js';
import { Zip, zipSync } from './dist/fflate.js';
import { openControl, SOURCE } from './lib/control.mjs';

let control = null;
let zav = null;
let module = null;
let diskette = false; // a file system over a picked file is mounted on A
// The picked file being deflated: {file, done: Promise of {chunks, crc, size} or null}.
let deflating = null;

// Loads the control once: requests that come while it loads wait for the same module.
let loading = null;
function load() {
  loading ??= (async () => {
    control = await openControl(createZavModule, { zip: { zipSync, Zip, deflated } });
    ({ zav, module } = control);
    // How far a run or a diagnosis got, for the page's progress bar.
    control.onProgress = (done, total) => self.postMessage({ progress: { done, total } });
  })().catch((e) => {
    loading = null; // the next request tries again
    throw e;
  });
  return loading;
}

// Puts a file (a File or Blob) on drive A as if it were the only file of the inserted
// diskette, read where it lies.
function insertDiskette(name, file) {
  removeDiskette();
  const data = file instanceof Blob ? file : new Blob([file]);
  module.FS.mount(module.FS.filesystems.WORKERFS, { blobs: [{ name, data }] }, '/a');
  diskette = true;
}

function removeDiskette() {
  if (!diskette) return;
  module.FS.unmount('/a');
  diskette = false;
}

// Starts deflating `file` for its archive on a thread of its own: {chunks, crc, size},
// or null when that could not be done (the zip entry then deflates the file itself).
function startDeflating(file) {
  const done = new Promise((resolve) => {
    let packer;
    try {
      packer = new Worker(new URL('./pack-worker.js', import.meta.url), { type: 'module' });
    } catch {
      resolve(null); // no thread to spare: the zip entry deflates the file itself
      return;
    }
    packer.onmessage = (event) => {
      packer.terminate();
      resolve(event.data.error ? null : event.data);
    };
    packer.onerror = () => {
      packer.terminate();
      resolve(null);
    };
    packer.postMessage({ file });
  });
  deflating = { file, done, result: null };
}

// The zip entry's question: the deflated bytes of the file at `path`, when that file
// reads the picked file whose deflating has finished (else null).
function deflated(path) {
  if (!deflating || !deflating.result) return null;
  const node = module.FS.lookupPath(path).node;
  const packed = deflating.result;
  return node.contents === deflating.file && node.size === packed.size ? packed : null;
}

// The file's name, as the control expects it on the diskette: its bare name.
function bareName(name) {
  return name.slice(Math.max(name.lastIndexOf('/'), name.lastIndexOf('\\')) + 1);
}

function single({ name, file }) {
  name = bareName(name);
  deflating = null;
  const blob = file instanceof Blob ? file : new Blob([file]);
  control.beginPayment();
  insertDiskette(name, blob);
  zav.OrigenArchi = SOURCE;
  zav.FinalArchi = name;
  zav.NumDiscos = 1;
  zav.copiaArch(name);
  removeDiskette();
  startDeflating(blob);
  return { workFolder: zav.DestinoArchi };
}

function part({ name, file, disk }) {
  name = bareName(name);
  deflating = null;
  if (disk === 0) {
    control.beginPayment();
    zav.OrigenArchi = SOURCE;
    zav.OrigenNombre = name;
    const dot = name.lastIndexOf('.');
    zav.FinalArchi = `${dot < 0 ? name : name.slice(0, dot)}.ZAV`;
  }
  insertDiskette(name, file);
  try {
    const joined = zav.IntegraDisco(name, disk);
    if (joined !== 0) return { message: joined, text: zav.Obtiene_Mensajes(joined) };
    return { last: zav.ChecaUltimoDisco(name) };
  } finally {
    removeDiskette();
  }
}

async function validate({ serverDate }) {
  if (deflating) deflating.result = await deflating.done;
  const result = zav.ValidaReg(serverDate);
  deflating = null;
  const outcome = control.lastOutcome();
  if (result !== '0') {
    return {
      accepted: false,
      result,
      message: outcome.message,
      failure: outcome.failure,
      record: outcome.record,
    };
  }
  const captureLine = zav.LineaDeCaptura();
  const param = zav.sParamZAV;
  const archiveName = zav.sArchZAVZip;
  const archivePath = zav.sRutaArchZAVZip;
  const archive = control.readFile(archivePath);
  return { accepted: true, result, captureLine, param, archiveName, archivePath, archive };
}

// Every problem of the file the last run refused, the first `keep` of them.
function diagnose({ serverDate, keep }) {
  return control.diagnose(serverDate, keep);
}

// The text of record `number` of the work file.
function record({ number }) {
  return { text: control.workRecord(number) };
}

const operations = { load, single, part, validate, diagnose, record };

self.onmessage = async (event) => {
  const { id, op, ...args } = event.data;
  try {
    if (!operations[op]) throw new Error(`unknown operation ${op}`);
    if (op !== 'load') await load();
    const answer = (await operations[op](args)) || {};
    const transfer = answer.archive ? [answer.archive.buffer] : [];
    self.postMessage({ id, ok: true, ...answer }, transfer);
  } catch (e) {
    const error =
      e && e.name === 'ZAVError'
        ? { number: e.number, description: e.description }
        : { number: 0, description: String((e && e.message) || e) };
    self.postMessage({ id, ok: false, error, kind: e && e.name });
  }
};
