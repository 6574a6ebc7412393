// The page's units without a browser: the control wrapper (zav.js), the zip writer (dzip.js),
// the packer of picked files, the server's answers (envio.js) and the CSV (csv.js).

import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';
import zlib from 'node:zlib';

// The page's zip library, once its npm packages are installed (web/build-wasm.sh does it).
const fflate = await import('fflate').catch(() => null);
import {
  DZIP_BAD_COMMAND,
  DZIP_CANNOT_WRITE,
  DZIP_NO_FILE,
  combineCrc32,
  decodeCp1252,
  encodeCp1252,
  makeDzipVB,
} from '../dzip.js';
import { sendArchive, uploadOutcome } from '../envio.js';
import { SCRIPTING_IID, ZAVError, ZAVSafetyError, createZAV } from '../zav.js';

const { crc32 } = zlib; // Node 20.15 and later

// ---- zav.js ----

const TYPELIB = JSON.stringify({
  interfaces: [
    { kind: 'dispatch', members: [
      { name: 'FinalArchi', kind: 'property', type: 'String' },
      { name: 'sArchZAVZip', kind: 'readonly property', type: 'String' },
      { name: 'ValidaReg', kind: 'method', params: [{ name: 'sDateServ' }], returns: 'String' },
    ] },
    { kind: 'interface', members: [{ name: 'GetInterfaceSafetyOptions', kind: 'method' }] },
  ],
});

// A JSON host that answers the safety methods as told and records every request.
function fakeHost({ enabled = 1, setResult = 0 } = {}) {
  const requests = [];
  const state = { FinalArchi: '' };
  const answer = (r) => {
    if (r.call === 'GetInterfaceSafetyOptions') return { ok: true, result: 0, args: [r.args[0], 3, enabled] };
    if (r.call === 'SetInterfaceSafetyOptions') return { ok: true, result: setResult, args: r.args };
    if (r.put) return (state[r.put] = r.value), { ok: true, result: null };
    if (r.get) return { ok: true, result: state[r.get] ?? 'x.zip' };
    if (r.call === 'ValidaReg') return { ok: true, result: '0', args: r.args };
    return { ok: false, error: { number: 438, description: 'no such member' } };
  };
  const request = (line) => (requests.push(JSON.parse(line)), JSON.stringify(answer(requests.at(-1))));
  return { requests, bridge: { typelib: () => TYPELIB, request } };
}

test('the control is scripted only when it declares itself safe for scripting', () => {
  const cases = [
    { name: 'safe', host: {}, refused: false },
    { name: 'scripting option not enabled', host: { enabled: 0 }, refused: true },
    { name: 'only the initialisation option', host: { enabled: 2 }, refused: true },
    { name: 'setting the option refused', host: { setResult: 2147500037 }, refused: true },
  ];
  for (const c of cases) {
    const { bridge, requests } = fakeHost(c.host);
    if (c.refused) assert.throws(() => createZAV(bridge), ZAVSafetyError, c.name);
    else assert.doesNotThrow(() => createZAV(bridge), c.name);
    assert.deepEqual(requests[0], { call: 'GetInterfaceSafetyOptions', args: [SCRIPTING_IID, 0, 0] }, c.name);
  }
});

test('members keep their names: properties as accessors, methods as functions', () => {
  const { bridge, requests } = fakeHost();
  const zav = createZAV(bridge); // a safe control, as in the first case above
  zav.FinalArchi = 'P0404268.ZAV';
  assert.deepEqual([zav.FinalArchi, zav.sArchZAVZip, zav.ValidaReg('06/12/2026')], ['P0404268.ZAV', 'x.zip', '0']);
  assert.deepEqual(requests.at(-1), { call: 'ValidaReg', args: ['06/12/2026'] });
  assert.throws(() => (zav.sArchZAVZip = 'y.zip'), TypeError);
  assert.throws(() => zav.$call('Nada'), (e) => e instanceof ZAVError && e.number === 438);
});

// ---- dzip.js ----

const FIELDS = [260, 5120, 260, 2048, 7, 2048, 2048, 1024, 66, 260];

