// The payment page: the user picks the payment file (or its diskettes one after
// another), or drops it on the page; the control validates it in a worker against the
// server's date while a progress bar shows how far it got (and a button cancels); the page
// shows the verdict, then either the capture line and the payment's figures, ready to
// upload the packed archive, or every problem of the file, grouped by record, each with
// what was found and what was expected, downloadable as CSV.
//
// Server: GET /api/date answers the date as DD/MM/YYYY; POST /api/upload?name=ARCHIVE
// takes the archive's bytes with the sender's key (envio.js) and answers JSON.
// Offline (the page and the control come from the service worker, sw.js), the device's
// date stands in for the server's, the page says so, and an upload waits for the network.

import { hideAcuse, showAcuse } from './acuse.js';
import { sendArchive } from './envio.js';
import { fillTable, parseParam, periodText } from './figures.js';
import { clearProblems, showProblems } from './problems.js';
import { $, acceptDrops, amountText, announce, count, lines } from './ui.js';

const CLAVE = 'zav-clave'; // the sender's key, kept for this tab's session

// How many problems the page lists (and the CSV holds); the rest are only counted.
const PROBLEMS_SHOWN = 1000;

// ---- The control, in its worker ----

let worker = null;
const pending = new Map();
let nextId = 1;

class Cancelled extends Error {}

function startWorker() {
  worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
  worker.onmessage = (event) => {
    const { id, progress, ...answer } = event.data;
    if (progress) {
      showProgress(progress.done, progress.total);
      return;
    }
    const waiting = pending.get(id);
    if (!waiting) return;
    pending.delete(id);
    if (answer.ok) waiting.resolve(answer);
    else waiting.reject(Object.assign(new Error(answer.error.description), answer.error));
  };
  worker.onerror = (event) => {
    const failure = new Error(event.message || 'El control no pudo cargarse.');
    for (const waiting of pending.values()) waiting.reject(failure);
    pending.clear();
    showFailure('No fue posible cargar el control de validación.', failure.message);
  };
}

function control(op, args = {}, transfer = []) {
  const id = nextId++;
  return new Promise((resolve, reject) => {
    pending.set(id, { resolve, reject });
    worker.postMessage({ id, op, ...args }, transfer);
  });
}

// A run cannot be stopped from outside: the worker is ended and a new one started.
function cancel() {
  worker.terminate();
  for (const waiting of pending.values()) waiting.reject(new Cancelled('cancelado'));
  pending.clear();
  diskettes = null;
  showDiskettes();
  startWorker();
  control('load').catch(() => {});
  setIdle();
  announce('Validación cancelada. Puede seleccionar el archivo de nuevo.');
  $('paso-archivo').focus();
}

// ---- Page state ----

let serverDate = null;
let offline = false; // the date is the device's: the server could not be reached
// Diskette set under way: the next part number expected, and the parts read so far.
let diskettes = null;
let upload = null; // {name, bytes} of the archive ready to send

const ddmmyyyy = (d) =>
  `${String(d.getDate()).padStart(2, '0')}/${String(d.getMonth() + 1).padStart(2, '0')}/${d.getFullYear()}`;

function extensionOf(name) {
  const dot = name.lastIndexOf('.');
  return dot < 0 ? '' : name.slice(dot + 1).toUpperCase();
}

// The part number of a diskette file (.ZA0 -> 0), or null for any other name.
function partNumber(name) {
  const m = /^ZA(\d)$/.exec(extensionOf(name));
  return m ? Number(m[1]) : null;
}

let busyWhat = '';

function setBusy(text) {
  busyWhat = text;
  $('progreso-texto').textContent = `${text}…`;
  $('barra').removeAttribute('value'); // indeterminate until the worker counts records
  $('porcentaje').textContent = '';
  $('progreso').hidden = false;
  $('archivo').disabled = true;
  $('paso-archivo').setAttribute('aria-busy', 'true');
}

