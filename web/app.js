// The payment page: the user picks the payment file (or its diskettes one after
// another), the control validates it in a worker against the server's date, and the page
// shows the verdict, the capture line and the payment's figures, then uploads the packed
// archive to the server.
//
// Server: GET /api/date answers the date as DD/MM/YYYY; POST /api/upload?name=ARCHIVE
// takes the archive's bytes with the sender's key (envio.js) and answers JSON.

import { sendArchive } from './envio.js';

const $ = (id) => document.getElementById(id);
const CLAVE = 'zav-clave'; // the sender's key, kept for this tab's session

// ---- The control, in its worker ----

const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
const pending = new Map();
let nextId = 1;

worker.onmessage = (event) => {
  const { id, ...answer } = event.data;
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

function control(op, args = {}, transfer = []) {
  const id = nextId++;
  return new Promise((resolve, reject) => {
    pending.set(id, { resolve, reject });
    worker.postMessage({ id, op, ...args }, transfer);
  });
}

// ---- Page state ----

let serverDate = null;
// Diskette set under way: the next part number expected, and the parts read so far.
let diskettes = null;
let upload = null; // {name, bytes} of the archive ready to send

const money = new Intl.NumberFormat('es-MX', { style: 'currency', currency: 'MXN' });

function extensionOf(name) {
  const dot = name.lastIndexOf('.');
  return dot < 0 ? '' : name.slice(dot + 1).toUpperCase();
}

// The part number of a diskette file (.ZA0 -> 0), or null for any other name.
function partNumber(name) {
  const m = /^ZA(\d)$/.exec(extensionOf(name));
  return m ? Number(m[1]) : null;
}

function setBusy(text) {
  $('progreso-texto').textContent = text;
  $('progreso').hidden = false;
  $('archivo').disabled = true;
  document.body.setAttribute('aria-busy', 'true');
}

function setIdle() {
  $('progreso').hidden = true;
  $('archivo').disabled = serverDate === null;
  document.body.removeAttribute('aria-busy');
}

function resetVerdict() {
  const v = $('veredicto');
  v.hidden = true;
  v.removeAttribute('data-estado');
  $('mensaje').hidden = true;
  $('mensaje').removeAttribute('data-numero');
  $('numero-mensaje').hidden = true;
  $('aceptado').hidden = true;
  $('envio').hidden = true;
  upload = null;
}

// The control's texts end their lines with CR LF; the page shows each line as a line.
function lines(text) {
  return String(text).replace(/\r\n?/g, '\n').replace(/\n+$/, '');
}

function showRejected(title, text, number) {
  const v = $('veredicto');
  v.hidden = false;
  v.dataset.estado = 'rechazado';
  $('veredicto-titulo').textContent = title;
  const m = $('mensaje');
  m.hidden = false;
  m.textContent = lines(text);
  if (number != null) {
    m.dataset.numero = String(number);
    $('numero-mensaje').textContent = `Mensaje ${number}`;
    $('numero-mensaje').hidden = false;
  }
}

function showFailure(title, detail) {
  setIdle();
  showRejected(title, detail, null);
}

// ---- The parameter string ----

// sParamZAV: 31 fields separated by '|'. The employer's name comes first and is the only
// free text, so the fields are counted from the end.
function parseParam(param) {
  const all = String(param).split('|');
  const rest = all.slice(all.length - 30);
  const f = [all.slice(0, all.length - 30).join('|'), ...rest];
  const n = (i) => (f[i - 1] === '' ? null : Number(f[i - 1]));
  return {
    nombre: f[0].trim(),
    registro: f[1],
    rfc: f[2],
    folio: f[3],
    trabajadores: f[4],
    mes: f[5],
    ano: f[6],
    bimestre: f[7],
    bimestreAno: f[8],
    imss: [
      ['Cuotas de los cuatro seguros', n(10)],
      ['Actualización', n(11)],
      ['Recargos', n(12)],
      ['Total IMSS', n(13), true],
    ],
    rcv: [
      ['Retiro, cesantía y vejez', n(14)],
      ['Actualización', n(15)],
      ['Recargos', n(16)],
      ['Aportaciones voluntarias', n(17)],
      ['Aportaciones complementarias', n(18)],
      ['Total RCV', n(19), true],
    ],
    infonavit: [
      ['Aportación patronal sin crédito', n(20)],
      ['Aportación patronal con crédito', n(21)],
      ['Amortización de créditos', n(22)],
      ['Actualización', n(23)],
      ['Recargos', n(24)],
      ['Multas INFONAVIT', n(25)],
      ['Donativo FUNDEMEX', n(26)],
      ['Total INFONAVIT', n(27), true],
    ],
    total: n(28),
    paquete: f[28],
    lineaCaptura: f[29],
    version: f[30],
  };
}

const MONTHS = [
  'enero', 'febrero', 'marzo', 'abril', 'mayo', 'junio', 'julio', 'agosto', 'septiembre',
  'octubre', 'noviembre', 'diciembre',
];

function periodText(p) {
  const month = Number(p.mes);
  const name = month >= 1 && month <= 12 ? MONTHS[month - 1] : `periodo ${p.mes}`;
  let text = `${name} de ${p.ano}`;
  if (p.bimestre) text += ` (bimestre ${p.bimestre}/${p.bimestreAno})`;
  return text;
}

function amountText(value) {
  return value === null || Number.isNaN(value) ? '—' : money.format(value);
}

function fillTable(table, caption, rows) {
  table.replaceChildren();
  table.createCaption().textContent = caption;
  const body = table.createTBody();
  for (const [label, value, subtotal] of rows) {
    const row = body.insertRow();
    if (subtotal) row.className = 'subtotal';
    row.insertCell().textContent = label;
    row.insertCell().textContent = amountText(value);
  }
}

function showAccepted(answer) {
  const p = parseParam(answer.param);
  const v = $('veredicto');
  v.hidden = false;
  v.dataset.estado = 'aceptado';
  $('veredicto-titulo').textContent = 'Archivo válido';
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
}

// ---- The host sequence ----

async function validate() {
  setBusy('Validando el archivo…');
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
      );
    } else {
      showRejected('Archivo rechazado', answer.result, answer.message);
    }
  } catch (e) {
    showFailure('El archivo no pudo validarse', describeError(e));
  }
}

