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
// A file in one piece is deflated for its archive on a thread of its own (pack-worker.js)
// while it is validated; the control's zip entry then only writes the container. Where
// the browser can suspend WebAssembly on a promise (JSPI), the run waits for the deflated
// bytes only when it reaches its zip entry; elsewhere ValidaReg starts once they are there.
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
import { ZAVError } from './zav.js';

let control = null;
let zav = null;
let module = null;
// ValidaReg through the JSON host as a promise, when the run can wait inside (JSPI).
let validateAsync = null;
let diskette = false; // a file system over a picked file is mounted on A
// The picked file being deflated: {file, done: Promise of {chunks, crc, size} or null}.
let deflating = null;

// Loads the control once: requests that come while it loads wait for the same module.
let loading = null;
function load() {
  loading ??= (async () => {
    control = await openControl(createZavModule, {
      moduleOptions: { instantiateWasm },
      zip: { zipSync, Zip, deflated },
    });
    ({ zav, module } = control);
    if (suspending) validateAsync = promisedValidation();
    // How far a run or a diagnosis got, for the page's progress bar.
    control.onProgress = (done, total) => self.postMessage({ progress: { done, total } });
  })().catch((e) => {
    loading = null; // the next request tries again
    throw e;
  });
  return loading;
}

// Whether the control's zip entry waits for the deflated bytes on a promise (JSPI).
let suspending = false;

// The module's instantiation, where the browser can suspend WebAssembly on a promise: the
// control's call to the page's zip writer first waits for the picked file's deflating.
function instantiateWasm(imports, receive) {
  // The import module's name and the imports' names may be shortened in the build.
  const env = Object.values(imports)[0];
  const key = Object.keys(env).find((k) => env[k] && env[k].name === 'zav_call_page_dzip');
  if (typeof WebAssembly.Suspending === 'function' && key) {
    const callPage = env[key];
    // Answers at once when there is nothing to wait for, so a run without a promise
    // around it (a plain ValidaReg) still packs.
    env[key] = new WebAssembly.Suspending((...args) => {
      const waiting = deflating;
      if (!waiting || waiting.result) return callPage(...args);
      return waiting.done.then((packed) => {
        waiting.result = packed;
        return callPage(...args);
      });
    });
    suspending = true;
  }
  WebAssembly.instantiateStreaming(fetch(new URL('./dist/zavctl.wasm', import.meta.url)), imports)
    .then(({ instance, module: compiled }) => receive(instance, compiled))
    .catch((e) => console.error('zavctl.wasm:', e));
  return {};
}

// ValidaReg as a promise that may wait inside for the deflating. Called once already, the
// module's wrapper has become the WebAssembly export itself.
function promisedValidation() {
  const request = WebAssembly.promising(module._zav_request);
  return async (serverDate) => {
    const line = new TextEncoder().encode(JSON.stringify({ call: 'ValidaReg', args: [serverDate] }));
    const ptr = module._malloc(line.length + 1);
    try {
      module.HEAPU8.set(line, ptr);
      module.HEAPU8[ptr + line.length] = 0;
      const answer = JSON.parse(module.UTF8ToString(await request(ptr)));
      if (!answer.ok) throw new ZAVError(answer.error.number, answer.error.description);
      return answer.result;
    } finally {
      module._free(ptr);
    }
  };
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
  let packer = null;
  let running = null;
  const started = new Promise((resolve) => {
    running = resolve;
  });
  const done = new Promise((resolve) => {
    try {
      packer = new Worker(new URL('./pack-worker.js', import.meta.url), { type: 'module' });
    } catch {
      running();
      resolve(null); // no thread to spare: the zip entry deflates the file itself
      return;
    }
    packer.onmessage = (event) => {
      if (event.data.started) return running();
      packer.terminate();
      resolve(event.data.error ? null : event.data);
    };
    packer.onerror = () => {
      running();
      packer.terminate();
      resolve(null);
    };
    packer.postMessage({ file });
  });
  // The thread starts only while this one waits: a run that did not wait until it is under
  // way would have it start when the run has finished. A few seconds at most.
  const underWay = Promise.race([started, new Promise((go) => setTimeout(go, 3000))]);
  const stop = () => packer && packer.terminate();
  deflating = { file, done, result: null, started: underWay, stop };
}

// Forgets the deflating under way, stopping its thread (a rejected file needs none).
function stopDeflating() {
  if (deflating) deflating.stop();
  deflating = null;
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
  stopDeflating();
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
  stopDeflating();
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
  let result;
  if (deflating) await deflating.started;
  if (validateAsync) {
    result = await validateAsync(serverDate);
  } else {
    if (deflating) deflating.result = await deflating.done;
    result = zav.ValidaReg(serverDate);
  }
  stopDeflating();
  const outcome = control.lastOutcome();
  if (result !== '0') {
    return {
      accepted: false,
      result,
      message: outcome.message,
      failure: outcome.failure,
      record: outcome.record,
      atRecord: outcome.at_record,
      hint: outcome.hint,
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
