// zav-control in a browser or a bundler: the module's WebAssembly fetched from beside it
// (bundlers copy the file this URL names).
import { makeControl } from './zav-control.mjs';

export { nameFromHeader } from './zav-control.mjs';
export const { validate, check, diagnose } = makeControl(async () => ({
  locateFile: () => new URL('../dist/zavctl.wasm', import.meta.url).href,
}));
