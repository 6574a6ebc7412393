// Shared by the page's end-to-end test and the browser benchmark: options and `zav serve`.

import { spawn } from 'node:child_process';

// The value of --NAME on the command line, else `fallback`; throws when neither is there.
export function option(name, fallback) {
  const i = process.argv.indexOf(`--${name}`);
  if (i >= 0 && i + 1 < process.argv.length) return process.argv[i + 1];
  if (fallback !== undefined) return fallback;
  throw new Error(`missing --${name}`);
}

// Starts `zavBin serve` on a loopback port (by default any free one) with the page from
// `site`, uploads to `uploads` and options `extra`; resolves with {url, process}.
export function startServer(zavBin, site, uploads, extra = [], port = 0) {
  return new Promise((resolve, reject) => {
    const args = ['serve', '--port', String(port), '--dir', uploads, '--web', site, ...extra];
    const server = spawn(zavBin, args, { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    const timer = setTimeout(() => reject(new Error(`zav serve did not start:\n${out}`)), 20_000);
    server.stderr.resume(); // its log, one JSON line a request, stays out of the test's output
    server.stdout.on('data', (chunk) => {
      out += chunk;
      const m = /listening on (http:\/\/[^\s/]+\/)/.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve({ url: m[1], process: server });
      }
    });
    server.on('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`zav serve exited with ${code}:\n${out}`));
    });
  });
}

export function stopServer(server) {
  return new Promise((resolve) => {
    if (server.exitCode !== null) return resolve(server.exitCode);
    const timer = setTimeout(() => server.kill('SIGKILL'), 10_000);
    server.removeAllListeners('exit');
    server.on('exit', (code, signal) => {
      clearTimeout(timer);
      resolve(code ?? signal);
    });
    server.kill('SIGTERM');
  });
}
