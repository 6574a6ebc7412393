// zav-serve: the upload server, started as `zav serve`.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "zav/serve.hpp"

int main(int argc, char** argv) {
  CLI::App app{zavcli::kServeAbout, "zav serve"};
  zavcli::ServeRequest request;
  zavcli::AddServeOptions(&app, request);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return e.get_exit_code() == 0 ? 0 : 64;
  }
  try {
    return zavcli::RunServe(request);
  } catch (const std::exception& e) {
    std::cerr << "zav serve: " << e.what() << "\n";
    return 2;
  }
}
