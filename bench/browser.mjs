// Timing of the browser control in headless Chromium, through the page as a user meets it:
// the payment file is picked in the page's file input, the page's worker (the WebAssembly
// control, the file read where it lies, deflated on the packer threads) validates and
// packs it, and the verdict appears.
//
//   node bench/browser.mjs --zav build/bin/zav --site build-wasm/site --file F [--reps N]
//                          [--server-date DD/MM/YYYY]
//
// The first file is picked a second after the page is ready, as a user's would be at the
// soonest. Each repetition times, in the page, from the file input's change to the first
// frame painted once the verdict is set (BENCH_TIMES=1 prints every repetition's time, and
// how long the page took to be ready, on stderr), then, for a file under 100 MB, sends the
// archive (the upload is answered here, not stored) to learn its size: the browser hands
// an intercepted request's body to this program whole, which would count in its memory.
// Prints one JSON line: {"seconds": median, "archive": bytes or null, "peak_mib": the
// largest peak resident memory of any Chromium process over the whole run}.
// Needs the browser tools (scripts/install-deps --web) and a built site (web/build-wasm.sh).

import { execFileSync } from 'node:child_process';
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
const measureArchive = fs.statSync(file).size < 100e6;

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  return s[Math.floor(s.length / 2)];
};

// The processes started from this one (Chromium's, the server's), by pid.
function descendants() {
  const children = new Map();
  for (const line of execFileSync('ps', ['-e', '-o', 'pid=,ppid=,comm='], { encoding: 'utf8' })
    .trim()
    .split('\n')) {
    const [pid, ppid, comm] = line.trim().split(/\s+/);
    if (!children.has(ppid)) children.set(ppid, []);
    children.get(ppid).push({ pid, comm });
  }
  const found = [];
  const walk = (pid) => {
    for (const c of children.get(pid) || []) {
      found.push(c);
      walk(c.pid);
    }
  };
  walk(String(process.pid));
  return found;
}

// The largest peak resident memory (VmHWM, MiB) of any Chromium process now running.
function chromiumPeakMiB() {
  let peak = 0;
  for (const { pid, comm } of descendants()) {
    if (!/chrom/i.test(comm)) continue;
    try {
      const m = /VmHWM:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
      if (m) peak = Math.max(peak, Number(m[1]) / 1024);
    } catch {
      // gone meanwhile
    }
  }
  return peak;
}

async function main() {
  const work = fs.mkdtempSync(path.join(path.dirname(file), '.browser-bench-'));
  const { url, process: server } = await startServer(zavBin, site, path.join(work, 'uploads'));
  const browser = await chromium.launch({
    executablePath: process.env.ZAV_CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox'],
  });
  let peak = 0;
  const sampler = setInterval(() => {
    peak = Math.max(peak, chromiumPeakMiB());
  }, 200);
  try {
    const page = await browser.newPage();
    page.setDefaultTimeout(600_000);
    page.on('console', (m) => {
      if (m.type() === 'error') console.error(`[page] ${m.text()}`);
    });
    let archive = null;
    await page.route('**/api/date', (route) => route.fulfill({ body: serverDate }));
    await page.route('**/api/upload**', (route) => {
      archive = route.request().postDataBuffer().length;
      route.fulfill({ status: 201, contentType: 'application/json', body: '{}' });
    });
    const opened = performance.now();
    await page.goto(url);
    await page.waitForSelector('body[data-listo="true"]');
    const ready = (performance.now() - opened) / 1000;
    // Nobody picks a file within a second of the page being ready: the page's warm-up
    // (web/worker.js) has that second, as it has with a user.
    await new Promise((go) => setTimeout(go, 1000));
    const times = [];
    for (let k = 0; k < reps; ++k) {
      await page.evaluate(() => {
        window.benchStart = null;
        window.benchEnd = null;
        document.getElementById('archivo').addEventListener(
          'change',
          () => {
            window.benchStart = performance.now();
          },
          { capture: true, once: true },
        );
        // The verdict is shown with the first frame painted after it is set.
        const verdict = document.getElementById('veredicto');
        const seen = new MutationObserver(() => {
          if (!verdict.dataset.estado) return;
          seen.disconnect();
          requestAnimationFrame(() => {
            window.benchEnd = performance.now();
          });
        });
        seen.observe(verdict, { attributes: true, attributeFilter: ['data-estado'] });
      });
      await page.setInputFiles('#archivo', file);
      await page.waitForFunction(() => window.benchEnd !== null);
      const { state, seconds } = await page.evaluate(() => ({
        state: document.getElementById('veredicto').dataset.estado,
        seconds: (window.benchEnd - window.benchStart) / 1000,
      }));
      if (state !== 'aceptado') throw new Error(`the file was not accepted (${state})`);
      times.push(seconds);
      if (!measureArchive) continue;
      await page.click('#enviar');
      await page.waitForSelector('#envio[data-estado]');
    }
    peak = Math.max(peak, chromiumPeakMiB());
    if (process.env.BENCH_TIMES) {
      const each = times.map((t) => t.toFixed(3)).join(' ');
      console.error(`ready ${ready.toFixed(3)} s after opening; each file: ${each}`);
    }
    console.log(JSON.stringify({ seconds: median(times), archive, peak_mib: Math.round(peak) }));
  } finally {
    clearInterval(sampler);
    await browser.close();
    await stopServer(server);
    fs.rmSync(work, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(`browser bench: ${e.message}`);
  process.exit(1);
});