function showProgress(done, total) {
  if ($('progreso').hidden || total <= 0) return;
  const percent = Math.floor((100 * done) / total);
  $('barra').value = percent;
  $('porcentaje').textContent = `${percent} %`;
  $('progreso-texto').textContent =
    `${busyWhat}: ${count.format(done)} de ${count.format(total)} registros (${percent} %)`;
}

function setIdle() {
  $('progreso').hidden = true;
  $('archivo').disabled = serverDate === null;
  $('paso-archivo').removeAttribute('aria-busy');
}

function resetVerdict() {
  const v = $('veredicto');
  v.hidden = true;
  v.removeAttribute('data-estado');
  $('mensaje').hidden = true;
  $('mensaje').removeAttribute('data-numero');
  $('numero-mensaje').hidden = true;
  $('pista').hidden = true;
  $('aceptado').hidden = true;
  $('envio').hidden = true;
  $('problemas').hidden = true;
  clearProblems();
  upload = null;
  hideAcuse();
}

// The verdict takes the focus, so that it is read first and the keyboard goes on from it.
function showVerdict(state, title) {
  const v = $('veredicto');
  v.hidden = false;
  v.dataset.estado = state;
  $('veredicto-titulo').textContent = title;
  $('veredicto-titulo').focus();
}

function showRejected(title, text, number, hint = null) {
  showVerdict('rechazado', title);
  const m = $('mensaje');
  m.hidden = false;
  m.textContent = lines(text);
  if (number != null) {
    m.dataset.numero = String(number);
    $('numero-mensaje').textContent = `Mensaje ${number}`;
    $('numero-mensaje').hidden = false;
  }
  if (hint) {
    $('pista').textContent = `Pista: ${hint}`;
    $('pista').hidden = false;
  }
  announce(`${title}. ${lines(text).split('\n')[0]}`);
}

function showFailure(title, detail) {
  setIdle();
  showRejected(title, detail, null);
}

function showAccepted(answer) {
  const p = parseParam(answer.param);
  showVerdict('aceptado', 'Archivo válido');
  $('validado-sin-conexion').hidden = !offline;
  $('linea-captura').textContent = answer.captureLine;

  const data = [
    ['Patrón', p.nombre],
    ['Registro patronal', p.registro],
    ['RFC', p.rfc],
    ['Periodo', periodText(p)],
    ['Folio', p.folio],
    ['Trabajadores', p.trabajadores],
    ['Versión del ZAV', p.version],
  ];
  const dl = $('datos-patron');
  dl.replaceChildren();
  for (const [term, value] of data) {
    const dt = document.createElement('dt');
    dt.textContent = term;
    const dd = document.createElement('dd');
    dd.textContent = value;
    dl.append(dt, dd);
  }
  fillTable($('importes-imss'), 'IMSS', p.imss);
  fillTable($('importes-rcv'), 'Retiro, cesantía y vejez', p.rcv);
  fillTable($('importes-infonavit'), 'INFONAVIT', p.infonavit);
  $('total').textContent = amountText(p.total);

  $('nombre-paquete').textContent = answer.archiveName;
  $('aceptado').hidden = false;
  $('enviar').disabled = false;
  upload = { name: answer.archiveName, bytes: answer.archive };
  announce(`Archivo válido. Total a pagar: ${amountText(p.total)}.`);
}

// ---- The host sequence ----

async function validate() {
  setBusy('Validando');
  try {
    const answer = await control('validate', { serverDate });
    setIdle();
    if (answer.accepted) {
      showAccepted(answer);
    } else if (answer.failure) {
      showRejected(
        'El archivo no pudo validarse',
        `Error en la validación (${answer.failure.number}): ${answer.failure.description}` +
          (answer.record ? `\nRegistro ${answer.record}.` : ''),
        null,
        answer.hint,
      );
    } else {
      showRejected('Archivo rechazado', answer.result, answer.message, answer.hint);
      await diagnose();
    }
  } catch (e) {
    if (!(e instanceof Cancelled)) showFailure('El archivo no pudo validarse', describeError(e));
  }
}

