// What the programs' main functions share.
#pragma once

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace zavcli {

namespace detail {

// Edits (insertions, deletions, substitutions) between two words.
inline std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// For a first word that names no subcommand: the message saying so, with the nearest
// name when one is close ("valdate": validate).
inline std::optional<std::string> UnknownCommand(CLI::App& app, int argc, char** argv) {
  const std::vector<CLI::App*> commands = app.get_subcommands(std::function<bool(CLI::App*)>());
  if (argc < 2 || commands.empty() || argv[1][0] == '-') return std::nullopt;
  const std::string word = argv[1];
  std::string names, nearest;
  std::size_t best = 3;  // further than two edits away is no suggestion
  for (const CLI::App* c : commands) {
    if (c->check_name(word)) return std::nullopt;
    names += (names.empty() ? "" : ", ") + c->get_name();
    if (const std::size_t d = EditDistance(word, c->get_name()); d < best) {
      best = d;
      nearest = c->get_name();
    }
  }
  for (const CLI::App* c : commands) {
    if (nearest.empty() && word.size() >= 2 && c->get_name().rfind(word, 0) == 0) {
      nearest = c->get_name();
    }
  }
  std::string message =
      std::filesystem::path(argv[0]).filename().string() + ": '" + word + "' is not a command";
  message += nearest.empty() ? "; the commands are " + names : "; did you mean '" + nearest + "'?";
  return message;
}

}  // namespace detail

// Parses the command line into `app`. Nothing when the program goes on; otherwise the
// status to exit with, once what had to be said is said: 0 after --help, 64 for a usage
// error (an unknown command gets the nearest one's name).
inline std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv) {
  if (const auto unknown = detail::UnknownCommand(app, argc, argv)) {
    std::cerr << *unknown << "\nRun with --help for more information.\n";
    return 64;
  }
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return e.get_exit_code() == 0 ? 0 : 64;
  }
}

// A FILE argument that must be an existing file: one wording for a missing file and for a
// folder, whichever command is given it.
inline const CLI::Validator kExistingFile(
    [](std::string& path) -> std::string {
      std::error_code ec;
      const auto status = std::filesystem::status(path, ec);
      if (std::filesystem::is_directory(status)) return path + " is a folder, not a file";
      if (!std::filesystem::exists(status)) return path + " does not exist";
      return "";
    },
    "FILE", "file");

}  // namespace zavcli
