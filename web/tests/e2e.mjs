// End-to-end test of the payment page in headless Chromium, against `zav serve`.
//
//   node web/tests/e2e.mjs --zav build/bin/zav --site build-wasm/site --out build
//
// 1. A fresh valid payment file (this month's period, deadline ahead) is picked in the
//    page, validated by the WebAssembly control against the server's date, and accepted:
//    the capture line and the figures of the parameter string are the ones the native
//    control gives for the same file. Sent without a key, the page says in Spanish that
//    the key is missing; with the key the upload stores the server's archive in its
//    upload folder, holding the file byte for byte.
// 2. Then, in the same page, the same file split over three diskettes, picked one part
//    after another, is accepted with the same capture line.
// 3. The file with one character of its stored check value changed is rejected with
//    message 144, its text shown as the control gives it, and nothing is uploaded.
// Screenshots go to <out>/e2e-*.png. Exits 0 when every check passed, 1 otherwise.

import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { unzipSync } from 'fflate';
import { chromium } from 'playwright-core';
import { option, startServer, stopServer } from './harness.mjs';

const CHROMIUM = process.env.ZAV_CHROMIUM || '/usr/bin/chromium';
const STEP_TIMEOUT = 60_000;
const RECORD = 295;

const zavBin = path.resolve(option('zav'));
const site = path.resolve(option('site'));
const outDir = path.resolve(option('out'));

let passed = 0;
let failed = 0;
function check(what, ok, detail = '') {
  if (ok) passed += 1;
  else failed += 1;
  console.log(ok ? `ok   ${what}` : `FAIL ${what}${detail ? `\n     ${detail}` : ''}`);
  return ok;
}

const ddmmyyyy = (d) =>
  `${String(d.getDate()).padStart(2, '0')}/${String(d.getMonth() + 1).padStart(2, '0')}/${d.getFullYear()}`;

// The native control works on a drive of its own inside the test's folder.
const nativeEnv = { ...process.env };
function zav(...args) {
  return execFileSync(zavBin, args, { encoding: 'utf8', env: nativeEnv });
}

// The native control's verdict of a file, `zav check --json` (exit 1 is a rejection).
function nativeCheck(file) {
  try {
    return JSON.parse(zav('check', file, '--json'));
  } catch (e) {
    if (e.stdout) return JSON.parse(e.stdout);
    throw e;
  }
}

function uploadedArchives(uploads) {
  return fs.readdirSync(uploads).filter((n) => !n.startsWith('.') && n.endsWith('.zip'));
}

// Loads the page afresh and waits until the control is ready and the date is known.
async function openPage(context, url, problems) {
  const page = await context.newPage();
  page.setDefaultTimeout(STEP_TIMEOUT);
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  // The browser logs every refused request; the one refusal sent on purpose (no key) is not
  // a problem of the page.
  const expected = /^Failed to load resource: the server responded with a status of 401/;
  page.on('console', (m) => m.type() === 'error' && !expected.test(m.text()) && problems.push(`console: ${m.text()}`));
  await page.goto(url);
  await page.waitForSelector('body[data-listo="true"]');
  return page;
}

async function verdictOf(page) {
  await page.waitForSelector('#veredicto[data-estado]');
  return page.getAttribute('#veredicto', 'data-estado');
}

