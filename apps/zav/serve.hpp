// zav serve (the program zav-serve): the server the browser page talks to. It serves the page's
// static files and two endpoints, GET /api/date (the server's date, DD/MM/YYYY, text/plain) and
// POST /api/upload?name=ARCHIVE (the archive's bytes as the body), whose contract and
// checks are written at the top of host/upload.hpp. Nothing else is reachable: the control
// cannot be scripted from outside.
//
// - Static files come from the web folder (--web, else the web/ folder of the tree the
//   program sits in), only of the kinds a page is made of (html, js, mjs, css, wasm,
//   images, fonts); a path with a segment starting with '.' (hidden files, "..") is not
//   found; a folder gives its index.html and is never listed.
// - Listens on 127.0.0.1 unless --host says otherwise; --port 0 takes any free port. Once
//   listening it prints "zav serve: listening on http://HOST:PORT/" on standard output.
// - SIGINT and SIGTERM stop it gracefully: requests under way are answered, then it exits
//   with status 0. Status 64 for a usage error (no web folder), 2 when it cannot listen or
//   create the upload folder.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>

namespace zavcli {

struct ServeRequest {
  int port = 8080;
  std::string dir = "uploads";
  std::optional<std::string> web;
  std::string host = "127.0.0.1";
  std::uint64_t max_bytes = std::uint64_t{64} << 20;
  std::uint64_t max_file_bytes = std::uint64_t{512} << 20;
};

extern const char kServeAbout[];

// The server's options, on `zav serve` and on the server program itself.
void AddServeOptions(CLI::App* cmd, ServeRequest& r);
CLI::App* AddServeCommand(CLI::App& app, ServeRequest& r);

// `zav serve ARGS`: replaces this process by the server program, zav-serve, which sits
// beside zav. The HTTP library (and the TLS library it starts when loaded) lives only
// there, so every other command starts without it. Returns only on failure (status 2).
int ExecServe(int argc, char** argv);

// The server itself (zav-serve): runs until SIGINT or SIGTERM.
int RunServe(const ServeRequest& r);

}  // namespace zavcli
