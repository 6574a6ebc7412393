// zav diff: what differs between two payment files, field by field by the record layouts.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace zavcli {

struct DiffRequest {
  std::string a, b;
  bool json = false;
  bool mask = false;
};

CLI::App* AddDiffCommand(CLI::App& app, DiffRequest& r);

// Exit status 0 the same, 1 different, 2 a file cannot be read.
int RunDiff(const DiffRequest& r);

}  // namespace zavcli
