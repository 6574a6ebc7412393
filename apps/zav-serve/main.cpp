// zav-serve: the upload server, started as `zav serve`.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "zav/command_line.hpp"
#include "zav/serve.hpp"
#include "zav/store_options.hpp"
#include "zav/version.hpp"

int main(int argc, char** argv) {
  CLI::App app{zavcli::kServeAbout, "zav serve"};
  zavcli::ServeRequest request;
  CLI::App* token_add = nullptr;
  zavcli::AddServeOptions(&app, request, &token_add);
  app.set_version_flag("--version", zavcli::VersionLine("zav-serve"),
                       "Print the version and the commit it was built from");
  if (const auto status = zavcli::ParseCommandLine(app, argc, argv)) return *status;
  try {
    if (const auto status = zavcli::RunStoreCommand(app, request)) return *status;
    return token_add->parsed() ? zavcli::RunTokenAdd(request) : zavcli::RunServe(request);
  } catch (const std::exception& e) {
    std::cerr << "zav serve: " << e.what() << "\n";
    return 2;
  }
}
