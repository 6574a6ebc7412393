#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "serve.hpp"
#include "store_options.hpp"

namespace zavcli {

const char kServeAbout[] =
    "Serve the browser page and receive its validated payment archives: GET /api/date gives "
    "the server's date, POST /api/upload?name=ARCHIVE takes the archive of an entitled "
    "uploader, checks it again with the server's date and stores the server's own archive "
    "of it with a receipt. Meant behind nginx (deploy/nginx/zav.conf)";

void AddServeOptions(CLI::App* cmd, ServeRequest& r, CLI::App** token_add) {
  const auto bytes = CLI::AsSizeValue(false);
  cmd->add_option("--port", r.port, "TCP port to listen on (0: any free port), default 8080")
      ->check(CLI::Range(0, 65535));
  cmd->add_option("--host", r.host, "Address to listen on (default: 127.0.0.1)");
  cmd->add_option("--socket", r.socket,
                  "Listen on this Unix socket instead (for nginx in front); only there, and "
                  "only from --front-user, are the client-certificate and client-address "
                  "headers trusted");
  cmd->add_option("--front-user", r.front_user,
                  "nginx's user (a name or a uid), checked on each connection to --socket: "
                  "whoever else connects is an anonymous client and its headers are ignored "
                  "(default: www-data)");
  cmd->add_flag("--insecure-direct", r.insecure_direct,
                "Allow an address that is not loopback: clients reach zav-serve without nginx");
  cmd->add_option("--dir", r.dir, "Upload folder, created when missing (default: uploads)");
  cmd->add_option("--work-dir", r.work_dir,
                  "Folder of the checks' work, emptied at start (default: the upload folder's "
                  "name + .work)");
  cmd->add_option("--web", r.web, "Folder of the page's static files (default: the tree's web/)");
  cmd->add_option("--tokens", r.tokens,
                  "File of bearer tokens: one a line, its SHA-256 in hex, then the "
                  "registrations it may upload for (REGISTRATION or RFC=REGISTRATION); refused "
                  "when its group or others may write it");
  cmd->add_option("--cert-map", r.cert_map,
                  "File tying RFCs to registrations for client certificates: lines RFC "
                  "REGISTRATION...; a certificate whose CN is an RFC uploads only for those "
                  "(one whose CN is a registration, for that one); refused when its group or "
                  "others may write it");
  cmd->add_option("--receipt-key", r.receipt_key,
                  "Ed25519 private key (PEM) that signs the receipts, made (mode 0600) when "
                  "missing; refused when its group or others may read it. Replicas sharing a "
                  "store need the same file (default: receipt-key.pem beside the upload folder)");
  cmd->add_option("--allow-origin", r.allow_origins,
                  "A site (scheme://host[:port]) whose pages may upload besides the server's "
                  "own; repeatable");
  cmd->add_option("--max-bytes", r.max_bytes, "Largest archive accepted (default: 64MiB)")
      ->transform(bytes)
      ->check(CLI::PositiveNumber);
  cmd->add_option("--max-file-bytes", r.max_file_bytes,
                  "Largest payment file inside an archive (default: 320MiB, a file of "
                  "1 000 000 workers and room)")
      ->transform(bytes)
      ->check(CLI::PositiveNumber);
  cmd->add_option("--max-unpack-ratio", r.max_unpack_ratio,
                  "Times its packed size a file may unpack to (default: 100)")
      ->check(CLI::Range(1, 100000));
  cmd->add_option("--max-uploads", r.max_uploads,
                  "Uploads received or checked at once; more get 503 (default: 16)")
      ->check(CLI::Range(1, 4096));
  cmd->add_option("--max-uploads-per-uploader", r.max_uploads_per_uploader,
                  "Of them, uploads one uploader (token or certificate) may have under way; "
                  "more get 503 (default: a quarter of --max-uploads, at least 1)")
      ->check(CLI::Range(1, 4096));
  cmd->add_option("--max-connections", r.max_connections,
                  "Requests served at once after their head came in; more get 503, but health "
                  "and the date are answered (default: 128)")
      ->check(CLI::Range(1, 65536));
  cmd->add_option("--max-head-connections", r.max_head_connections,
                  "Connections whose request head is still coming in, counted apart from "
                  "--max-connections; more get 503 (default: 512)")
      ->check(CLI::Range(1, 65536));
  cmd->add_option("--request-timeout", r.request_timeout,
                  "Seconds a client has to send a whole request (default: 30)")
      ->check(CLI::Range(1, 3600));
  cmd->add_option("--min-free", r.min_free,
                  "Free space kept on the file systems of the upload and work folders, counting "
                  "the most each upload under way may unpack and store; uploads that would "
                  "pass it get 507 (default: 1GiB)")
      ->transform(bytes);
  cmd->add_option("--quota-bytes", r.quota_bytes,
                  "Bytes an uploader may cost a day: what it stored, and what its refused "
                  "uploads sent and unpacked; 0 for no limit (default: 1GiB)")
      ->transform(bytes);

  CLI::App* token = cmd->add_subcommand("token", "Manage the bearer tokens of --tokens");
  token->fallthrough();
  token->require_subcommand(1);
  CLI::App* add = token->add_subcommand(
      "add", "Add a token for these registrations: print it (once) and keep only its SHA-256");
  add->fallthrough();
  add->add_option("ENTITLEMENT", r.token_employers,
                  "Registrations it may upload for (11 letters or digits), each alone or tied "
                  "to the employer's RFC (12 or 13): REGISTRATION or RFC=REGISTRATION")
      ->required();
  if (token_add != nullptr) *token_add = add;
  AddStoreOptions(cmd, r);
}

CLI::App* AddServeCommand(CLI::App& app, ServeRequest& r) {
  CLI::App* cmd = app.add_subcommand("serve", kServeAbout);
  AddServeOptions(cmd, r);
  return cmd;
}

int ExecServe(int argc, char** argv) {
  int first = 1;
  while (first < argc && std::strcmp(argv[first], "serve") != 0) ++first;
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path server = exe.parent_path() / "zav-serve";
  if (ec || ::access(server.c_str(), X_OK) != 0) {
    std::cerr << "zav serve: the upload server " << (ec ? "zav-serve" : server.string())
              << " is missing: it belongs beside zav (the build puts both in the same folder)\n";
    return 2;
  }
  std::vector<char*> args{const_cast<char*>("zav serve")};
  for (int i = first + 1; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  std::cout.flush();
  ::execv(server.c_str(), args.data());
  std::cerr << "zav serve: cannot start " << server << ": " << std::strerror(errno) << "\n";
  return 2;
}

}  // namespace zavcli
