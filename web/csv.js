// CSV cells for the problems download. A spreadsheet runs a text cell that starts with =,
// +, -, @, a tab or a carriage return as a formula; such a cell gets a leading single quote
// so that it opens as the text it is. A cell that is a plain number (-12.50, +3) is left as
// it is, so that it stays a number.

const FORMULA_START = /^[=+\-@\t\r]/;
const PLAIN_NUMBER = /^[+-]?(\d+(\.\d*)?|\.\d+)$/;

export function csvCell(v) {
  let s = v === null || v === undefined ? '' : String(v);
  if (FORMULA_START.test(s) && !PLAIN_NUMBER.test(s)) s = `'${s}`;
  return /[",\n\r]/.test(s) || /^\s|\s$/.test(s) ? `"${s.replace(/"/g, '""')}"` : s;
}

// Rows of cells as CSV text: CR LF line ends, a byte-order mark first so that spreadsheets
// read the accents as UTF-8.
export function csvText(rows) {
  return `\ufeff${rows.map((r) => r.map(csvCell).join(',')).join('\r\n')}\r\n`;
}
