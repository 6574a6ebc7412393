// zav: the command line of the payment-file control.
#include <CLI/CLI.hpp>
#include <iostream>

#include "host/json_host.hpp"

int main(int argc, char** argv) {
  CLI::App app{
      "zav: validator of employers' social-security payment files.\n"
      "Checks every record and total of a payment file, its check value and its payment\n"
      "deadline, packs it for upload and gives the payment capture line."};
  app.require_subcommand(1);

  auto* host = app.add_subcommand(
      "host", "Script the control with JSON lines on stdin/stdout: one request per line, "
              "{\"call\": NAME, \"args\": [...]}, {\"get\": NAME} or {\"put\": NAME, \"value\": V}.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return e.get_exit_code() == 0 ? 0 : (code == 0 ? 0 : 64);
  }

  if (host->parsed()) {
    zav::JsonHost json_host;
    return json_host.Run(std::cin, std::cout);
  }
  return 0;
}
