// The acuse de recibo: the server's signed receipt of a stored upload, shown after the
// upload (201) or after a second upload of the same file (200), printable on one page and
// downloadable as the signed JSON. The page checks the signature itself with the key of
// GET /api/receipt-key, with the browser's own Ed25519 (WebCrypto); a browser without it
// says the receipt could not be checked here (`zav receipt verify` checks it offline).
//
// The signed form (as the server writes it): field_sha256[NAME] is the SHA-256 of the
// compact JSON of [NAME, VALUE]; the signature is Ed25519 over the compact JSON of
// ["zav-receipt-1", key_id, [[NAME, field_sha256[NAME]] for NAME in signed_fields]].
//
//   showAcuse(receipt)   fills and shows the acuse, then checks it (#acuse-firma says how)
//   hideAcuse()
//   await verifyReceipt(receipt, keyAnswer)   {estado: 'valida'|'invalida'|'sin-verificar', ...}

const FORMAT = 'zav-receipt-1';
const SIGNATURE_FIELDS = new Set(['signed_fields', 'field_sha256', 'key_id', 'signature']);
const money = new Intl.NumberFormat('es-MX', { style: 'currency', currency: 'MXN' });
const $ = (id) => document.getElementById(id);

let downloadUrl = null;
let shown = null; // the receipt on the page, so that a late verdict of another is dropped

function hex(buffer) {
  return [...new Uint8Array(buffer)].map((b) => b.toString(16).padStart(2, '0')).join('');
}

function fromBase64(text) {
  return Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
}

async function sha256Hex(subtle, text) {
  return hex(await subtle.digest('SHA-256', new TextEncoder().encode(text)));
}

// The verdict of `receipt` under the served key `keyAnswer` ({algorithm, key_id,
// public_key}): valida, invalida (with the problem and the fields that do not match) or
// sin-verificar (this browser cannot check Ed25519 signatures).
export async function verifyReceipt(receipt, keyAnswer, subtle = globalThis.crypto?.subtle) {
  const invalid = (problem, changed = []) => ({ estado: 'invalida', problem, changed });
  const fields = receipt?.signed_fields;
  const digests = receipt?.field_sha256;
  if (!Array.isArray(fields) || typeof digests !== 'object' || typeof receipt.signature !== 'string') {
    return invalid('el acuse no tiene firma');
  }
  if (receipt.key_id !== keyAnswer?.key_id) return invalid('el acuse fue firmado con otra clave');
  if (fields.some((n) => typeof digests[n] !== 'string') || fields.length !== Object.keys(digests).length) {
    return invalid('la firma no corresponde al acuse');
  }
  let key;
  try {
    if (!subtle) throw new Error('no WebCrypto');
    key = await subtle.importKey('raw', fromBase64(keyAnswer.public_key), { name: 'Ed25519' }, false, ['verify']);
  } catch {
    return { estado: 'sin-verificar', problem: 'este navegador no puede comprobar firmas Ed25519' };
  }
  const canonical = JSON.stringify([FORMAT, receipt.key_id, fields.map((n) => [n, digests[n]])]);
  let good = false;
  try {
    good = await subtle.verify({ name: 'Ed25519' }, key, fromBase64(receipt.signature), new TextEncoder().encode(canonical));
  } catch {
    good = false;
  }
  if (!good) return invalid('la firma no corresponde al acuse');
  const changed = [];
  for (const name of fields) {
    if (name in receipt && (await sha256Hex(subtle, JSON.stringify([name, receipt[name]]))) !== digests[name]) {
      changed.push(name);
    }
  }
  const unsigned = Object.keys(receipt).filter((n) => !SIGNATURE_FIELDS.has(n) && !(n in digests));
  if (changed.length > 0) return invalid(`no coincide con la firma: ${changed.join(', ')}`, changed);
  if (unsigned.length > 0) return invalid(`datos sin firma: ${unsigned.join(', ')}`);
  return { estado: 'valida', changed: [] };
}

function amount(text) {
  const value = Number(text);
  return text === undefined || Number.isNaN(value) ? '—' : money.format(value);
}