function records(archive, file, { size = 188, operation = 4 } = {}) {
  const numeric = new Uint8Array(188);
  const view = new DataView(numeric.buffer);
  [[0, size], [4, operation], [40, 5]].forEach(([at, value]) => view.setUint32(at, value, true));
  const values = [archive, file, '', '', '', '', '', '', '', 'Performing ZIP Operation'];
  const text = new Uint8Array(FIELDS.reduce((a, b) => a + b, 0)).fill(0x20);
  let offset = 0;
  FIELDS.forEach((length, i) => {
    text.set(encodeCp1252(values[i]).subarray(0, length), offset);
    offset += length;
  });
  return [numeric, text];
}

// An in-memory file system with the calls the writer makes.
const fail = (code, errno) => {
  throw Object.assign(new Error(code), { errno });
};
const fakeFS = (files, { failWrite = false } = {}) => ({
  files,
  stat: (p) => (files.has(p) ? { mode: 0o100644 } : fail('ENOENT', 44)),
  isFile: (mode) => (mode & 0o170000) === 0o100000,
  readFile: (p) => files.get(p),
  writeFile: (p, data) => (failWrite ? fail('ENOSPC', 51) : files.set(p, data)),
  rename: (from, to) => files.set(to, files.get(from)).delete(from),
  unlink: (p) => files.delete(p),
});

// Control paths C:\... map to /c/...; anything else is an unknown drive (76).
function nativePath(bytes) {
  const m = /^C:\\(.*)$/i.exec(decodeCp1252(bytes));
  return m ? { path: `/c/${m[1].replaceAll('\\', '/')}` } : { error: 76 };
}

test('the zip writer packs the file of field 2 at the path of field 1, or answers why not', () => {
  const payment = new Uint8Array([1, 2, 3]);
  const [archive, file] = ['C:\\ZAV\\temp\\pago.zip', 'C:\\ZAV\\temp\\pago.zav'];
  const cases = [
    { name: 'packed', args: [archive, file], result: 0, status: 0 },
    { name: 'not the packing operation', args: [archive, file, { operation: 5 }], result: DZIP_BAD_COMMAND },
    { name: 'wrong record size', args: [archive, file, { size: 187 }], result: DZIP_BAD_COMMAND },
    { name: 'no archive path', args: ['', file], result: DZIP_BAD_COMMAND },
    { name: 'missing file', args: [archive, 'C:\\ZAV\\temp\\otro.zav'], result: DZIP_NO_FILE, status: 53 },
    { name: 'file on an unknown drive', args: [archive, 'Q:\\pago.zav'], result: DZIP_NO_FILE, status: 76 },
    { name: 'archive on an unknown drive', args: ['Q:\\pago.zip', file], result: DZIP_CANNOT_WRITE, status: 76 },
    { name: 'write fails', args: [archive, file], fs: { failWrite: true }, result: DZIP_CANNOT_WRITE, status: 51 },
  ];
  for (const c of cases) {
    const fs = fakeFS(new Map([['/c/ZAV/temp/pago.zav', payment]]), c.fs);
    const packed = [];
    const zipSync = (entries) => (packed.push(entries), new Uint8Array([0x50, 0x4b]));
    const answer = makeDzipVB({ FS: fs, nativePath, zipSync })(...records(...c.args));
    assert.equal(answer.result, c.result, c.name);
    if (c.status !== undefined) assert.equal(answer.status, c.status, c.name);
    if (c.result === 0) {
      assert.deepEqual(Object.keys(packed[0]), ['pago.zav'], 'entry under its bare name');
      assert.equal(packed[0]['pago.zav'][0], payment);
      assert.deepEqual([...fs.files.keys()].sort(), ['/c/ZAV/temp/pago.zav', '/c/ZAV/temp/pago.zip']);
    } else {
      assert.deepEqual([...fs.files.keys()], ['/c/ZAV/temp/pago.zav'], `${c.name}: nothing left behind`);
    }
  }
});

