// Deflates a picked payment file for the page's zip writer, on a thread of its own, with
// the browser's own compression (CompressionStream, zlib at its usual level) over the file
// read as a stream. Only the deflated bytes are ever held, never the file. The gzip form
// is asked for because its trailer carries the CRC-32 of the file's bytes, taken by the
// browser as it deflates; the zip entry gets the raw deflate stream between header and
// trailer.
//
// Request {file}; answers {started: true} at once, then {chunks, crc, size} (the raw
// deflate stream in pieces, the CRC-32 and length of the file's bytes) or {error}.

const HEADER = 10; // a gzip header without name, comment or extra field
const TRAILER = 8; // CRC-32 and length, little-endian

self.onmessage = async (event) => {
  const { file } = event.data;
  self.postMessage({ started: true });
  try {
    const chunks = [];
    const reader = file.stream().pipeThrough(new CompressionStream('gzip')).getReader();
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      if (value.length > 0) chunks.push(value);
    }
    // The header is in the first piece and the trailer in the last ones.
    if (chunks.length === 0 || chunks[0].length < HEADER || chunks[0][3] !== 0) {
      throw new Error('unexpected gzip header');
    }
    chunks[0] = chunks[0].subarray(HEADER);
    const trailer = new Uint8Array(TRAILER);
    for (let need = TRAILER; need > 0; ) {
      const last = chunks[chunks.length - 1];
      const take = Math.min(need, last.length);
      trailer.set(last.subarray(last.length - take), need - take);
      need -= take;
      if (take === last.length) chunks.pop();
      else chunks[chunks.length - 1] = last.subarray(0, last.length - take);
    }
    const view = new DataView(trailer.buffer);
    const crc = view.getUint32(0, true);
    if (view.getUint32(4, true) !== file.size % 2 ** 32) throw new Error('length mismatch');
    const buffers = [...new Set(chunks.map((c) => c.buffer))];
    self.postMessage({ chunks, crc, size: file.size }, buffers);
  } catch (e) {
    self.postMessage({ error: String((e && e.message) || e) });
  }
};
