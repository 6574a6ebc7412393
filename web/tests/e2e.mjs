// The payment page end to end in headless Chromium against `zav serve`, in one browser session
// (axe-core checks WCAG 2.1 A/AA in each state; screenshots go to <out>/e2e-*.png):
//   node web/tests/e2e.mjs --zav build/bin/zav --site build-wasm/site --out build

import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { unzipSync } from 'fflate';
import { chromium } from 'playwright-core';
import { option, startServer, stopServer } from './harness.mjs';

const CHROMIUM = process.env.ZAV_CHROMIUM || '/usr/bin/chromium';
const AXE = createRequire(import.meta.url).resolve('axe-core/axe.min.js');
const STEP_TIMEOUT = 60_000;
const RECORD = 295;

const zavBin = path.resolve(option('zav'));
const site = path.resolve(option('site'));
const outDir = path.resolve(option('out'));

let [passed, failed] = [0, 0];
function check(what, ok, detail = '') {
  ok ? (passed += 1) : (failed += 1);
  console.log(ok ? `ok   ${what}` : `FAIL ${what}${detail ? `\n     ${detail}` : ''}`);
  return ok;
}

const ddmmyyyy = (d) =>
  `${String(d.getDate()).padStart(2, '0')}/${String(d.getMonth() + 1).padStart(2, '0')}/${d.getFullYear()}`;

const nativeEnv = { ...process.env };
const zav = (...args) => execFileSync(zavBin, args, { encoding: 'utf8', env: nativeEnv });

// `zav check --json` of a file (exit 1 is a rejection).
function nativeCheck(file, ...more) {
  try {
    return JSON.parse(zav('check', file, '--json', ...more));
  } catch (e) {
    if (e.stdout) return JSON.parse(e.stdout);
    throw e;
  }
}

const uploadedArchives = (uploads) => fs.readdirSync(uploads).filter((n) => !n.startsWith('.') && n.endsWith('.zip'));
// Whether the archive holds one entry, `content` byte for byte.
const holds = (archive, content) => {
  const entries = Object.values(unzipSync(fs.readFileSync(archive)));
  return entries.length === 1 && Buffer.from(entries[0]).equals(content);
};
// A step that passes once what it waits for is there (a timeout ends the run).
const reached = async (what, waiting) => (await waiting, check(what, true));

// The page afresh, once the control is ready and the date known.
async function openPage(context, url, problems) {
  const page = await context.newPage();
  page.setDefaultTimeout(STEP_TIMEOUT);
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  const expected = /ERR_INTERNET_DISCONNECTED|ERR_CONNECTION_REFUSED/; // offline on purpose
  page.on('console', (m) => m.type() === 'error' && !expected.test(m.text()) && problems.push(`console: ${m.text()}`));
  await page.goto(url);
  await page.waitForSelector('body[data-listo="true"]');
  return page;
}

async function verdictOf(page) {
  await page.waitForSelector('#veredicto[data-estado]');
  return page.getAttribute('#veredicto', 'data-estado');
}

async function accessible(page, state) {
  if (!(await page.evaluate(() => 'axe' in window))) await page.addScriptTag({ path: AXE });
  const violations = await page.evaluate(async () => {
    const tags = ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'];
    const found = await window.axe.run(document, { runOnly: { type: 'tag', values: tags } });
    return found.violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
  });
  check(`no accessibility violations: ${state}`, violations.length === 0, violations.join('\n     '));
  await page.screenshot({ path: path.join(outDir, `e2e-${state}.png`), fullPage: true });
}

// The problems a CSV of the page lists, as {message, found, expected}.
function csvProblems(text) {
  const rows = [];
  for (const line of text.replace(/^\ufeff/, '').trim().split(/\r\n/).slice(1)) {
    const cells = [];
    for (const m of line.matchAll(/("(?:[^"]|"")*"|[^,]*)(,|$)/g)) {
      cells.push(m[1].startsWith('"') ? m[1].slice(1, -1).replace(/""/g, '"') : m[1]);
      if (m[2] === '') break;
    }
    rows.push({ message: Number(cells[5]), found: cells[7], expected: cells[8] });
  }
  return rows;
}

