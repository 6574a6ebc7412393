// What the programs' main functions share.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>

namespace zavcli {

// Parses the command line into `app`. Nothing when the program goes on; otherwise the
// status to exit with, once CLI11 has printed what it had to: 0 after --help, 64 for a
// usage error.
inline std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return e.get_exit_code() == 0 ? 0 : 64;
  }
}

}  // namespace zavcli
