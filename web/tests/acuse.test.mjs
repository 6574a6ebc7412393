// The page's check of a receipt signed as the server signs one (docs/receipts.md, acuse.js);
// the server's own receipts are checked by the page in the end-to-end test.

import assert from 'node:assert/strict';
import { createHash, webcrypto } from 'node:crypto';
import test from 'node:test';
import { verifyReceipt } from '../acuse.js';

const sha256 = (text) => createHash('sha256').update(text, 'utf8').digest('hex');

async function signed(fields) {
  const { privateKey, publicKey } = await webcrypto.subtle.generateKey({ name: 'Ed25519' }, true, ['sign', 'verify']);
  const raw = Buffer.from(await webcrypto.subtle.exportKey('raw', publicKey));
  const keyId = sha256(raw.toString('latin1')).slice(0, 16);
  const names = Object.keys(fields);
  const digests = Object.fromEntries(names.map((n) => [n, sha256(JSON.stringify([n, fields[n]]))]));
  const canonical = JSON.stringify(['zav-receipt-1', keyId, names.map((n) => [n, digests[n]])]);
  const signature = await webcrypto.subtle.sign({ name: 'Ed25519' }, privateKey, Buffer.from(canonical));
  return {
    receipt: { ...fields, signed_fields: names, field_sha256: digests, key_id: keyId, signature: Buffer.from(signature).toString('base64') },
    key: { algorithm: 'Ed25519', key_id: keyId, public_key: raw.toString('base64') },
  };
}

test('the page names the field that no longer matches its signature', async () => {
  const { receipt, key } = await signed({ rfc: 'ABCD010101XY1', workers: 3, total: '3611.56', capture_line: 'A1-ñ' });
  assert.equal((await verifyReceipt(receipt, key, webcrypto.subtle)).estado, 'valida');
  const cases = [
    ['rfc', 'XXXX010101XY1', 'invalida', ['rfc']],
    ['workers', 4, 'invalida', ['workers']],
    ['total', '1.00', 'invalida', ['total']],
    ['note', 'pagado', 'invalida', []], // a field nothing signed
    ['signature', receipt.signature.replace(/^./, (c) => (c === 'A' ? 'B' : 'A')), 'invalida', []],
    ['key_id', '0000000000000000', 'invalida', []],
  ];
  for (const [field, value, estado, changed] of cases) {
    const verdict = await verifyReceipt({ ...receipt, [field]: value }, key, webcrypto.subtle);
    assert.equal(verdict.estado, estado, field);
    assert.deepEqual(verdict.changed, changed, field);
  }
  const noEd25519 = { importKey: async () => { throw new Error('NotSupportedError'); } };
  assert.equal((await verifyReceipt(receipt, key, noEd25519)).estado, 'sin-verificar');
});