async function main() {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'zav-e2e-'));
  const [uploads, profile, nativeDrive] = ['uploads', 'chromium-profile', 'native-c'].map((d) => path.join(work, d));
  fs.mkdirSync(outDir, { recursive: true });
  fs.mkdirSync(nativeDrive);
  nativeEnv.ZAV_DRIVES = `C=fixed:${nativeDrive}`;

  // On time today: a period of this month (or, for archives of names of their own, of the
  // one or two before), the deadline a month ahead.
  const today = new Date();
  const deadline = ddmmyyyy(new Date(today.getTime() + 30 * 86_400_000));
  const dirs = Object.fromEntries(['ok', 'parts', 'bad', 'large', 'offline', 'broken'].map((d) => [d, path.join(work, d)]));
  for (const d of Object.values(dirs)) fs.mkdirSync(d);
  const sample = (dir, workers, monthsAgo, ...more) => {
    const d = new Date(today.getFullYear(), today.getMonth() - monthsAgo, 1);
    const period = `${d.getFullYear()}${String(d.getMonth() + 1).padStart(2, '0')}`;
    zav('sample', '--workers', String(workers), '--period', period, '--deadline', deadline, ...more, '-o', dir);
  };
  sample(dirs.ok, 20, 0);
  sample(dirs.parts, 20, 0, '--disks', '3');
  sample(dirs.offline, 20, 1);
  // Long enough to cancel while it runs, and over 64 MB, which the page packs block by block.
  sample(dirs.large, 230000, 2);
  const zavIn = (dir) => path.join(dir, fs.readdirSync(dir).find((n) => n.toUpperCase().endsWith('.ZAV')));
  const okFile = zavIn(dirs.ok);
  const okName = path.basename(okFile);
  const parts = fs.readdirSync(dirs.parts).filter((n) => /\.ZA\d$/i.test(n)).sort().map((n) => path.join(dirs.parts, n));

  // Five planted problems: a postal code with a letter (2100), a social security number with
  // a letter (225), a worker's fixed fee a peso higher than the summary has (240), two
  // diskettes declared (260), and so a check value that no longer matches (144).
  const bytes = fs.readFileSync(okFile);
  const bad = Buffer.from(bytes);
  const of = (type) => [...Array(Math.ceil(bad.length / RECORD)).keys()].filter((k) => bad.toString('latin1', k * RECORD, k * RECORD + 2) === type);
  const put = (index, start, text) => bad.write(text, index * RECORD + start - 1, 'latin1');
  const [worker1, worker2] = of('03');
  const fee = worker2 * RECORD + 160 - 1;
  put(0, 171, '0660X');
  put(worker1, 33, '1234567890X');
  put(worker2, 160, String(Number(bad.toString('latin1', fee, fee + 7)) + 100).padStart(7, '0'));
  put(of('06')[0], 67, '02');
  const badFile = path.join(dirs.bad, okName);
  fs.writeFileSync(badFile, bad);
  const brokenFile = path.join(dirs.broken, okName);
  fs.writeFileSync(brokenFile, ''); // nothing to read: a run-time failure

  const native = nativeCheck(okFile);
  const nativeBad = nativeCheck(badFile, '--all');
  const planted = [2100, 225, 240, 260, 144];

  const tokens = path.join(work, 'tokens');
  const token = zav('serve', 'token', 'add', '--tokens', tokens, 'A1234567890').trim();
  let { url, process: server } = await startServer(zavBin, site, uploads, ['--tokens', tokens]);
  console.log(`zav serve at ${url}`);
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1100, height: 900 },
    acceptDownloads: true,
    // axe-core goes in as the test's script, which the server's Content-Security-Policy refuses.
    bypassCSP: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const problems = [];
  try {
    // ---- 1. A valid file in one piece ----
    let page = await openPage(context, url, problems);
    const text = async (selector) => (await page.textContent(selector)).trim();
    const focused = (what = 'id') => page.evaluate((w) => document.activeElement[w], what);
    const send = async (key) => {
      await page.fill('#clave', key);
      await page.click('#enviar');
    };
    const sentState = async () => (await page.waitForSelector('#envio[data-estado]'), page.getAttribute('#envio', 'data-estado'));
    const shownDate = await text('#fecha-servidor strong');
    check('the page shows the server date', shownDate === ddmmyyyy(new Date()), shownDate);
    await accessible(page, 'inicio');

    await page.setInputFiles('#archivo', okFile);
    const verdict = await verdictOf(page);
    check('a valid file is accepted', verdict === 'aceptado', await page.textContent('#veredicto'));
    if (verdict === 'aceptado') {
      const capture = await text('#linea-captura');
      check('the capture line is the native control\u2019s', capture === native.capture_line, `${capture} vs ${native.capture_line}`);
      const archiveName = await text('#nombre-paquete');
      const total = await text('#total');
      const nativeFields = native.param.split('|');
      const expectedTotal = new Intl.NumberFormat('es-MX', { style: 'currency', currency: 'MXN' }).format(Number(nativeFields[27]));
      check('the total to pay is the parameter string\u2019s', total === expectedTotal, `${total} vs ${expectedTotal}`);
      const employer = await page.textContent('#datos-patron');
      check('the employer and registration are shown', employer.includes(nativeFields[0].trim()) && employer.includes(nativeFields[1]), employer);
      check('the verdict has the focus', (await focused()) === 'veredicto-titulo');
      await reached('the verdict is announced in the live region',
        page.waitForFunction(() => document.getElementById('aviso').textContent.startsWith('Archivo válido')));
      await accessible(page, 'aceptado');

      await send(token);
      check('the upload is stored', (await sentState()) === 'enviado', await text('#envio'));
      const stored = uploadedArchives(uploads);
      check('the upload folder holds the archive under its name', stored.length === 1 && stored[0] === archiveName, stored.join(', '));
      check('the archive holds the payment file byte for byte', stored.length === 1 && holds(path.join(uploads, stored[0]), bytes));

      // The acuse de recibo: the server's signed receipt, its signature checked by the page.
      await page.waitForSelector('#acuse-firma:is([data-estado="valida"], [data-estado="invalida"], [data-estado="sin-verificar"])');
      check('the acuse says its signature is verified', (await page.getAttribute('#acuse-firma', 'data-estado')) === 'valida',
        await page.textContent('#acuse-firma'));
      const receipt = JSON.parse(fs.readFileSync(path.join(uploads, `${archiveName}.json`), 'utf8'));
      const acuse = await page.textContent('#acuse');
      check('the acuse shows the receipt number, capture line, total and digest',
        [receipt.receipt_number, receipt.capture_line, receipt.payment_sha256, receipt.rfc, expectedTotal].every((t) => acuse.includes(t)), acuse);
      const [acuseDownload] = await Promise.all([page.waitForEvent('download'), page.click('#descargar-acuse')]);
      check('it downloads as the signed receipt', JSON.stringify(JSON.parse(fs.readFileSync(await acuseDownload.path(), 'utf8'))) === JSON.stringify(receipt));
      await page.emulateMedia({ media: 'print' });
      const printed = await page.evaluate(() => ['veredicto', 'paso-archivo', 'acuse'].map((id) => document.getElementById(id).checkVisibility()));
      const pdfBytes = await page.pdf({ format: 'Letter' });
      const pages = (pdfBytes.toString('latin1').match(/\/Type\s*\/Page\b/g) ?? []).length;
      check('printed, the acuse is alone on one page', JSON.stringify(printed) === '[false,false,true]' && pages === 1, `${JSON.stringify(printed)}, ${pages} pages`);
      // What the employer keeps on paper, read back by poppler's pdftotext.
      const pdfFile = path.join(outDir, 'acuse.pdf');
      fs.writeFileSync(pdfFile, pdfBytes);
      let pdfText;
      try {
        pdfText = execFileSync('pdftotext', ['-layout', pdfFile, '-'], { encoding: 'utf8' });
      } catch (e) {
        pdfText = `pdftotext failed (scripts/install-deps --web installs poppler-utils): ${e.message}`;
      }
      const flat = pdfText.replace(/\s+/g, '');
      check('the printed acuse holds the folio, the capture line and the receipt number',
        [receipt.folio, receipt.capture_line, receipt.receipt_number].every((t) => typeof t === 'string' && flat.includes(t.replace(/\s+/g, ''))),
        `${receipt.folio} ${receipt.capture_line} ${receipt.receipt_number} in:\n${pdfText}`);
      await page.emulateMedia({ media: 'screen' });
      await accessible(page, 'enviado');

      // The same page on a phone's screen.
      await page.setViewportSize({ width: 390, height: 844 });
      await page.screenshot({ path: path.join(outDir, 'e2e-telefono.png'), fullPage: true });
      const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
      check('the page fits a phone\u2019s width', overflow <= 0, `${overflow}px too wide`);
      await page.setViewportSize({ width: 1100, height: 900 });
    }

    // ---- 2. The same payment on three diskettes, one after another, in the same page ----
    for (const part of parts) {
      await page.waitForSelector('#archivo:not([disabled])');
      await page.setInputFiles('#archivo', part);
    }
    const partsVerdict = await verdictOf(page);
    check(`the file on ${parts.length} diskettes is accepted`, partsVerdict === 'aceptado', await page.textContent('#veredicto'));
    if (partsVerdict === 'aceptado') {
      const [capture, expected] = [await text('#linea-captura'), nativeCheck(parts[0]).capture_line];
      check('its capture line is the native control\u2019s', capture === expected, `${capture} vs ${expected}`);
    }
    await page.close();

    // ---- 3. Five planted problems, by keyboard alone ----
    page = await openPage(context, url, problems);
    await page.keyboard.press('Tab'); // the link past the header
    await page.keyboard.press('Tab');
    check('Tab reaches the file button', (await focused()) === 'archivo');
    // A loaded Chromium now and then drops the first key press on a new page: press once more.
    const chooserBySpace = async (timeout) => {
      const [c] = await Promise.all([page.waitForEvent('filechooser', { timeout }).catch(() => null),
        page.keyboard.press('Space')]);
      return c;
    };
    const chooser = (await chooserBySpace(10000)) ?? (await chooserBySpace(STEP_TIMEOUT));
    if (!chooser) throw new Error('Space on the file button opened no file chooser');
    await chooser.setFiles(badFile);
    const badVerdict = await verdictOf(page);
    check('the file with five problems is refused', badVerdict === 'rechazado');
    check('the verdict is the control\u2019s first message, unchanged',
      (await page.getAttribute('#mensaje', 'data-numero')) === String(nativeBad.message) &&
        (await page.textContent('#mensaje')).startsWith(nativeBad.result.split('\r\n')[0]));
    check('the focus moved to the verdict', (await focused()) === 'veredicto-titulo');
    await page.waitForSelector('#problemas:not([hidden])');
    const listed = await page.$$eval('li.problema', (items) =>
      items.map((li) => ({
        message: Number(/Mensaje (\d+)/.exec(li.querySelector('.que').textContent)?.[1]),
        terms: [...li.querySelectorAll('dt')].map((dt) => dt.textContent),
      })),
    );
    check('all five are listed, in the native order, each with what was found and expected',
      JSON.stringify(listed.map((p) => [p.message, p.terms.includes('Encontrado') && p.terms.includes('Esperado')])) ===
        JSON.stringify(planted.map((m) => [m, true])), JSON.stringify(listed));
    const groups = await page.$$eval('#lista-problemas h4', (hs) => hs.map((h) => h.textContent));
    check('grouped by record', JSON.stringify(groups.map((g) => g.split(' ')[1])) === JSON.stringify([...new Set(nativeBad.problems.map((p) => String(p.record)))]), groups.join(' | '));
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#descargar')]);
    const csv = csvProblems(fs.readFileSync(await download.path(), 'utf8'));
    const nativeRows = nativeBad.problems.map((p) => ({ message: p.message, found: String(p.found ?? ''), expected: String(p.expected ?? '') }));
    check('the CSV holds the same five, as the native control explains them', JSON.stringify(csv) === JSON.stringify(nativeRows),
      `${JSON.stringify(csv)}\n     ${JSON.stringify(nativeRows)}`);
    await reached('the list is announced in the live region',
      page.waitForFunction(() => document.getElementById('aviso').textContent.includes('problemas')));
    await accessible(page, 'rechazado');

    // The list by keyboard: from the verdict, the download link, then each record's button.
    await page.focus('#veredicto-titulo');
    await page.keyboard.press('Tab');
    check('Tab goes from the verdict to the download', (await focused()) === 'descargar');
    await page.keyboard.press('Tab');
    const first = await focused('textContent');
    check('then to the first record\u2019s button', first.startsWith('Ver el registro 1'), first);
    await page.keyboard.press('Enter');
    await page.waitForSelector('pre.registro:not([hidden]) mark');
    const marked = await page.$eval('pre.registro:not([hidden]) mark', (m) => m.textContent);
    check('Enter shows the record with the field marked', marked === '0660X', marked);
    await page.keyboard.press('Tab'); // the record's text, scrollable
    await page.keyboard.press('Tab');
    const second = await focused('textContent');
    check('and Tab goes on to the next problem', second.startsWith('Ver el registro'), second);
    await accessible(page, 'rechazado-registro');

    // ---- 4. Dropped on the page; a long run shows its progress and cancels ----
    const dropped = await page.evaluateHandle(
      ({ name, data }) => {
        const transfer = new DataTransfer();
        transfer.items.add(new File([Uint8Array.from(atob(data), (c) => c.charCodeAt(0))], name));
        return transfer;
      },
      { name: okName, data: bytes.toString('base64') },
    );
    await page.dispatchEvent('#zona', 'drop', { dataTransfer: dropped });
    await reached('a file dropped on the page is validated', page.waitForSelector('#veredicto[data-estado="aceptado"]'));

    await page.setInputFiles('#archivo', zavIn(dirs.large));
    await page.waitForSelector('#barra[value]');
    const progress = await page.textContent('#progreso-texto');
    check('a long run counts its records', /de [\d,]+ registros \(\d+ %\)/.test(progress), progress);
    await page.click('#cancelar');
    await page.waitForSelector('#progreso', { state: 'hidden' });
    await page.waitForSelector('#archivo:not([disabled])');
    check('cancelled, it leaves no verdict', !(await page.isVisible('#veredicto')));
    await page.setInputFiles('#archivo', zavIn(dirs.large)); // the next file after a cancel
    check('a file of over 64 MB is accepted', (await verdictOf(page)) === 'aceptado', await page.textContent('#veredicto'));
    const before = uploadedArchives(uploads);
    await send(token);
    check('and the server takes its archive', (await sentState()) === 'enviado', await text('#envio'));
    const added = uploadedArchives(uploads).filter((n) => !before.includes(n));
    check('which holds the file byte for byte', added.length === 1 && holds(path.join(uploads, added[0]), fs.readFileSync(zavIn(dirs.large))), added.join(', '));

    // ---- 5. A file the control cannot read ----
    await page.setInputFiles('#archivo', brokenFile);
    await page.waitForSelector('#veredicto[data-estado="rechazado"]');
    const broken = await text('#veredicto-titulo');
    check('an empty file shows the error state', broken === 'El archivo no pudo validarse', broken);
    await accessible(page, 'error');
    await page.close();

    // ---- 6. The network cut ----
    page = await openPage(context, url, problems);
    await page.evaluate(() => navigator.serviceWorker.ready);
    await page.close();
    const port = new URL(url).port;
    await stopServer(server);
    await context.setOffline(true);
    page = await openPage(context, url, problems);
    const offlineNote = await page.textContent('#sin-conexion');
    check('offline, the page comes from its service worker and says it uses the device\u2019s date',
      (await page.isVisible('#sin-conexion')) && offlineNote.includes(ddmmyyyy(new Date())), offlineNote);
    await page.setInputFiles('#archivo', zavIn(dirs.offline));
    check('offline, a valid file is accepted', (await verdictOf(page)) === 'aceptado');
    check('and the page says the result must be confirmed online', await page.isVisible('#validado-sin-conexion'));
    await send(token);
    await reached('offline, the upload waits', page.waitForSelector('#envio[data-estado="esperando"]'));
    await accessible(page, 'sin-conexion');
    ({ url, process: server } = await startServer(zavBin, site, uploads, ['--tokens', tokens], port));
    await context.setOffline(false);
    await page.waitForSelector('#envio[data-estado="enviado"]');
    check('back online, the waiting upload is stored', uploadedArchives(uploads).length === 3, uploadedArchives(uploads).join(', '));
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
