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
// A file in one piece is deflated for its archive on threads of their own (pack-worker.js)
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
//                                 {problems, more} (reports/problems_json.hpp), the first
//                                 `keep` of them and how many more
//   record {number}               {text}: record `number` of the work file, or null
// While a run or a diagnosis walks the records the worker also posts {progress: {done,
// total}} (no id). A run cannot be interrupted: the page cancels by ending the worker.

import createZavModule from './dist/zavctl.js';
import { Zip, zipSync } from './dist/fflate.js';
import { openControl, SOURCE } from './lib/control.mjs';
import { ZAVError } from './zav.js';
import { combineCrc32 } from './dzip.js';

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
    shareReads();
    startPackers();
    // Once the page knows the control is ready; requests that come before it is done
    // wait for it.
    warming = new Promise((go) => setTimeout(go, 0)).then(warmUp);
  })().catch((e) => {
    loading = null; // the next request tries again
    throw e;
  });
  return loading;
}

// A file of the control's own goes the whole way a picked file goes: put on drive
// A, read where it lies in blocks, validated, deflated on the packers and zipped. The
// user's first file then finds every step's code compiled to the full: checking a file of
// 5 000 workers in the control alone left the first 100 000-worker file 0.05 to 0.3 s
// slower than the next ones, going the whole way with 5 000 still about 0.05 s. It runs
// once the page is ready and takes under a second here (2 cores), before anybody has
// picked a file; a file picked sooner waits for it. It leaves nothing behind, and a
// failure only means that the first file is slower.
const WARM_UP_WORKERS = 20000; // about 6 MB
const WARM_UP_DATE = '10/05/2004'; // the made-up file's deadline is 17/05/2004
let warming = null;
async function warmUp() {
  const progress = module.onProgress;
  control.onProgress = null;
  try {
    const path = module.ccall('zav_warm_up_file', 'string', ['number'], [WARM_UP_WORKERS]);
    if (!path) return;
    const bytes = module.FS.readFile(path);
    module.FS.unlink(path);
    module.FS.rmdir(path.slice(0, path.lastIndexOf('/')));
    single({ name: path.slice(path.lastIndexOf('/') + 1), file: new Blob([bytes]) });
    await validate({ serverDate: WARM_UP_DATE });
  } catch (e) {
    console.warn('zav: warm-up:', e);
  } finally {
    stopDeflating();
    try {
      control.beginPayment(); // an empty work folder again
    } catch {
      // The next file begins its payment anyway.
    }
    control.onProgress = progress;
  }
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
      return finishDeflating(waiting).then((packed) => {
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

// How a picked file is deflated: at libdeflate's level LEVEL (an archive about 10% larger
// than zip -6 makes, in about a quarter of its time), on as many packers as the device has
// cores, at most MAX_PACKERS. What the validation's reads do not hand on, the packers read
// themselves in parts of PART bytes.
const PART = 4 << 20;
const LEVEL = 2;
const MAX_PACKERS = 4;

// The packers (pack-worker.js), started with the control and kept: {worker, ready (a
// promise, true once loaded), jobs (job number to the function its answer goes to)}.
let packers = [];
let jobs = 0;

// Starts the packers that are missing. Where no thread can be had there are none, and the
// zip entry deflates files itself.
function startPackers() {
  const count = Math.min(MAX_PACKERS, Math.max(1, navigator.hardwareConcurrency || 2));
  while (packers.length < count) {
    let worker = null;
    try {
      worker = new Worker(new URL('./pack-worker.js', import.meta.url), { type: 'module' });
    } catch {
      return;
    }
    const packer = { worker, jobs: new Map(), loaded: null };
    packer.ready = new Promise((resolve) => (packer.loaded = resolve));
    worker.onmessage = (event) => {
      const { job, parts, error } = event.data;
      if (job === undefined) {
        packer.loaded(!error);
        if (error) dropPacker(packer);
        return;
      }
      const answer = packer.jobs.get(job);
      packer.jobs.delete(job);
      if (answer) answer(error ? null : parts);
    };
    worker.onerror = () => dropPacker(packer);
    worker.postMessage({ warmUp: LEVEL });
    packers.push(packer);
  }
}

// Ends a packer, and with it what it was doing.
function dropPacker(packer) {
  packer.worker.terminate();
  packers = packers.filter((p) => p !== packer);
  packer.loaded(false);
  for (const answer of packer.jobs.values()) answer(null);
  packer.jobs.clear();
}

// Sends `request` to `packer`: a promise of the deflated parts, or null when it failed.
function ask(packer, request, transfer = []) {
  const job = ++jobs;
  return new Promise((resolve) => {
    packer.jobs.set(job, resolve);
    packer.worker.postMessage({ job, ...request }, transfer);
  });
}

// Starts deflating `file` for its archive on the packers. The validation reads the file
// anyway: each read that comes next in the file is handed on to a packer as it is
// (`handOn`), so the file is read once. What it did not read in order the packers read
// themselves when the zip entry asks (`finishDeflating`).
function startDeflating(file) {
  startPackers();
  const team = [...packers];
  if (team.length === 0) return; // the zip entry deflates the file itself
  // A packer started a moment ago loads only while this thread waits: a run that did not
  // wait until they are loaded would have them start when it has finished. A few seconds
  // at most.
  const loaded = Promise.all(team.map((packer) => packer.ready));
  const started = Promise.race([loaded, new Promise((go) => setTimeout(go, 3000))]);
  // A packer still at work on a file no longer wanted is ended, and another started.
  const stop = () => {
    for (const packer of team) if (packer.jobs.size > 0) dropPacker(packer);
    startPackers();
  };
  deflating = { file, team, next: 0, turns: 0, answers: [], done: null, result: null, started, stop };
}

// The bytes at `position` of `file`, just read for the validation, go to the packers when
// they continue the file being deflated. A file of up to COPIED_UP_TO bytes is handed on
// as it is read, a copy shared among the packers, so that its last block is deflated on
// every core at once; a larger one block by block once the validation has read it to its
// end, the block itself, for copying every block would cost its validation more.
const COPIED_UP_TO = 64 << 20;
function handOn(file, position, bytes) {
  const d = deflating;
  if (!d || d.done || file !== d.file || position !== d.next || !bytes.length) return;
  const whole = file.size > COPIED_UP_TO;
  const shares = whole ? 1 : d.team.length;
  for (let k = 0; k < shares; ++k) {
    const share = whole
      ? bytes
      : bytes.slice(Math.floor((k * bytes.length) / shares), Math.floor(((k + 1) * bytes.length) / shares));
    if (!share.length) continue;
    d.next += share.length;
    const packer = d.team[d.turns++ % d.team.length];
    const last = d.next === d.file.size;
    d.answers.push(ask(packer, { bytes: share.buffer, last, level: LEVEL }, [share.buffer]));
  }
}

// The deflated file once every part is in: {chunks, crc, size}, or null. The rest of the
// file that no read handed on is shared out among the packers, in runs of whole parts.
function finishDeflating(d) {
  if (d.done) return d.done;
  const rest = d.file.size - d.next;
  const parts = Math.ceil(rest / PART);
  const count = Math.min(parts, d.team.length);
  for (let k = 0; k < count || (d.answers.length === 0 && k === 0); ++k) {
    const from = d.next + Math.floor((k * parts) / Math.max(count, 1)) * PART;
    const to = Math.min(d.file.size, d.next + Math.floor(((k + 1) * parts) / Math.max(count, 1)) * PART);
    d.answers.push(ask(d.team[k], { file: d.file, from, to, part: PART, level: LEVEL }));
  }
  d.next = d.file.size;
  d.done = Promise.all(d.answers).then((answers) => {
    if (answers.some((answer) => !answer)) return null;
    d.answers = []; // the parts live on in the result only, and go with it
    const all = answers.flat();
    let crc = 0;
    for (const part of all) crc = combineCrc32(crc, part.crc, part.size);
    return { chunks: all.map((part) => part.bytes), crc, size: d.file.size };
  });
  return d.done;
}

// The picked file's reads, as the module's own (WORKERFS) do them, but in blocks of
// READ_BLOCK bytes: each read is a round trip to the browser's file service, and a few large
// ones cost much less than many of the control's size. The last blocks read are kept, for
// the control reads a file's start again after a look at its end; each block read goes on
// to the packers.
const READ_BLOCK = 16 << 20;
const BLOCKS_KEPT = 2;
let kept = { file: null, blocks: new Map() }; // block number to its bytes, oldest first
function shareReads() {
  const workerfs = module.FS.filesystems.WORKERFS;
  if (!workerfs || !workerfs.stream_ops || typeof workerfs.stream_ops.read !== 'function') return;
  const reader = new FileReaderSync();
  workerfs.stream_ops.read = (stream, buffer, offset, length, position) => {
    const file = stream.node.contents;
    const end = Math.min(position + length, stream.node.size);
    if (position >= end) return 0;
    if (kept.file !== file) kept = { file, blocks: new Map() };
    for (let i = Math.floor(position / READ_BLOCK), at = position; at < end; ++i) {
      let block = kept.blocks.get(i);
      if (block) {
        kept.blocks.delete(i); // to the newest place
      } else {
        block = new Uint8Array(reader.readAsArrayBuffer(file.slice(i * READ_BLOCK, (i + 1) * READ_BLOCK)));
        if (block.length !== Math.min(READ_BLOCK, stream.node.size - i * READ_BLOCK)) {
          throw new module.FS.ErrnoError(29); // EIO: the file changed under the control
        }
        if (file.size <= COPIED_UP_TO) handOn(file, i * READ_BLOCK, block);
      }
      kept.blocks.set(i, block);
      const piece = block.subarray(at - i * READ_BLOCK, end - i * READ_BLOCK);
      buffer.set(piece, offset + (at - position));
      at += piece.length;
    }
    if (file.size > COPIED_UP_TO) {
      for (const [i, block] of kept.blocks) {
        if (i * READ_BLOCK + block.length > end) continue; // not read to its end yet
        kept.blocks.delete(i);
        handOn(file, i * READ_BLOCK, block);
      }
    }
    while (kept.blocks.size > BLOCKS_KEPT) kept.blocks.delete(kept.blocks.keys().next().value);
    return end - position;
  };
}

// Forgets the deflating under way, stopping its thread (a rejected file needs none).
function stopDeflating() {
  if (deflating) deflating.stop();
  deflating = null;
  kept = { file: null, blocks: new Map() };
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
    if (deflating) deflating.result = await finishDeflating(deflating);
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
  const archive = control.takeFile(archivePath);
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
    await load();
    if (op !== 'load') await warming;
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
