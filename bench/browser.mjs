// Timing of the browser control in headless Chromium: the page's own worker (the
// WebAssembly control and the page's zip writer) validates and packs a payment file, the
// way the page does once the user has picked it.
//
//   node bench/browser.mjs --zav build/bin/zav --site build-wasm/site --file F [--reps N]
//                          [--server-date DD/MM/YYYY]
//
// The file reaches the page through an intercepted request, so it sits in the page's
// memory before the clock starts. Each repetition then times, in the page:
//   bring     the file into the control (inicio, copiaArch from the diskette drive)
//   validate  ValidaReg: every record checked, the file renamed and packed
// and prints the medians as one JSON line: {"bring": s, "validate": s, "total": s}.
// Needs the browser tools (scripts/install-deps --web) and a built site (web/build-wasm.sh).

import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { option, startServer, stopServer } from '../web/tests/harness.mjs';

const require = createRequire(path.resolve('web/package.json'));
const { chromium } = require('playwright-core');

const zavBin = path.resolve(option('zav'));
const site = path.resolve(option('site'));
const file = path.resolve(option('file'));
const reps = Number(option('reps', '3'));
const serverDate = option('server-date', '10/05/2004');

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  return s[Math.floor(s.length / 2)];
};

async function main() {
  const work = fs.mkdtempSync(path.join(path.dirname(file), '.browser-bench-'));
  const { url, process: server } = await startServer(zavBin, site, path.join(work, 'uploads'));
  const browser = await chromium.launch({
    executablePath: process.env.ZAV_CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox'],
  });
  try {
    const page = await browser.newPage();
    page.on('console', (m) => {
      if (m.type() === 'error') console.error(`[page] ${m.text()}`);
    });
    const body = fs.readFileSync(file);
    await page.route('**/bench-input', (route) =>
      route.fulfill({ status: 200, contentType: 'application/octet-stream', body }),
    );
    await page.goto(url);
    const times = await page.evaluate(
      async ({ name, reps, serverDate }) => {
        const bytes = new Uint8Array(await (await fetch('bench-input')).arrayBuffer());
        const worker = new Worker('worker.js', { type: 'module' });
        let next = 0;
        const call = (op, args = {}, transfer = []) =>
          new Promise((resolve, reject) => {
            const id = ++next;
            const listener = (event) => {
              if (event.data.id !== id) return;
              worker.removeEventListener('message', listener);
              if (event.data.ok) resolve(event.data);
              else reject(new Error(JSON.stringify(event.data.error)));
            };
            worker.addEventListener('message', listener);
            worker.postMessage({ id, op, ...args }, transfer);
          });
        await call('load');
        const runs = [];
        for (let k = 0; k < reps; ++k) {
          const copy = bytes.slice();  // the page hands the worker its own copy
          const t0 = performance.now();
          await call('single', { name, bytes: copy }, [copy.buffer]);
          const t1 = performance.now();
          const answer = await call('validate', { serverDate });
          const t2 = performance.now();
          if (!answer.accepted) throw new Error(`rejected: ${JSON.stringify(answer)}`);
          runs.push({ bring: (t1 - t0) / 1000, validate: (t2 - t1) / 1000, total: (t2 - t0) / 1000 });
        }
        worker.terminate();
        return runs;
      },
      { name: path.basename(file), reps, serverDate },
    );
    const result = {};
    for (const key of ['bring', 'validate', 'total']) result[key] = median(times.map((t) => t[key]));
    console.log(JSON.stringify(result));
  } finally {
    await browser.close();
    await stopServer(server);
    fs.rmSync(work, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(`browser bench: ${e.message}`);
  process.exit(1);
});
