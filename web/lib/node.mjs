// zav-control in Node: the module's WebAssembly read from the package's own folder.
import { readFile } from 'node:fs/promises';
import { makeControl } from './zav-control.mjs';

export { nameFromHeader } from './zav-control.mjs';
export const { validate, check, diagnose } = makeControl(async () => ({
  wasmBinary: await readFile(new URL('../dist/zavctl.wasm', import.meta.url)),
}));