// "2025-06-01T12:34:56.789Z" as the reader reads it: 01/06/2025 06:34:56 (this device's time).
function receivedText(iso) {
  const date = iso ? new Date(iso) : null;
  if (!date || Number.isNaN(date.getTime())) return '—';
  const two = (n) => String(n).padStart(2, '0');
  return (
    `${two(date.getDate())}/${two(date.getMonth() + 1)}/${date.getFullYear()} ` +
    `${two(date.getHours())}:${two(date.getMinutes())}:${two(date.getSeconds())}`
  );
}

function periodText(period) {
  return /^\d{6}$/.test(period ?? '') ? `${period.slice(4)}/${period.slice(0, 4)}` : (period ?? '—');
}

// A list of term and value pairs into the <dl> `id`.
function fill(id, pairs) {
  const list = $(id);
  list.replaceChildren();
  for (const [term, value, code] of pairs) {
    const dt = document.createElement('dt');
    dt.textContent = term;
    const dd = document.createElement('dd');
    if (code) {
      const c = document.createElement('code');
      c.textContent = value ?? '—';
      dd.append(c);
    } else {
      dd.textContent = value ?? '—';
    }
    list.append(dt, dd);
  }
}

function say(estado, text) {
  const out = $('acuse-firma');
  out.dataset.estado = estado;
  out.textContent = text;
}

async function check(receipt) {
  say('verificando', 'Verificando la firma del acuse…');
  let verdict;
  try {
    const response = await fetch('api/receipt-key', { cache: 'no-store' });
    if (!response.ok) throw new Error(`respuesta ${response.status}`);
    verdict = await verifyReceipt(receipt, await response.json());
  } catch {
    verdict = { estado: 'sin-verificar', problem: 'no se pudo obtener la clave pública del servidor' };
  }
  if (shown !== receipt) return;
  if (verdict.estado === 'valida') {
    say('valida', `Firma verificada: el acuse es auténtico (clave ${receipt.key_id}).`);
  } else if (verdict.estado === 'sin-verificar') {
    say('sin-verificar', `No se pudo verificar la firma en este navegador: ${verdict.problem}.`);
  } else {
    say('invalida', `La firma NO es válida: ${verdict.problem}.`);
  }
}

export function hideAcuse() {
  shown = null;
  $('acuse').hidden = true;
  if (downloadUrl) URL.revokeObjectURL(downloadUrl);
  downloadUrl = null;
}

export function showAcuse(receipt) {
  hideAcuse();
  if (!receipt || typeof receipt !== 'object' || !receipt.archive) return;
  shown = receipt;
  fill('acuse-quien', [
    ['RFC', receipt.rfc],
    ['Registro patronal', receipt.registration],
  ]);
  fill('acuse-que', [
    ['Periodo de pago', periodText(receipt.period)],
    ['Folio', receipt.folio],
    ['Trabajadores', receipt.workers === undefined ? undefined : String(receipt.workers)],
    ['IMSS (4 seguros)', amount(receipt.amount_imss)],
    ['Retiro, cesantía y vejez', amount(receipt.amount_rcv)],
    ['INFONAVIT aportación', amount(receipt.amount_infonavit_contribution)],
    ['INFONAVIT amortización', amount(receipt.amount_infonavit_amortization)],
    ['Total a pagar', amount(receipt.total)],
  ]);
  fill('acuse-cuando', [
    ['Fecha del servidor', receipt.server_date],
    ['Hora de recepción', receivedText(receipt.received)],
  ]);
  fill('acuse-comprobantes', [
    ['Número de acuse', receipt.receipt_number, true],
    ['Línea de captura', receipt.capture_line, true],
    ['Archivo', receipt.archive, true],
    ['Huella del archivo de pago (SHA-256)', receipt.payment_sha256, true],
    ['Huella del archivo empacado (SHA-256)', receipt.archive_sha256, true],
  ]);
  const json = `${JSON.stringify(receipt, null, 2)}\n`;
  downloadUrl = URL.createObjectURL(new Blob([json], { type: 'application/json' }));
  const link = $('descargar-acuse');
  link.href = downloadUrl;
  link.download = `acuse-${receipt.receipt_number ?? receipt.archive}.json`;
  $('acuse').hidden = false;
  check(receipt);
}

// The page's module scripts run once the page is parsed.
globalThis.document?.getElementById('imprimir-acuse')?.addEventListener('click', () => window.print());
