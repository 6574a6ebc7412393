// The page's zip writer in the place of the control's zip library entry `dzipVB`.
//
// It is handed the control's two command records as byte arrays: the 188-byte numeric
// record (size 188 at offset 0 and the packing operation 4 at offset 4, little-endian)
// and the 13141-byte text record (ten blank-padded Windows-1252 fields of 260, 5120, 260,
// 2048, 7, 2048, 2048, 1024, 66 and 260 bytes). It writes a standard zip archive at the
// path of field 1 holding the file of field 2 under its bare name, and answers
// {result, status}: result 0 exactly when the archive is complete.
//
// - Both paths are control paths (C:\ZAV\temp\...), mapped to the module's in-memory
//   file system by the control's own drive table (`nativePath`).
// - The archive is written beside its final name and renamed into place: an earlier
//   archive of that name is replaced whole, and a failure leaves no archive behind.
// - Results other than 0: 1 the records are not a packing command, 2 the file to pack is
//   missing or unreadable, 3 the archive could not be written; status then holds the
//   failure's number (53 file not found, or the error the path or the file system gave).

const NUMERIC_SIZE = 188;
const FIELD_LENGTHS = [260, 5120, 260, 2048, 7, 2048, 2048, 1024, 66, 260];
const TEXT_SIZE = FIELD_LENGTHS.reduce((a, b) => a + b, 0);
const OPERATION_PACK = 4;

export const DZIP_BAD_COMMAND = 1;
export const DZIP_NO_FILE = 2;
export const DZIP_CANNOT_WRITE = 3;

const FILE_NOT_FOUND = 53;
const DEVICE_IO_ERROR = 57;

function get32(bytes, offset) {
  return (
    (bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) | (bytes[offset + 3] << 24)) >>> 0
  );
}

// Field `field` (1 to 10) of the text record, without its trailing blanks, as bytes.
export function textField(text, field) {
  let start = 0;
  for (let i = 1; i < field; ++i) start += FIELD_LENGTHS[i - 1];
  let end = start + FIELD_LENGTHS[field - 1];
  while (end > start && text[end - 1] === 0x20) --end;
  return text.subarray(start, end);
}

// Windows-1252: Latin-1 except for 0x80 to 0x9F, which hold these characters (0 where
// the code page has none).
const CP1252_HIGH = [
  0x20ac, 0, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160, 0x2039,
  0x0152, 0, 0x017d, 0, 0, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014, 0x02dc,
  0x2122, 0x0161, 0x203a, 0x0153, 0, 0x017e, 0x0178,
];

function cp1252Char(byte) {
  return byte >= 0x80 && byte < 0xa0 ? CP1252_HIGH[byte - 0x80] || byte : byte;
}

// A JavaScript string of control text (Windows-1252 bytes).
export function decodeCp1252(bytes) {
  let text = '';
  for (const b of bytes) text += String.fromCharCode(cp1252Char(b));
  return text;
}

// Control text of a JavaScript string; a character without a Windows-1252 form
// becomes '?'.
let cp1252Codes = null;
export function encodeCp1252(text) {
  if (!cp1252Codes) {
    cp1252Codes = new Map();
    for (let b = 0; b < 256; ++b) cp1252Codes.set(cp1252Char(b), b);
  }
  return Uint8Array.from(text, (c) => cp1252Codes.get(c.charCodeAt(0)) ?? 0x3f);
}

// The CRC-32 of bytes A then B, from the CRC-32 of each and the length of B (as zlib's
// crc32_combine): A's CRC carried over B's length, in the field of polynomials modulo the
// CRC's own, then B's added.
const CRC_POLYNOMIAL = 0xedb88320;
function multiplyModCrc(a, b) {
  let product = 0;
  for (let m = 0x80000000; m !== 0; m >>>= 1) {
    if (a & m) product ^= b;
    b = b & 1 ? (b >>> 1) ^ CRC_POLYNOMIAL : b >>> 1;
  }
  return product >>> 0;
}
export function combineCrc32(crcA, crcB, lengthB) {
  let power = 0x80000000; // x to the 8 times lengthB, modulo the polynomial
  let square = 0x00800000; // x to the 8, then squared at each bit of lengthB
  for (let n = lengthB; n > 0; n = Math.floor(n / 2)) {
    if (n % 2) power = multiplyModCrc(square, power);
    square = multiplyModCrc(square, square);
  }
  return (multiplyModCrc(power, crcA) ^ crcB) >>> 0;
}

