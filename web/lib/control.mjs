// The control in its WebAssembly module, for every host of it: the page's worker and the
// zav-control package. One module, one control instance, scripted by the control's own
// member names (zav.js) through its JSON host, with the browser build's C entries for what
// a page script cannot ask by name: why the last run refused (lastOutcome), the verdict
// of a file as it stands (check) and every problem of it (diagnose).
//
// Drives: A (removable, /a) is where a payment file is put, C (fixed, /c) holds the work
// folder C:\ZAV\temp\. The zip library entry writes archives with fflate (`zip`: its
// zipSync, and Zip with `deflated` for a file deflated elsewhere, see dzip.js).

import { decodeCp1252, encodeCp1252, makeDzipVB } from '../dzip.js';
import { createZAV } from '../zav.js';

export const DRIVES = 'A=removable:/a;C=fixed:/c';
export const SOURCE = 'A:\\';
const RECORD = 295;

export async function openControl(createModule, { moduleOptions = {}, zip = {} } = {}) {
  const module = await createModule({
    preRun: [
      (m) => {
        m.ENV.ZAV_DRIVES = DRIVES;
        m.FS.mkdir('/a');
        m.FS.mkdir('/c');
      },
    ],
    dzipVB: () => ({ result: 3, status: 5 }), // replaced below, once the file system exists
    print: (text) => console.log(text),
    printErr: (text) => console.warn(text),
    ...moduleOptions,
  });
  const text = (name, types = [], args = []) => module.ccall(name, 'string', types, args);
  const json = (name, types, args) => JSON.parse(text(name, types, args));

  // The in-memory path of a control path given as Windows-1252 bytes: {path} or {error}.
  function nativePath(bytes) {
    const ptr = module._malloc(bytes.length + 1);
    try {
      module.HEAPU8.set(bytes, ptr);
      module.HEAPU8[ptr + bytes.length] = 0;
      return JSON.parse(module.UTF8ToString(module.ccall('zav_native_path', 'number', ['number'], [ptr])));
    } finally {
      module._free(ptr);
    }
  }
  const pathOf = (controlPath) => nativePath(encodeCp1252(controlPath));

  module.dzipVB = makeDzipVB({ FS: module.FS, nativePath, ...zip });
  const zav = createZAV({
    request: (line) => text('zav_request', ['string'], [line]),
    typelib: () => text('zav_typelib'),
  });

  return {
    module,
    zav,
    nativePath,
    // A new payment file starts with an empty work folder: what earlier runs left there
    // (work files, archives already handed over) would only fill the memory.
    beginPayment() {
      zav.inicio();
      const folder = pathOf(zav.DestinoArchi);
      if (folder.error) return;
      for (const entry of module.FS.readdir(folder.path)) {
        const p = `${folder.path.replace(/\/$/, '')}/${entry}`;
        if (entry !== '.' && entry !== '..' && module.FS.isFile(module.FS.stat(p).mode)) module.FS.unlink(p);
      }
    },
    // {message, failure, record}: what stood behind ValidaReg's last answer.
    lastOutcome: () => json('zav_last_outcome'),
    // The work file's verdict as it stands (nothing renamed or packed), with the keys of
    // `zav check --json`, and with `all` its problems as `zav check --all --json` lists them.
    check: (serverDate, all) => json('zav_check', ['string', 'number'], [serverDate, all ? 1 : 0]),
    // {problems, more}: every problem of the work file, the first `keep` of them (0: all).
    diagnose: (serverDate, keep = 0) => json('zav_diagnose', ['string', 'number'], [serverDate, keep]),
    // Told (done, total) records now and then while a run or a diagnosis walks the file.
    set onProgress(listener) {
      module.onProgress = listener;
    },
    // The bytes of a file the control names (an archive it packed).
    readFile(controlPath) {
      const found = pathOf(controlPath);
      if (found.error) throw new Error(`${controlPath}: error ${found.error}`);
      return module.FS.readFile(found.path);
    },
    // The same, taken out of the in-memory file system without a copy: the file is gone
    // afterwards (an archive handed on whole).
    takeFile(controlPath) {
      const found = pathOf(controlPath);
      if (found.error) throw new Error(`${controlPath}: error ${found.error}`);
      const { node } = module.FS.lookupPath(found.path);
      const held = node.contents instanceof Uint8Array ? node.contents.subarray(0, node.usedBytes) : null;
      const bytes = held && held.length === node.usedBytes ? held : module.FS.readFile(found.path);
      module.FS.unlink(found.path);
      return bytes;
    },
    // Record n (1-based) of the work file as text, or null when there is none.
    workRecord(n) {
      const found = pathOf(zav.DestinoArchi + zav.FinalArchi);
      if (found.error || !Number.isInteger(n) || n < 1) return null;
      const stream = module.FS.open(found.path, 'r');
      try {
        const bytes = new Uint8Array(RECORD);
        const got = module.FS.read(stream, bytes, 0, RECORD, (n - 1) * RECORD);
        return got > 0 ? decodeCp1252(bytes.subarray(0, got)) : null;
      } finally {
        module.FS.close(stream);
      }
    },
  };
}
