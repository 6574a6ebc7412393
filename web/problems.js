// Every problem of a refused file, as the page lists them: grouped by record, each with what
// the control says, where, what was found and what was expected (the characters that break
// the rule marked, the record's text at hand), and the same list as CSV to download.

import { csvText } from './csv.js';
import { $, announce, count, lines, money } from './ui.js';

let problemsUrl = null; // the CSV of the problems listed

// Empties the list and lets the CSV of the last one go.
export function clearProblems() {
  $('lista-problemas').replaceChildren();
  if (problemsUrl) URL.revokeObjectURL(problemsUrl);
  problemsUrl = null;
}

const RECORD_KINDS = {
  '02': 'encabezado',
  '03': 'trabajador',
  '04': 'movimientos',
  '05': 'sumario',
  '06': 'validación',
};

function recordTitle(p) {
  if (p.record === null) return 'El archivo en su conjunto';
  const kind = RECORD_KINDS[p.type];
  return `Registro ${count.format(p.record)}${kind ? ` (${kind})` : p.type ? ` (tipo ${p.type})` : ''}`;
}

// A value as the person reads it: amounts as money, the rest as the control gives them.
function valueText(p, value) {
  if (value === null || value === undefined) return '';
  if (p.compared === 'amount') return money.format(Number(value));
  if (p.compared === 'count') return count.format(value);
  return String(value);
}

// The found text with the characters that break the rule marked.
function markedText(text, marked) {
  const code = document.createElement('code');
  code.className = 'campo';
  const set = new Set(marked || []);
  let plain = '';
  const flush = () => {
    if (plain) code.append(plain);
    plain = '';
  };
  [...text].forEach((c, i) => {
    if (!set.has(i + 1)) {
      plain += c;
      return;
    }
    flush();
    const mark = document.createElement('mark');
    mark.textContent = c;
    code.append(mark);
  });
  flush();
  if (text === '') code.textContent = '(vacío)';
  return code;
}

function describedPair(dl, term, content) {
  const dt = document.createElement('dt');
  dt.textContent = term;
  const dd = document.createElement('dd');
  dd.append(content);
  dl.append(dt, dd);
}

// One problem: what the control says, where, what was found and what was expected.
function problemItem(p) {
  const li = document.createElement('li');
  li.className = 'problema';
  const what = document.createElement('p');
  what.className = 'que';
  what.textContent = p.failure
    ? `Error en la validación (${p.failure.number}): ${p.failure.description}`
    : `Mensaje ${p.message}: ${lines(p.text).replace(/\n/g, ' ')}`;
  li.append(what);
  const dl = document.createElement('dl');
  dl.className = 'datos detalle';
  if (p.field) describedPair(dl, 'Campo', `${p.field}, posición ${p.start}, longitud ${p.length}`);
  const textual = p.compared === 'format' || p.compared === 'text';
  if (p.found !== null) {
    describedPair(dl, 'Encontrado', textual ? markedText(p.found, p.marked) : valueText(p, p.found));
  }
  if (p.expected !== null) {
    describedPair(dl, 'Esperado', p.compared === 'text' ? markedText(p.expected, []) : valueText(p, p.expected));
  }
  if (p.difference !== null) describedPair(dl, 'Diferencia', valueText(p, p.difference));
  if (p.tolerance !== null) describedPair(dl, 'Tolerancia', valueText(p, p.tolerance));
  if (dl.childElementCount > 0) li.append(dl);
  if (p.note) {
    const note = document.createElement('p');
    note.className = 'nota';
    note.textContent = p.note;
    li.append(note);
  }
  if (p.record !== null && p.start !== null) li.append(recordViewer(p));
  return li;
}

let viewers = 0;
let readRecord = null; // number -> Promise of {text}: the record as the control holds it

// A button that shows the record's text with the problem's field marked, and hides it.
function recordViewer(p) {
  const box = document.createElement('div');
  const button = document.createElement('button');
  button.type = 'button';
  button.className = 'enlace';
  button.textContent = `Ver el registro ${p.record} con el campo marcado`;
  button.setAttribute('aria-expanded', 'false');
  const pre = document.createElement('pre');
  pre.className = 'registro';
  pre.id = `registro-${++viewers}`;
  pre.tabIndex = 0; // scrollable by keyboard
  pre.hidden = true;
  pre.setAttribute('aria-label', `Texto del registro ${p.record}; el campo ${p.field} está marcado`);
  button.setAttribute('aria-controls', pre.id);
  button.addEventListener('click', async () => {
    const open = button.getAttribute('aria-expanded') === 'true';
    if (!open && !pre.dataset.cargado) {
      const { text } = await readRecord(p.record);
      const from = p.start - 1;
      const to = from + p.length;
      const mark = document.createElement('mark');
      mark.textContent = (text ?? '').slice(from, to);
      pre.replaceChildren((text ?? '').slice(0, from), mark, (text ?? '').slice(to));
      pre.dataset.cargado = 'true';
    }
    button.setAttribute('aria-expanded', String(!open));
    pre.hidden = open;
    if (!open) pre.querySelector('mark')?.scrollIntoView({ block: 'nearest', inline: 'center' });
  });
  box.append(button, pre);
  return box;
}

const CSV_COLUMNS = [
  ['registro', (p) => p.record],
  ['tipo', (p) => p.type],
  ['campo', (p) => p.field],
  ['posición', (p) => p.start],
  ['longitud', (p) => p.length],
  ['mensaje', (p) => (p.failure ? p.failure.number : p.message)],
  ['texto', (p) => lines(p.failure ? p.failure.description : p.text).replace(/\n/g, ' ')],
  ['encontrado', (p) => p.found],
  ['esperado', (p) => p.expected],
  ['diferencia', (p) => p.difference],
  ['tolerancia', (p) => p.tolerance],
  ['nota', (p) => p.note],
];

function csvOf(problems) {
  const rows = [CSV_COLUMNS.map(([name]) => name)];
  for (const p of problems) rows.push(CSV_COLUMNS.map(([, get]) => get(p)));
  return csvText(rows);
}

// `read` gives a record's text (from the control that diagnosed the file) when its viewer opens.
export function showProblems({ problems, more }, read) {
  readRecord = read;
  const total = problems.length + more;
  $('problemas-titulo').textContent =
    total === 1 ? 'El único problema del archivo' : `Los ${count.format(total)} problemas del archivo`;
  $('problemas-mas').hidden = more === 0;
  $('problemas-mas').textContent = `Se muestran los primeros ${count.format(problems.length)}.`;
  const groups = new Map();
  for (const p of problems) {
    const key = p.record ?? 0;
    if (!groups.has(key)) groups.set(key, []);
    groups.get(key).push(p);
  }
  const list = $('lista-problemas');
  list.replaceChildren();
  for (const group of groups.values()) {
    const section = document.createElement('section');
    section.className = 'grupo';
    const h4 = document.createElement('h4');
    h4.textContent = recordTitle(group[0]);
    const ol = document.createElement('ol');
    ol.append(...group.map(problemItem));
    section.append(h4, ol);
    list.append(section);
  }
  if (problemsUrl) URL.revokeObjectURL(problemsUrl);
  problemsUrl = URL.createObjectURL(new Blob([csvOf(problems)], { type: 'text/csv;charset=utf-8' }));
  $('descargar').href = problemsUrl;
  $('problemas').hidden = false;
  announce(`${$('problemas-titulo').textContent}: la lista sigue al mensaje.`);
}