// The verdict stands; every problem of the file follows it.
async function diagnose() {
  setBusy('Buscando todos los problemas');
  try {
    const found = await control('diagnose', { serverDate, keep: PROBLEMS_SHOWN });
    setIdle();
    showProblems(found, (number) => control('record', { number }));
  } catch (e) {
    setIdle();
    if (!(e instanceof Cancelled)) announce(`No fue posible listar los problemas: ${describeError(e)}`);
  }
}

function describeError(e) {
  return e.number ? `${e.message} (error ${e.number})` : e.message;
}

async function validateSingle(file) {
  diskettes = null;
  showDiskettes();
  setBusy('Leyendo el archivo');
  try {
    await control('single', { name: file.name, file });
  } catch (e) {
    if (!(e instanceof Cancelled)) showFailure('No fue posible leer el archivo', describeError(e));
    return;
  }
  await validate();
}

function showDiskettes() {
  const list = $('disquetes');
  if (!diskettes) {
    list.hidden = true;
    list.replaceChildren();
    $('etiqueta-archivo').textContent = 'Seleccionar archivo';
    $('instruccion').textContent =
      'Seleccione el archivo de pago generado por el ZAV (.ZAV) o, si viene en varios ' +
      'disquetes, el primero de ellos (.ZA0).';
    return;
  }
  list.hidden = false;
  list.replaceChildren(
    ...diskettes.read.map((name) => {
      const li = document.createElement('li');
      li.textContent = name;
      return li;
    }),
  );
  $('etiqueta-archivo').textContent = `Seleccionar el disquete ${diskettes.next + 1}`;
  $('instruccion').textContent =
    `Inserte el disquete ${diskettes.next + 1} y seleccione su archivo ` +
    `(.ZA${diskettes.next}).`;
}

// Feeds diskette parts in order. `files` may hold several parts; the next one expected
// is taken from them, until the control says the last diskette has come.
async function feedDiskettes(files) {
  const byPart = new Map(files.map((f) => [partNumber(f.name), f]));
  while (diskettes) {
    const file = byPart.get(diskettes.next);
    if (!file) break;
    byPart.delete(diskettes.next);
    setBusy(`Integrando el disquete ${diskettes.next + 1}`);
    let answer;
    try {
      answer = await control('part', { name: file.name, file, disk: diskettes.next });
    } catch (e) {
      if (e instanceof Cancelled) return;
      diskettes = null;
      showDiskettes();
      showFailure('No fue posible integrar el disquete', describeError(e));
      return;
    }
    if (answer.message) {
      diskettes = null;
      showDiskettes();
      setIdle();
      showRejected('Archivo rechazado', answer.text, answer.message);
      return;
    }
    if (answer.last === 255) {
      setIdle();
      showRejected(
        'No fue posible leer el disquete',
        `El archivo ${file.name} no pudo leerse. Inserte de nuevo el disquete ` +
          `${diskettes.next + 1} y seleccione su archivo.`,
        null,
      );
      showDiskettes();
      return;
    }
    diskettes.read.push(file.name);
    if (answer.last !== 0) {
      diskettes = null;
      showDiskettes();
      await validate();
      return;
    }
    diskettes.next += 1;
    showDiskettes();
  }
  if (diskettes && byPart.size > 0) {
    $('instruccion').textContent =
      `Ese archivo no es el del disquete ${diskettes.next + 1}. Inserte el disquete ` +
      `${diskettes.next + 1} y seleccione su archivo (.ZA${diskettes.next}).`;
  }
  setIdle();
}

async function onFiles(list) {
  const files = [...list];
  if (files.length === 0) return;
  resetVerdict();
  if (!diskettes) {
    const first = files.find((f) => partNumber(f.name) === 0);
    if (first) {
      diskettes = { next: 0, read: [] };
      await feedDiskettes(files);
      return;
    }
    if (files.some((f) => partNumber(f.name) !== null)) {
      showRejected(
        'Falta el primer disquete',
        'Seleccione primero el archivo del disquete 1 (.ZA0).',
        null,
      );
      return;
    }
    await validateSingle(files[0]);
    return;
  }
  if (files.length === 1 && partNumber(files[0].name) === null) {
    await validateSingle(files[0]); // a new file in one piece ends the diskette set
    return;
  }
  await feedDiskettes(files);
}

