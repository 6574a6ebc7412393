// zav-control: the payment-file control for programs, on a file held in memory.
//
//   validate(bytes, options)  as the payment page does: the verdict and, when accepted,
//                             the capture line, the parameter string and the packed archive
//   check(bytes, options)     the verdict of the file as it stands, with every problem:
//                             the object `zav check --all --json` prints
//   diagnose(bytes, options)  every problem only (the `problems` of check)
//
// `bytes` is the payment file (a Uint8Array). Options: name (the file's name; by default
// the name its header calls for, such as P0404268.ZAV), serverDate (DD/MM/YYYY, default
// today), tolerance (igToler, 0 to 255), management (bgGerencia), disks (NumDiscos,
// default 1), onProgress(done, total) (records walked, now and then).
//
// One control serves every call, one call at a time; the module loads on the first.

import createZavModule from '../dist/zavctl.js';
import { zipSync } from '../dist/fflate.js';
import { decodeCp1252, encodeCp1252 } from '../dzip.js';
import { openControl } from './control.mjs';

const pad = (n, width) => String(n).padStart(width, '0');
const today = () => {
  const d = new Date();
  return `${pad(d.getDate(), 2)}/${pad(d.getMonth() + 1, 2)}/${d.getFullYear()}`;
};

// The work name a header calls for: a letter, the period's year (two digits) and month,
// characters 3, 7 and 9 of the employer's registration number.
export function nameFromHeader(bytes) {
  const header = decodeCp1252(bytes.subarray(0, 40));
  const registro = header.slice(2, 13); // positions 3 to 13
  return `P${header.slice(28, 32)}${registro.charAt(2)}${registro.charAt(6)}${registro.charAt(8)}.ZAV`;
}

export function makeControl(moduleOptions) {
  let opened = null;
  let queue = Promise.resolve();

  // Puts the file in the work folder under its name and runs `step` on the control.
  async function withFile(bytes, options, step) {
    if (!(bytes instanceof Uint8Array)) throw new TypeError('the payment file must be a Uint8Array');
    opened ??= (async () => openControl(createZavModule, { moduleOptions: await moduleOptions(), zip: { zipSync } }))();
    const control = await opened;
    const run = queue.then(() => {
      const { zav, module } = control;
      const name = options.name ?? nameFromHeader(bytes);
      const bare = name.slice(Math.max(name.lastIndexOf('/'), name.lastIndexOf('\\')) + 1);
      control.beginPayment();
      zav.FinalArchi = bare;
      zav.OrigenNombre = bare; // as bringing the file in from a diskette names it
      zav.NumDiscos = options.disks ?? 1;
      zav.igToler = options.tolerance ?? 0;
      zav.bgGerencia = options.management ?? false;
      const work = control.nativePath(encodeCp1252(zav.DestinoArchi + bare));
      if (work.error) throw new Error(`no work folder (error ${work.error})`);
      module.FS.writeFile(work.path, bytes);
      control.onProgress = options.onProgress ?? null;
      try {
        return step(control, options.serverDate ?? today());
      } finally {
        control.onProgress = null;
        control.beginPayment(); // nothing of the file stays behind
      }
    });
    queue = run.catch(() => {});
    return run;
  }

  return {
    validate: (bytes, options = {}) =>
      withFile(bytes, options, (control, date) => {
        const { zav } = control;
        const result = zav.ValidaReg(date);
        const outcome = control.lastOutcome();
        const accepted = result === '0';
        return {
          result,
          accepted,
          message: outcome.message,
          record: outcome.record,
          capture_line: accepted ? zav.LineaDeCaptura() : null,
          param: accepted ? zav.sParamZAV : null,
          archive_name: accepted ? zav.sArchZAVZip : null,
          archive: accepted ? control.readFile(zav.sRutaArchZAVZip) : null,
          failure: outcome.failure,
        };
      }),
    check: (bytes, options = {}) => withFile(bytes, options, (control, date) => control.check(date, true)),
    diagnose: (bytes, options = {}) =>
      withFile(bytes, options, (control, date) => control.diagnose(date).problems),
  };
}