test('a file deflated elsewhere goes into a standard archive as it is, never read again', {
  skip: !fflate && 'fflate is not installed (npm ci in web/)',
}, () => {
  const { Zip, unzipSync } = fflate;
  const payment = new TextEncoder().encode('03A1234567890 JUAN PEREZ 0001234\r\n'.repeat(5000));
  const raw = zlib.deflateRawSync(payment);
  const third = Math.floor(raw.length / 3);
  const chunks = [raw.subarray(0, third), raw.subarray(third, 2 * third), raw.subarray(2 * third)];
  const packed = { chunks, crc: crc32(payment), size: payment.length };
  const files = new Map([['/c/ZAV/temp/pago.zav', 'not to be read']]);
  const fs = { ...fakeFS(files), readFile: () => assert.fail('the file was read') };
  const dzipVB = makeDzipVB({ FS: fs, nativePath, zipSync: null, Zip, deflated: () => packed });
  assert.equal(dzipVB(...records('C:\\ZAV\\temp\\pago.zip', 'C:\\ZAV\\temp\\pago.zav')).result, 0);
  const archive = files.get('/c/ZAV/temp/pago.zip');
  assert.deepEqual(unzipSync(archive)['pago.zav'], payment);
  // Another zip reader checks the CRC-32 and the sizes too.
  const where = path.join(os.tmpdir(), `zav-units-${process.pid}.zip`);
  writeFileSync(where, archive);
  try {
    execFileSync('python3', ['-c', 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)', where]);
  } finally {
    rmSync(where);
  }
});

// The packer of picked files (web/wasm/pack.cpp), once web/build-wasm.sh has built it.
const packerWasm = new URL('../dist/zavpack.wasm', import.meta.url);
const packer = existsSync(packerWasm)
  ? await (await import('../dist/zavpack.js')).default({ wasmBinary: readFileSync(packerWasm) })
  : null;

test('parts deflated apart, one after the other, are one deflate stream with the whole CRC', {
  skip: !packer && 'the packer is not built (web/build-wasm.sh)',
}, () => {
  const part = 4096;
  const input = packer._malloc(part);
  const room = packer._zav_pack_bound(part);
  const output = packer._malloc(room);
  // Records, with stretches of noise so that the parts hold stored and fixed blocks too.
  const record = new TextEncoder().encode('03A1234567890 JUAN PEREZ 0001234'.padEnd(295));
  const made = (size) =>
    Uint8Array.from({ length: size }, (_, i) => (i % 9000 < 700 ? (i * 2654435761) >>> 24 : record[i % 295]));
  for (const size of [0, 1, part - 1, part, part + 1, 3 * part, 10 * part + 17]) {
    for (const level of [1, 4, 6, 12]) {
      const file = made(size);
      const pieces = [];
      let crc = 0;
      for (let at = 0; at < size || at === 0; at += part) {
        const bytes = file.subarray(at, Math.min(at + part, size));
        packer.HEAPU8.set(bytes, input);
        const last = at + part >= size ? 1 : 0;
        const written = packer._zav_pack_part(input, bytes.length, output, room, level, last);
        assert.ok(written > 0, `size ${size}, level ${level}: part at ${at} deflated`);
        pieces.push(packer.HEAPU8.slice(output, output + written));
        crc = combineCrc32(crc, packer._zav_pack_crc32(0, input, bytes.length) >>> 0, bytes.length);
        if (size === 0) break;
      }
      const stream = Buffer.concat(pieces);
      assert.deepEqual(new Uint8Array(zlib.inflateRawSync(stream)), file, `size ${size}, level ${level}`);
      assert.equal(crc, crc32(file), `size ${size}, level ${level}: CRC-32`);
    }
  }
  packer._free(input);
  packer._free(output);
});

test('CRC-32s combine as the bytes join', () => {
  const bytes = Uint8Array.from({ length: 70000 }, (_, i) => (i * 31 + (i >> 7)) & 0xff);
  for (const cut of [0, 1, 295, 65536, 69999, 70000]) {
    const [a, b] = [bytes.subarray(0, cut), bytes.subarray(cut)];
    assert.equal(combineCrc32(crc32(a), crc32(b), b.length), crc32(bytes), `cut at ${cut}`);
  }
});

test('control text is Windows-1252', () => {
  assert.deepEqual([...encodeCp1252('Año €')], [0x41, 0xf1, 0x6f, 0x20, 0x80]);
  assert.deepEqual([...encodeCp1252('Ω')], [0x3f]);
  const all = Uint8Array.from({ length: 256 }, (_, i) => i);
  assert.deepEqual(encodeCp1252(decodeCp1252(all)), all, 'every byte round-trips');
});

// ---- envio.js ----

test('every answer of the server is told in Spanish, never in its English', async () => {
  const cases = [
    [201, { archive: 'a.zip', error: 'x' }, true, /^Archivo enviado: a\.zip$/],
    [200, { received: '2025-06-01T12:00:00Z' }, true, /ya se había recibido el 0[12]\/06\/2025/],
    [409, { cause: 'duplicate', received: '2025-06-01T12:00:00Z' }, false, /otro archivo de pago/],
    [422, { cause: 'rejected', text: 'Mensaje del control.\r\nFolio: 1\r\n' }, false,
      /^Mensaje del control\.\nFolio: 1$/],
    [422, { cause: 'wrong_name', expected: 'b.zip' }, false, /debería ser b\.zip/],
    [422, { cause: 'rejected', failure: { number: 6, description: 'Overflow' } }, false, /error 6/],
    [401, { cause: 'unauthenticated' }, false, /clave de envío/],
    [403, { cause: 'forbidden' }, false, /no permite enviar/],
    [403, { cause: 'foreign_origin' }, false, /página de validación/],
    [413, { cause: 'too_large' }, false, /demasiado grande/],
    [429, {}, false, /Demasiados envíos/],
    [503, { cause: 'busy' }, false, /ocupado/],
    [507, { cause: 'quota' }, false, /mañana/],
    [507, { cause: 'disk_full' }, false, /no puede guardar/],
    [411, { cause: 'length_required' }, false, /navegador/],
    [502, {}, false, /respuesta 502/],
  ];
  for (const [status, body, sent, text] of cases) {
    const outcome = uploadOutcome(status, body, 'a.zip');
    assert.equal(outcome.sent, sent, `${status}`);
    assert.match(outcome.text, text, `${status} ${JSON.stringify(body)}`);
    assert.doesNotMatch(outcome.text, /\bthe\b|server|refused/i, `${status}: English`);
  }
  const asked = [];
  const fetchFn = async (url, init) => {
    asked.push({ url, init });
    return { status: 401, json: async () => ({ error: 'uploads need credentials', cause: 'unauthenticated' }) };
  };
  const { retry } = await sendArchive(fetchFn, 'a b.zip', new Uint8Array(1), 'secreto');
  const { url, init: { headers } } = asked[0];
  assert.deepEqual([url, headers.Authorization, headers['Content-Type'], retry],
    ['api/upload?name=a%20b.zip', 'Bearer secreto', 'application/zip', true]);
  const offline = await sendArchive(async () => { throw new TypeError('Failed to fetch'); }, 'a.zip', new Uint8Array(1), '');
  assert.match(offline.text, /comunicarse con el servidor/);
});

// ---- csv.js ----

test('CSV cells a spreadsheet would run as formulas open as text; numbers stay numbers', async () => {
  const { csvCell, csvText } = await import('../csv.js');
  const cases = [
    ['=HYPERLINK("x")', `"'=HYPERLINK(""x"")"`], ['+1+1', "'+1+1"], ['-2+3', "'-2+3"], ['@SUM(A1)', "'@SUM(A1)"],
    ['\tX', "'\tX"], ['\rX', `"'\rX"`], ['-', "'-"], ['-12.50', '-12.50'], ['+3', '+3'], [-7, '-7'], ['12', '12'],
    ['GARCÍA, ANA', '"GARCÍA, ANA"'], ['a=b', 'a=b'], [null, ''],
  ];
  for (const [value, cell] of cases) assert.equal(csvCell(value), cell, JSON.stringify(value));
  assert.equal(csvText([['a', '=1+1'], [-1, 'x']]), "\ufeffa,'=1+1\r\n-1,x\r\n");
});
