// The page's service worker: keeps the page and the control so that, once visited, a
// payment file can be validated without a network.
//
// - Installing fetches the page's files and the control (the WebAssembly module) into a
//   cache. Every later fetch of them goes to the network first, so an online page is
//   always the server's latest, and refreshes the cache; without a network the cached
//   copy answers.
// - The server's endpoints (api/) are never answered from the cache: the date and the
//   upload are the server's or nothing (the page then uses the device's date and holds
//   the upload until the network is back).

const CACHE = 'zav-pagina-1';
const SHELL = [
  './',
  'index.html',
  'style.css',
  'app.js',
  'csv.js',
  'ui.js',
  'figures.js',
  'problems.js',
  'envio.js',
  'acuse.js',
  'acuse.css',
  'worker.js',
  'pack-worker.js',
  'zav.js',
  'dzip.js',
  'lib/control.mjs',
  'dist/zavctl.js',
  'dist/zavctl.wasm',
  'dist/fflate.js',
  'dist/zavpack.js',
  'dist/zavpack.wasm',
];

self.addEventListener('install', (event) => {
  event.waitUntil(
    (async () => {
      const cache = await caches.open(CACHE);
      // One by one: a file the site does not have does not stop the others.
      await Promise.all(SHELL.map((f) => cache.add(new Request(f, { cache: 'reload' })).catch(() => {})));
      await self.skipWaiting();
    })(),
  );
});

self.addEventListener('activate', (event) => {
  event.waitUntil(
    (async () => {
      for (const name of await caches.keys()) {
        if (name !== CACHE) await caches.delete(name);
      }
      await self.clients.claim();
    })(),
  );
});

self.addEventListener('fetch', (event) => {
  const request = event.request;
  const url = new URL(request.url);
  if (request.method !== 'GET' || url.origin !== self.location.origin) return;
  if (url.pathname.startsWith(new URL('api/', self.registration.scope).pathname)) return;
  event.respondWith(
    (async () => {
      const cache = await caches.open(CACHE);
      try {
        const response = await fetch(request);
        if (response.ok) event.waitUntil(cache.put(request, response.clone()));
        return response;
      } catch (offline) {
        const kept = await cache.match(request, { ignoreSearch: true });
        if (kept) return kept;
        throw offline;
      }
    })(),
  );
});
