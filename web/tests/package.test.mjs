// The npm package zav-control as a user gets it (`npm pack`, installed from the tarball), whose
// verdicts are the native `zav check --all --json`'s. Needs web/dist (web/build-wasm.sh):
//   ZAV_BINARY=build/bin/zav node --test web/tests/package.test.mjs

import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';

const web = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');
const zavBin = process.env.ZAV_BINARY;
const RECORD = 295;

test('the packed package validates and diagnoses as the native control does', {
  skip: (!zavBin || !fs.existsSync(path.join(web, 'dist/zavctl.wasm'))) && 'needs ZAV_BINARY and web/dist',
}, async () => {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'zav-package-'));
  try {
    const run = (cmd, args, options = {}) => execFileSync(cmd, args, { encoding: 'utf8', ...options });
    const packed = JSON.parse(run('npm', ['pack', '--json', '--pack-destination', scratch], { cwd: web }))[0];
    assert.match(packed.filename, /^zav-control-\d+\.\d+\.\d+\.tgz$/);
    const files = packed.files.map((f) => f.path);
    const needed = ['lib/index.d.ts', 'lib/node.mjs', 'dist/zavctl.wasm', 'dist/fflate.js'];
    assert.deepEqual(needed.filter((n) => !files.includes(n)), [], files.join(', '));
    assert.ok(!files.some((f) => f.startsWith('tests/') || f.endsWith('.html')), 'only the package');

    // A user's folder: the tarball installed without the registry.
    const user = path.join(scratch, 'user');
    fs.mkdirSync(user);
    fs.writeFileSync(path.join(user, 'package.json'), '{"type": "module", "private": true}');
    const tarball = path.join(scratch, packed.filename);
    run('npm', ['install', '--offline', '--no-audit', '--no-fund', '--loglevel=error', tarball], { cwd: user });

    // A valid file and the same file with a letter in a postal code and a changed fee.
    fs.mkdirSync(path.join(scratch, 'c'));
    const env = { ...process.env, ZAV_DRIVES: `C=fixed:${path.join(scratch, 'c')}` };
    run(zavBin, ['sample', '--workers', '12', '-o', scratch], { env });
    const name = fs.readdirSync(scratch).find((n) => n.endsWith('.ZAV'));
    const [good, bad] = [path.join(scratch, name), path.join(scratch, 'bad', name)];
    fs.mkdirSync(path.dirname(bad));
    const bytes = fs.readFileSync(good);
    bytes.write('0660X', 170, 'latin1');
    bytes.write('9999999', RECORD + 159, 'latin1');
    fs.writeFileSync(bad, bytes);
    const date = '10/05/2004';
    const native = (file) => {
      try {
        return JSON.parse(run(zavBin, ['check', file, '--all', '--json', '--server-date', date], { env }));
      } catch (e) {
        return JSON.parse(e.stdout); // exit 1: refused
      }
    };

    // The three lines of docs/programming.md, with a server date.
    const script = path.join(user, 'check.mjs');
    fs.writeFileSync(script, `import { readFile } from 'node:fs/promises';
import { check, validate } from 'zav-control';
const [file, name] = process.argv.slice(2);
const bytes = await readFile(file);
const verdict = await check(bytes, { name, serverDate: '${date}' });
const packed = await validate(bytes, { name, serverDate: '${date}' });
console.log(JSON.stringify({ verdict, archive: packed.archive?.length ?? 0, name: packed.archive_name }));`);
    for (const file of [good, bad]) {
      const out = JSON.parse(run('node', [script, file, name], { cwd: user }));
      const expected = native(file);
      const { result, capture_line, problems } = out.verdict;
      assert.deepEqual({ result, capture_line, problems, packed: out.archive > 0 },
        { result: expected.result, capture_line: expected.capture_line, problems: expected.problems, packed: expected.accepted }, file);
      if (expected.accepted) assert.match(out.name, /\.zip$/);
    }
    assert.equal(native(bad).problems.length, 3, 'the postal code, the fee against the summary, the check value');
  } finally {
    fs.rmSync(scratch, { recursive: true, force: true });
  }
});
