// zav serve (the program zav-serve): the server that receives what the browser page packed.
// Public traffic meets nginx first (deploy/nginx/zav.conf), which passes requests on over a
// Unix socket (--socket) or loopback; zav-serve trusts nothing it receives and holds on its
// own all the same.
//
// Endpoints (every JSON answer is {"error": TEXT, "cause": CAUSE} when refused):
//
//   GET  /api/date      200 text/plain, the server's date DD/MM/YYYY (10 characters).
//   GET  /healthz       200 text/plain "ok": the server answers.
//   GET  /api/receipt-key  200 {algorithm: "Ed25519", key_id, public_key (base64 of the raw
//                       32 bytes), pem}: the key that checks the receipts' signatures.
//   GET  /metrics       200, the Prometheus text format: zav_requests_total{status},
//                       zav_refusals_total{cause}, zav_upload_duration_seconds (histogram),
//                       zav_stored_bytes_total, zav_uploads_stored_total,
//                       zav_uploads_in_flight.
//   POST /api/upload?name=ARCHIVE
//        Body: the archive's bytes (Content-Type application/zip or
//        application/octet-stream, with a Content-Length). Credentials: a bearer token
//        (Authorization: Bearer TOKEN, listed by its SHA-256 in --tokens with the
//        registrations it may upload for) or, from nginx, the subject of a client
//        certificate nginx verified (X-Zav-Client-Subject, exactly one CN: a registration,
//        or an RFC entitled to the registrations --cert-map ties to it). Answers:
//        201 RECEIPT              stored: the server's own archive of the validated file
//                                 under the name, with RECEIPT beside it as NAME.json:
//                                 {receipt_number, archive, registration, rfc, period, folio,
//                                 workers, amount_imss, amount_rcv,
//                                 amount_infonavit_contribution,
//                                 amount_infonavit_amortization, total, capture_line,
//                                 server_date, received, payment_sha256, archive_sha256,
//                                 uploader, client, signed_fields, field_sha256, key_id,
//                                 signature}, signed with --receipt-key (signing.hpp)
//        200 RECEIPT              the same payment file was stored already: the first receipt,
//                                 without uploader and client unless its uploader asks
//        400 bad_request          framing (two Content-Length, Content-Length with
//                                 Transfer-Encoding, a body on GET), bad_name, bad_archive
//                                 (not a zip, not exactly one regular plainly named file)
//        401 unauthenticated      no credentials, or unknown ones (WWW-Authenticate: Bearer)
//        403 foreign_origin       a browser request from another site
//        403 forbidden            the credentials do not entitle the name's registration
//        409 duplicate            another payment file was stored under the name: `received`
//                                 says when
//        411 length_required      no Content-Length (chunked bodies are not taken)
//        413 too_large            over --max-bytes, or the file over --max-file-bytes or
//                                 --max-unpack-ratio times its packed size
//        415 unsupported_type     another Content-Type (forms included)
//        422 rejected             the control rejected the file: {message, text} or
//                                 {failure: {number, description}}
//        422 wrong_name           accepted, but its archive name is {expected}
//        408 timeout              the body did not come within --request-timeout
//        500 server_error         the server could not check or store it
//        503 busy                 --max-uploads are under way, or the uploader's
//                                 --max-uploads-per-uploader (Retry-After)
//        507 disk_full, quota     no room above --min-free for what it may write, or the
//                                 uploader's daily --quota-bytes used
//   POST /api/check?name=NAME[&mask=1]
//        200 with what `zav check --all --json` prints for the payment file (or the page's
//        zip) in the body; stores nothing. Admitted as an upload is, without the
//        employer's entitlement (apps/zav-serve/check_endpoint.hpp).
//   GET  /api/openapi.json  this interface in OpenAPI 3.1 (share/zav/openapi.json), every
//        status and cause above included.
//   Anything else GET: the page's files (below); other methods 405 method_not_allowed,
//   unknown paths 404 not_found; a head over 16 KiB 431, one not in within 10 s 408; a
//   connection over --max-head-connections, or a request over --max-connections, 503
//   too_many_connections.
//
// - The page's files: only those directly in the web folder (--web, else the web/ folder of
//   the tree the program sits in) or in its dist/ folder, of the kinds a page is made of
//   (html, js, css, wasm, images, fonts), never through a symbolic link; nothing whose name
//   starts with '.'; a folder gives its index.html. At most one byte range is served;
//   API answers have none.
// - Whom it believes. One employer, one namespace: an upload is stored only when its
//   credentials entitle it to the registration of its name, decided from the head alone
//   (the same refusal whether or not the name is stored); nothing written inside the file,
//   its RFC included, widens them. Only nginx speaks for the client: the subject,
//   X-Real-IP and X-Request-Id headers count only on the Unix socket and only from a peer
//   whose uid (SO_PEERCRED) is --front-user's (default www-data, Debian's nginx user);
//   anything else that connects, another process of nginx's group included, is an
//   anonymous client. The token file and the certificate map are refused (at start: status
//   2; while running: nothing in them counts) when they are not regular files or their
//   group or others may write them.
// - Every request: the head within 10 s and the whole request within --request-timeout,
//   one request a connection, and one JSON line in the log (standard error).
//
// What one client or uploader may take, and what the operator sets (503 or 507 beyond):
// - Connections: at most --max-head-connections (512) whose head is still coming in, apart
//   from the --max-connections (128) served once it is in; GET /healthz and /api/date are
//   answered whatever the served count, so slow heads never fail health checks.
// - Upload slots: --max-uploads (16) at once, at most --max-uploads-per-uploader (default a
//   quarter of them, at least 1) by one uploader (token or certificate): slow bodies hold
//   their uploader's share only, and only for --request-timeout.
// - Disk: an upload is admitted only when the most it may write fits above --min-free on
//   each file system, with what the uploads under way may write: the file it may unpack
//   (the smaller of --max-file-bytes and --max-unpack-ratio times its Content-Length) and
//   the archive of it in the work folder, the archive in the upload folder. --work-dir may
//   be on another file system; each is checked for what goes there. Give them room for
//   --max-uploads times 3 x --max-file-bytes above --min-free (15 GiB with the defaults), or
//   lower those.
// - Quota: --quota-bytes a day per uploader, counting what it stored and what its refused
//   uploads sent and unpacked.
// - Defaults: a payment file of 1 000 000 workers is 295 MB; --max-file-bytes 320 MiB takes
//   it with room, and it packs well within --max-unpack-ratio 100 and --max-bytes 64 MiB.
// - Listens on 127.0.0.1:8080 unless --host/--port or --socket say otherwise; refuses an
//   address that is not loopback unless --insecure-direct, and an address in use. Once
//   listening it prints "zav serve: listening on http://HOST:PORT/" (or "on unix:PATH") on
//   standard output.
// - SIGINT and SIGTERM stop it gracefully: no new connections, requests under way answered,
//   then exit status 0. Status 64 for a usage error (an unknown --front-user included), 2
//   when it cannot listen or use its folders or files.
//
// `zav serve token add --tokens FILE ENTITLEMENT...` adds a bearer token for registrations
// (11 characters), each alone or tied to the employer's RFC (12 or 13) as RFC=REGISTRATION,
// prints it once and keeps only its SHA-256 in FILE; an RFC alone is refused (status 64).
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zavcli {

struct ServeRequest {
  int port = 8080;
  std::string host = "127.0.0.1";
  std::optional<std::string> socket;
  bool insecure_direct = false;
  std::string dir = "uploads";
  std::optional<std::string> work_dir;  // default: the upload folder's name + ".work"
  std::optional<std::string> web;
  std::optional<std::string> tokens;
  std::optional<std::string> cert_map;
  std::optional<std::string> receipt_key;  // default: receipt-key.pem beside the upload folder
  std::string front_user = "www-data";     // nginx's user: a name or a uid
  std::vector<std::string> allow_origins;
  std::uint64_t max_bytes = std::uint64_t{64} << 20;
  std::uint64_t max_file_bytes = std::uint64_t{320} << 20;
  std::uint64_t max_unpack_ratio = 100;
  int max_uploads = 16;
  int max_uploads_per_uploader = 0;  // 0: max(1, max_uploads / 4)
  int max_connections = 128;
  int max_head_connections = 512;
  int request_timeout = 30;
  std::uint64_t min_free = std::uint64_t{1} << 30;
  std::uint64_t quota_bytes = std::uint64_t{1} << 30;  // 0: none
  std::vector<std::string> token_employers;            // token add: entitlements
  std::string store;             // "": the upload folder; else a PostgreSQL URI
  std::optional<int> keep_days;  // archives kept this many days (receipts stay)
  std::string period;            // receipts export
  std::string format = "jsonl";  // receipts export: jsonl or csv
  std::string token_which;       // token revoke
};

extern const char kServeAbout[];

// The server's options, on `zav serve` and on the server program itself. `token_add` is the
// `token add` subcommand.
void AddServeOptions(CLI::App* cmd, ServeRequest& r, CLI::App** token_add = nullptr);
CLI::App* AddServeCommand(CLI::App& app, ServeRequest& r);

// `zav serve ARGS`: replaces this process by the server program, zav-serve, which sits
// beside zav. The HTTP library (and the TLS library it starts when loaded) lives only
// there, so every other command starts without it. Returns only on failure (status 2).
int ExecServe(int argc, char** argv);

// The server itself (zav-serve): runs until SIGINT or SIGTERM.
int RunServe(const ServeRequest& r);

// `token add`: prints a new token for r.token_employers and adds its hash to r.tokens.
int RunTokenAdd(const ServeRequest& r);

}  // namespace zavcli