function describeError(e) {
  return e.number ? `${e.message} (error ${e.number})` : e.message;
}

async function validateSingle(file) {
  diskettes = null;
  showDiskettes();
  setBusy('Leyendo el archivo…');
  try {
    await control('single', { name: file.name, file });
  } catch (e) {
    showFailure('No fue posible leer el archivo', describeError(e));
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
    setBusy(`Integrando el disquete ${diskettes.next + 1}…`);
    let answer;
    try {
      answer = await control('part', { name: file.name, file, disk: diskettes.next });
    } catch (e) {
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

async function send() {
  if (!upload) return;
  const button = $('enviar');
  const out = $('envio');
  const clave = $('clave').value.trim();
  if (clave) sessionStorage.setItem(CLAVE, clave);
  button.disabled = true;
  out.hidden = false;
  out.removeAttribute('data-estado');
  out.textContent = 'Enviando el archivo…';
  const outcome = await sendArchive(fetch, upload.name, upload.bytes, clave);
  out.dataset.estado = outcome.sent ? 'enviado' : 'error';
  out.textContent = outcome.sent ? outcome.text : `El servidor no aceptó el archivo.\n${outcome.text}`;
  if (outcome.sent) upload = null;
  button.disabled = !outcome.retry;
}

// ---- Start ----

async function start() {
  $('archivo').addEventListener('change', async (event) => {
    const input = event.target;
    const files = [...input.files];
    input.value = '';
    await onFiles(files);
  });
  $('enviar').addEventListener('click', send);
  $('clave').value = sessionStorage.getItem(CLAVE) ?? '';

  try {
    const [date] = await Promise.all([
      fetch('api/date', { cache: 'no-store' }).then((r) => {
        if (!r.ok) throw new Error(`respuesta ${r.status}`);
        return r.text();
      }),
      control('load'),
    ]);
    if (!/^\d\d\/\d\d\/\d{4}$/.test(date.trim())) throw new Error(`fecha inválida: ${date}`);
    serverDate = date.trim();
  } catch (e) {
    $('carga').textContent = 'No fue posible preparar la validación.';
    showFailure('No fue posible preparar la validación', describeError(e));
    return;
  }
  $('carga').hidden = true;
  const shown = $('fecha-servidor');
  shown.querySelector('strong').textContent = serverDate;
  shown.hidden = false;
  document.body.dataset.listo = 'true';
  setIdle();
}

start();
