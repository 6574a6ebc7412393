// A packer: deflates stretches of picked payment files for the page's zip writer, on a
// thread of its own, with libdeflate compiled to WebAssembly (dist/zavpack.js, from
// web/wasm/pack.cpp). The page's worker keeps a few from the start, so that a picked file
// finds them loaded and their code compiled to the full.
//
// A file is read a part at a time, where it lies; each part is deflated on its own and,
// unless it ends the file, left open so that the next part's stream goes on from it.
//
// Asked {warmUp: level} first, it deflates made-up records at that level a few times, so
// that the browser compiles the hot code to the full before a real file comes, then posts
// {ready: true}, or {error}.
// Requests, answered {job, parts: [{bytes, crc, size}]} (the deflated parts in order, each
// with the CRC-32 and length of its bytes of the file) or {job, error}:
//   {job, bytes, last, level}             one part, read already (an ArrayBuffer); `last`
//                                         when it ends its file
//   {job, file, from, to, part, level}    the bytes [from, to) of `file`, read here in
//                                         parts of `part` bytes

import createPackModule from './dist/zavpack.js';

const WARM_UP_BYTES = 512 << 10;
const WARM_UP_ROUNDS = 8;

let module = null;
let input = 0;
let inputRoom = 0;
let output = 0;
let outputRoom = 0;

// Room in the module's memory for a part of `part` bytes and its deflated form.
function reserve(part) {
  if (part <= inputRoom) return;
  module._free(input);
  module._free(output);
  inputRoom = outputRoom = 0;
  const room = module._zav_pack_bound(part);
  input = module._malloc(part);
  output = module._malloc(room);
  if (!input || !output) throw new Error('no memory for the packer');
  inputRoom = part;
  outputRoom = room;
}

// Deflates `bytes`, a part of a file (the file's last when `last`): {bytes, crc, size}.
function deflatePart(bytes, level, last) {
  module.HEAPU8.set(bytes, input);
  const written = module._zav_pack_part(input, bytes.length, output, outputRoom, level, last ? 1 : 0);
  if (!written) throw new Error('deflate failed');
  const crc = module._zav_pack_crc32(0, input, bytes.length) >>> 0;
  return { bytes: module.HEAPU8.slice(output, output + written), crc, size: bytes.length };
}

// Made-up records (digits, capitals and blanks, as a payment file's), deflated a few times
// at `level`.
function warmUp(level) {
  reserve(WARM_UP_BYTES);
  const made = new Uint8Array(WARM_UP_BYTES);
  const alphabet = '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ     ';
  let seed = 1;
  for (let i = 0; i < made.length; ++i) {
    seed = (seed * 1103515245 + 12345) >>> 0;
    made[i] = i % 295 < 200 ? alphabet.charCodeAt((seed >>> 16) % alphabet.length) : 32;
  }
  for (let round = 0; round < WARM_UP_ROUNDS; ++round) deflatePart(made, level, round % 2);
}

const loading = createPackModule().then((loaded) => {
  module = loaded;
});

self.onmessage = async (event) => {
  const { warmUp: warmLevel, job, bytes, last, file, from, to, part, level } = event.data;
  if (warmLevel !== undefined) {
    try {
      await loading;
      warmUp(warmLevel);
      self.postMessage({ ready: true });
    } catch (e) {
      self.postMessage({ error: String((e && e.message) || e) });
    }
    return;
  }
  try {
    await loading;
    const parts = [];
    if (bytes) {
      reserve(bytes.byteLength);
      parts.push(deflatePart(new Uint8Array(bytes), level, last));
    } else {
      reserve(part);
      const reader = new FileReaderSync();
      for (let at = from; at < to || parts.length === 0; at += part) {
        const end = Math.min(at + part, to);
        const read = new Uint8Array(reader.readAsArrayBuffer(file.slice(at, end)));
        if (read.length !== end - at) throw new Error('the file changed while it was read');
        parts.push(deflatePart(read, level, end === file.size));
      }
    }
    self.postMessage({ job, parts }, parts.map((p) => p.bytes.buffer));
  } catch (e) {
    self.postMessage({ job, error: String((e && e.message) || e) });
  }
};