async function main() {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'zav-e2e-'));
  const [uploads, profile, nativeDrive] = ['uploads', 'chromium-profile', 'native-c'].map((d) => path.join(work, d));
  fs.mkdirSync(outDir, { recursive: true });
  fs.mkdirSync(nativeDrive);
  nativeEnv.ZAV_DRIVES = `C=fixed:${nativeDrive}`;

  // A file that is on time today: this month's period, its deadline a month ahead.
  const today = new Date();
  const period = `${today.getFullYear()}${String(today.getMonth() + 1).padStart(2, '0')}`;
  const deadline = ddmmyyyy(new Date(today.getTime() + 30 * 86_400_000));
  const [okDir, partsDir, badDir] = ['ok', 'parts', 'bad'].map((d) => path.join(work, d));
  for (const d of [okDir, partsDir, badDir]) fs.mkdirSync(d);
  const sample = ['sample', '--workers', '20', '--period', period, '--deadline', deadline];
  zav(...sample, '-o', okDir);
  zav(...sample, '--disks', '3', '-o', partsDir);
  const okName = fs.readdirSync(okDir).find((n) => n.toUpperCase().endsWith('.ZAV'));
  const okFile = path.join(okDir, okName);
  const parts = fs.readdirSync(partsDir).filter((n) => /\.ZA\d$/i.test(n)).sort().map((n) => path.join(partsDir, n));

  // The same file with one digit of its stored check value (positions 121 to 139 of
  // the last record) changed.
  const bytes = fs.readFileSync(okFile);
  const tampered = Buffer.from(bytes);
  const at = tampered.length - RECORD + 130 - 1;
  const c = tampered[at];
  tampered[at] = c >= 0x30 && c <= 0x39 ? 0x30 + ((c - 0x30 + 1) % 10) : 0x30;
  const badFile = path.join(badDir, okName);
  fs.writeFileSync(badFile, tampered);

  const native = nativeCheck(okFile);
  check('the native control accepts the fresh sample file', native.accepted === true, JSON.stringify(native));
  const message144 = zav('message', '144').trim();

  const tokens = path.join(work, 'tokens');
  const token = zav('serve', 'token', 'add', '--tokens', tokens, 'A1234567890').trim();
  const { url, process: server } = await startServer(zavBin, site, uploads, ['--tokens', tokens]);
  console.log(`zav serve at ${url}`);
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1100, height: 900 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const problems = [];
  try {
    // ---- 1. A valid file in one piece ----
    let page = await openPage(context, url, problems);
    const shownDate = (await page.textContent('#fecha-servidor strong')).trim();
    check('the page shows the server date', shownDate === ddmmyyyy(new Date()), shownDate);

    await page.setInputFiles('#archivo', okFile);
    const verdict = await verdictOf(page);
    check('a valid file is accepted', verdict === 'aceptado', await page.textContent('#veredicto'));
    if (verdict === 'aceptado') {
      const capture = (await page.textContent('#linea-captura')).trim();
      check('the capture line is the native control\u2019s', capture === native.capture_line, `${capture} vs ${native.capture_line}`);
      const archiveName = (await page.textContent('#nombre-paquete')).trim();
      const total = (await page.textContent('#total')).trim();
      const nativeFields = native.param.split('|');
      const expectedTotal = new Intl.NumberFormat('es-MX', { style: 'currency', currency: 'MXN' }).format(Number(nativeFields[27]));
      check('the total to pay is the parameter string\u2019s', total === expectedTotal, `${total} vs ${expectedTotal}`);
      const employer = await page.textContent('#datos-patron');
      check('the employer and registration are shown', employer.includes(nativeFields[0].trim()) && employer.includes(nativeFields[1]), employer);
      await page.screenshot({ path: path.join(outDir, 'e2e-aceptado.png'), fullPage: true });

      await page.fill('#clave', '');
      await page.click('#enviar');
      await page.waitForSelector('#envio[data-estado]');
      const refusal = await page.textContent('#envio');
      check('without a key the page says so in Spanish', /clave de envío/.test(refusal) && !/credentials/.test(refusal), refusal);
      check('and nothing is stored', uploadedArchives(uploads).length === 0, uploadedArchives(uploads).join(', '));
      await page.fill('#clave', token);
      await page.click('#enviar');
      await page.waitForSelector('#envio[data-estado]'); // the click cleared the first answer
      const sent = await page.getAttribute('#envio', 'data-estado');
      check('the upload is stored', sent === 'enviado', await page.textContent('#envio'));
      const stored = uploadedArchives(uploads);
      check('the upload folder holds the archive under its name', stored.length === 1 && stored[0] === archiveName, stored.join(', '));
      if (stored.length === 1) {
        const entries = unzipSync(fs.readFileSync(path.join(uploads, stored[0])));
        const names = Object.keys(entries);
        check('the archive holds the payment file byte for byte', names.length === 1 && Buffer.from(entries[names[0]]).equals(bytes), names.join(', '));
      }
      await page.screenshot({ path: path.join(outDir, 'e2e-enviado.png'), fullPage: true });

      // The same page on a phone's screen.
      await page.setViewportSize({ width: 390, height: 844 });
      await page.screenshot({ path: path.join(outDir, 'e2e-telefono.png'), fullPage: true });
      const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
      check('the page fits a phone\u2019s width', overflow <= 0, `${overflow}px too wide`);
    }

    // ---- 2. The same payment on three diskettes, one after another, in the same page ----
    await page.setViewportSize({ width: 1100, height: 900 });
    for (const part of parts) {
      await page.waitForSelector('#archivo:not([disabled])');
      await page.setInputFiles('#archivo', part);
    }
    const partsVerdict = await verdictOf(page);
    check(`the file on ${parts.length} diskettes is accepted`, partsVerdict === 'aceptado', await page.textContent('#veredicto'));
    if (partsVerdict === 'aceptado') {
      const nativeParts = nativeCheck(parts[0]);
      const capture = (await page.textContent('#linea-captura')).trim();
      check('its capture line is the native control\u2019s', capture === nativeParts.capture_line, `${capture} vs ${nativeParts.capture_line}`);
    }
    await page.close();

    // ---- 3. A changed check value ----
    page = await openPage(context, url, problems);
    await page.setInputFiles('#archivo', badFile);
    const badVerdict = await verdictOf(page);
    check('a changed check value is rejected', badVerdict === 'rechazado');
    const number = await page.getAttribute('#mensaje', 'data-numero');
    check('with message 144', number === '144', `message ${number}`);
    const text = await page.textContent('#mensaje');
    check('its text as the control gives it, folio line included', text.startsWith(message144) && /\nFolio: ?\d*/.test(text), JSON.stringify(text));
    check('and nothing to upload', !(await page.isVisible('#enviar')));
    await page.screenshot({ path: path.join(outDir, 'e2e-rechazado.png'), fullPage: true });
    check('nothing more was uploaded', uploadedArchives(uploads).length === 1, uploadedArchives(uploads).join(', '));
    await page.close();

    check('no script errors on the page', problems.length === 0, problems.join('\n     '));
  } finally {
    await context.close();
    const code = await stopServer(server);
    if (code !== 0) console.log(`note: zav serve ended with ${code}`);
    fs.rmSync(work, { recursive: true, force: true });
  }
}

const started = Date.now();
const guard = setTimeout(() => {
  console.log('FAIL the end-to-end test took longer than 5 minutes');
  process.exit(1);
}, 300_000);
try {
  await main();
} catch (e) {
  check('the end-to-end run completed', false, e.stack || String(e));
}
clearTimeout(guard);
console.log(`e2e: ${((Date.now() - started) / 1000).toFixed(1)} s`);
console.log(`e2e: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 && passed > 0 ? 0 : 1);