// A zip archive of one entry whose data is already deflated: `packed` is {chunks, crc,
// size} (the raw deflate stream in pieces, the CRC-32 and length of the file's bytes).
// fflate's streaming `Zip` writes the container.
export function zipOfDeflated(Zip, entryName, packed) {
  const parts = [];
  let failure = null;
  const zip = new Zip((error, chunk) => {
    if (error) failure = error;
    else parts.push(chunk);
  });
  const entry = {
    filename: entryName,
    compression: 8,
    flag: 0,
    size: packed.size,
    crc: packed.crc,
    mtime: Date.now(),
    ondata: null,
    terminate() {},
  };
  zip.add(entry);
  for (const chunk of packed.chunks) entry.ondata(null, chunk, false);
  entry.ondata(null, new Uint8Array(0), true);
  zip.end();
  if (failure) throw failure;
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const p of parts) {
    out.set(p, at);
    at += p.length;
  }
  return out;
}

// The last component of a control path ('\' and '/' both separate).
function bareName(path) {
  return path.slice(Math.max(path.lastIndexOf('\\'), path.lastIndexOf('/')) + 1);
}

// makeDzipVB({FS, nativePath, zipSync, Zip, deflated}):
//   FS          the module's file system (readFile, writeFile, rename, unlink, stat)
//   nativePath  (control path as Windows-1252 bytes) -> {path} or {error: number}
//   zipSync     fflate's zipSync
//   Zip         fflate's streaming Zip (with `deflated` only)
//   deflated    optional: (in-memory path) -> {chunks, crc, size} when the file's bytes
//               were already deflated elsewhere (a picked file, deflated while it was
//               brought in), else null; the file is then never read here
export function makeDzipVB({ FS, nativePath, zipSync, Zip, deflated }) {
  let counter = 0;
  return function dzipVB(numeric, text) {
    if (
      numeric.length !== NUMERIC_SIZE ||
      text.length !== TEXT_SIZE ||
      get32(numeric, 0) !== NUMERIC_SIZE ||
      get32(numeric, 4) !== OPERATION_PACK
    ) {
      return { result: DZIP_BAD_COMMAND, status: 0 };
    }
    const archiveField = textField(text, 1);
    const fileField = textField(text, 2);
    if (archiveField.length === 0 || fileField.length === 0) {
      return { result: DZIP_BAD_COMMAND, status: 0 };
    }

    const file = nativePath(fileField);
    if (file.error) return { result: DZIP_NO_FILE, status: file.error };
    let data = null;
    let packed = null;
    try {
      if (!FS.isFile(FS.stat(file.path).mode)) throw new Error('not a file');
      packed = deflated ? deflated(file.path) : null;
      if (!packed) data = FS.readFile(file.path);
    } catch {
      return { result: DZIP_NO_FILE, status: FILE_NOT_FOUND };
    }

    const archive = nativePath(archiveField);
    if (archive.error) return { result: DZIP_CANNOT_WRITE, status: archive.error };
    const slash = archive.path.lastIndexOf('/');
    const pending = `${archive.path.slice(0, slash + 1)}.${archive.path.slice(slash + 1)}.${++counter}.part`;
    try {
      const entryName = bareName(decodeCp1252(fileField));
      // Deflate level 4 when the zip library deflates here: it runs in JavaScript, where
      // level 6 (the native control's) takes about twice as long for an archive some 10%
      // smaller.
      const zipped = packed
        ? zipOfDeflated(Zip, entryName, packed)
        : zipSync({ [entryName]: [data, { level: 4 }] });
      if (packed) packed.chunks.length = 0; // written: the archive holds them now
      data = null;
      FS.writeFile(pending, zipped, { canOwn: true }); // the file system keeps the array
      FS.rename(pending, archive.path);
      return { result: 0, status: 0 };
    } catch (e) {
      try {
        FS.unlink(pending);
      } catch {
        // nothing was written
      }
      return { result: DZIP_CANNOT_WRITE, status: (e && e.errno) || DEVICE_IO_ERROR };
    }
  };
}
