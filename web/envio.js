// Sending the packed archive to the server, and what the page says of its answer. The
// server's `error` texts are English, for its log and for programs; the page speaks Spanish
// from the status and the answer's `cause`, and shows the control's own message (already
// Spanish) when the server's control rejected the file.
//
//   const outcome = await sendArchive(fetch, name, bytes, clave);   // {sent, text, retry, offline}

// "2025-06-01T12:34:56.789Z" as the page's reader reads it: 01/06/2025 a las 06:34.
function receivedText(received) {
  const date = received ? new Date(received) : null;
  if (!date || Number.isNaN(date.getTime())) return '';
  const two = (n) => String(n).padStart(2, '0');
  return (
    ` el ${two(date.getDate())}/${two(date.getMonth() + 1)}/${date.getFullYear()}` +
    ` a las ${two(date.getHours())}:${two(date.getMinutes())}`
  );
}

const REFUSALS = {
  bad_name: 'El nombre del archivo empacado no es válido.',
  bad_archive: 'El archivo empacado no es válido: debe contener un solo archivo de pago.',
  unauthenticated:
    'Falta la clave de envío o no es válida. Escriba la clave que le dieron para enviar ' +
    '(o entre con su certificado) e intente de nuevo.',
  forbidden: 'Su clave o certificado no permite enviar archivos de este patrón.',
  foreign_origin: 'El archivo sólo puede enviarse desde la página de validación.',
  too_large: 'El archivo es demasiado grande para enviarse.',
  busy: 'El servidor está ocupado. Intente de nuevo en unos segundos.',
  disk_full: 'El servidor no puede guardar archivos por ahora. Intente más tarde.',
  quota: 'Ya se envió hoy todo lo que permite su clave. Intente mañana.',
};

// What to tell of an answer: {sent: whether the archive is on the server, text, retry:
// whether sending again may help, receipt: the server's signed receipt when stored}.
export function uploadOutcome(status, body = {}, name = '') {
  if (status === 201) return { sent: true, receipt: body, text: `Archivo enviado: ${body.archive ?? name}` };
  if (status === 200) {
    return {
      sent: true,
      receipt: body,
      text: `Este archivo ya se había recibido${receivedText(body.received)}; no hace falta enviarlo de nuevo.`,
    };
  }
  const refused = (text, retry = false) => ({ sent: false, text, retry });
  if (status === 409) {
    return refused(
      `Ya se había recibido otro archivo de pago con este nombre${receivedText(body.received)}; ` +
        'éste no se guardó.',
    );
  }
  if (status === 422) {
    if (body.text) return refused(String(body.text).replace(/\r\n?/g, '\n').replace(/\n+$/, ''));
    if (body.expected) {
      return refused(`El nombre del archivo no corresponde a su contenido (debería ser ${body.expected}).`);
    }
    const number = body.failure?.number;
    return refused(`El servidor no pudo validar el archivo${number ? ` (error ${number})` : ''}.`);
  }
  if (status === 429) return refused('Demasiados envíos seguidos. Espere un momento e intente de nuevo.', true);
  const known = REFUSALS[body.cause];
  if (known) return refused(known, status === 401 || status === 503 || status === 507);
  if (status === 411 || status === 415 || status === 400) {
    return refused('El navegador no envió el archivo como se esperaba. Intente de nuevo.', true);
  }
  return refused(`El servidor no pudo recibir el archivo (respuesta ${status}). Intente más tarde.`, true);
}

// Posts the archive with the sender's key (a bearer token), when there is one; a client
// certificate goes with the connection on its own. Resolves to uploadOutcome's answer.
export async function sendArchive(fetchFn, name, bytes, clave) {
  const headers = { 'Content-Type': 'application/zip' };
  if (clave) headers.Authorization = `Bearer ${clave}`;
  let response;
  try {
    response = await fetchFn(`api/upload?name=${encodeURIComponent(name)}`, {
      method: 'POST',
      headers,
      body: bytes,
      credentials: 'same-origin',
    });
  } catch {
    return {
      sent: false,
      text: 'No fue posible comunicarse con el servidor. Revise su conexión e intente de nuevo.',
      retry: true,
      offline: true, // no answer at all: the network, not the server
    };
  }
  let body = {};
  try {
    body = await response.json();
  } catch {
    // an answer without JSON (from the front, say): its status says enough
  }
  return uploadOutcome(response.status, body, name);
}
