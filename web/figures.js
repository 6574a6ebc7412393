// The payment's figures as the page shows them once a file is accepted: read from the
// control's parameter string, the period in words, each institute's amounts in a table.

import { amountText } from './ui.js';

// sParamZAV: 31 fields separated by '|'. The employer's name comes first and is the only
// free text, so the fields are counted from the end.
export function parseParam(param) {
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

export function periodText(p) {
  const month = Number(p.mes);
  const name = month >= 1 && month <= 12 ? MONTHS[month - 1] : `periodo ${p.mes}`;
  let text = `${name} de ${p.ano}`;
  if (p.bimestre) text += ` (bimestre ${p.bimestre}/${p.bimestreAno})`;
  return text;
}

export function fillTable(table, caption, rows) {
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
