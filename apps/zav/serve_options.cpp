#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "serve.hpp"

namespace zavcli {

const char kServeAbout[] =
    "Serve the browser page and receive its validated payment archives: GET /api/date gives "
    "the server's date, POST /api/upload?name=ARCHIVE takes the archive, checks it again "
    "with the server's date and stores it in the upload folder";

void AddServeOptions(CLI::App* cmd, ServeRequest& r) {
  cmd->add_option("--port", r.port, "Port to listen on (0: any free port), default 8080")
      ->check(CLI::Range(0, 65535));
  cmd->add_option("--dir", r.dir, "Upload folder, created when missing (default: uploads)");
  cmd->add_option("--web", r.web, "Folder of the page's static files (default: the tree's web/)");
  cmd->add_option("--host", r.host, "Address to listen on (default: 127.0.0.1)");
  cmd->add_option("--max-bytes", r.max_bytes, "Largest archive accepted, bytes (default: 64 MiB)")
      ->check(CLI::PositiveNumber);
  cmd->add_option("--max-file-bytes", r.max_file_bytes,
                  "Largest payment file inside an archive, bytes (default: 512 MiB)")
      ->check(CLI::PositiveNumber);
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
