// What every part of the payment page shares: finding elements, the live region that
// screen readers hear, the control's texts line by line, money and counts as Mexico writes
// them.

export const $ = (id) => document.getElementById(id);

export const money = new Intl.NumberFormat('es-MX', { style: 'currency', currency: 'MXN' });
export const count = new Intl.NumberFormat('es-MX');

// Said to screen readers through the page's live region.
export function announce(text) {
  const region = $('aviso');
  region.textContent = '';
  setTimeout(() => {
    region.textContent = text;
  }, 50);
}

// The control's texts end their lines with CR LF; the page shows each line as a line.
export function lines(text) {
  return String(text).replace(/\r\n?/g, '\n').replace(/\n+$/, '');
}

export function amountText(value) {
  return value === null || Number.isNaN(value) ? '—' : money.format(value);
}

// Files dropped anywhere on the page are taken as picked (handed to
// `onFiles`); the browser never opens them.
export function acceptDrops(onFiles) {
  const zone = $('zona');
  let depth = 0;
  document.addEventListener('dragenter', (event) => {
    event.preventDefault();
    depth += 1;
    zone.classList.add('arrastrando');
  });
  document.addEventListener('dragleave', () => {
    depth = Math.max(0, depth - 1);
    if (depth === 0) zone.classList.remove('arrastrando');
  });
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    event.dataTransfer.dropEffect = $('archivo').disabled ? 'none' : 'copy';
  });
  document.addEventListener('drop', async (event) => {
    event.preventDefault();
    depth = 0;
    zone.classList.remove('arrastrando');
    if ($('archivo').disabled) return;
    await onFiles(event.dataTransfer.files);
  });
}
