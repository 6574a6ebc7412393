// zav describe and zav split: reading a payment file as a person would, and splitting it
// over diskette parts.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace zavcli {

struct DescribeRequest {
  std::string file;
  bool mask = false;
  bool json = false;
};

CLI::App* AddDescribeCommand(CLI::App& app, DescribeRequest& r);

// Prints the view (UTF-8): one block a record, or one JSON object a line with --json.
// Exit status 0, or 2 when the file cannot be read.
int RunDescribe(const DescribeRequest& r);

struct SplitRequest {
  std::string file;
  int parts = 2;
  std::optional<std::string> out_dir;  // default: the file's folder
  bool force = false;                  // replace existing parts
};

CLI::App* AddSplitCommand(CLI::App& app, SplitRequest& r);

// Prints the paths of the parts written. Exit status 0; 1 when the file cannot be split
// as asked (nothing written); 2 when writing failed.
int RunSplit(const SplitRequest& r);

}  // namespace zavcli