// ---- Upload ----

let waitingForNetwork = false;

// Without a network the archive waits: it is sent as soon as the browser is back online
// (or, when the browser cannot tell, on the next try a little later).
function waitForNetwork() {
  const out = $('envio');
  out.dataset.estado = 'esperando';
  out.textContent = 'Sin conexión: el archivo se enviará en cuanto vuelva la conexión.';
  announce(out.textContent);
  if (waitingForNetwork) return;
  waitingForNetwork = true;
  const retry = () => {
    window.removeEventListener('online', retry);
    clearTimeout(timer);
    waitingForNetwork = false;
    send();
  };
  window.addEventListener('online', retry);
  const timer = setTimeout(retry, 15_000);
}

async function send() {
  if (!upload) return;
  const button = $('enviar');
  const out = $('envio');
  const clave = $('clave').value.trim();
  if (clave) sessionStorage.setItem(CLAVE, clave);
  button.disabled = true;
  out.hidden = false;
  out.removeAttribute('data-estado');
  if (!navigator.onLine) {
    waitForNetwork();
    return;
  }
  out.textContent = 'Enviando el archivo…';
  const outcome = await sendArchive(fetch, upload.name, upload.bytes, clave);
  if (outcome.offline) {
    waitForNetwork(); // no answer at all: the network, not the server
    return;
  }
  out.dataset.estado = outcome.sent ? 'enviado' : 'error';
  out.textContent = outcome.sent ? outcome.text : `El servidor no aceptó el archivo.\n${outcome.text}`;
  announce(out.textContent);
  if (outcome.sent) upload = null;
  if (outcome.receipt) showAcuse(outcome.receipt);
  button.disabled = !outcome.retry;
}

// ---- Start ----

// The server's date; without a network, the device's, and the page says so.
async function fetchDate() {
  let response;
  try {
    response = await fetch('api/date', { cache: 'no-store' });
  } catch {
    offline = true;
    serverDate = ddmmyyyy(new Date());
    $('fecha-servidor').hidden = true;
    $('sin-conexion').querySelector('strong').textContent = serverDate;
    $('sin-conexion').hidden = false;
    return;
  }
  if (!response.ok) throw new Error(`respuesta ${response.status}`);
  const date = (await response.text()).trim();
  if (!/^\d\d\/\d\d\/\d{4}$/.test(date)) throw new Error(`fecha inválida: ${date}`);
  offline = false;
  serverDate = date;
  $('sin-conexion').hidden = true;
  const shown = $('fecha-servidor');
  shown.querySelector('strong').textContent = serverDate;
  shown.hidden = false;
}

async function start() {
  if ('serviceWorker' in navigator) {
    navigator.serviceWorker.register('sw.js').catch(() => {}); // the page works without it
  }
  startWorker();
  $('archivo').addEventListener('change', async (event) => {
    const input = event.target;
    const files = [...input.files];
    input.value = '';
    await onFiles(files);
  });
  $('enviar').addEventListener('click', send);
  $('cancelar').addEventListener('click', cancel);
  acceptDrops(onFiles);
  window.addEventListener('online', () => {
    if (offline) fetchDate().catch(() => {});
  });
  $('clave').value = sessionStorage.getItem(CLAVE) ?? '';

  try {
    await Promise.all([fetchDate(), control('load')]);
  } catch (e) {
    $('carga').textContent = 'No fue posible preparar la validación.';
    showFailure('No fue posible preparar la validación', describeError(e));
    return;
  }
  $('carga').hidden = true;
  document.body.dataset.listo = 'true';
  setIdle();
}

start();
