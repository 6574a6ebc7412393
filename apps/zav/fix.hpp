// zav fix: undoes the mechanical damage a payment file takes on its way to the page (an
// editor's line ends, a re-encoding to UTF-8, a wrong name) and writes the mended copy
// only when the file itself then proves it is what the generating program wrote.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace zavcli {

struct FixRequest {
  std::string file;
  std::string out;  // a file, or a folder to write the copy into under the name it must have
  bool force = false;
};

CLI::App* AddFixCommand(CLI::App& app, FixRequest& r);

// Exit status 0 mended (or nothing to mend), 1 damage found but the mend not proven
// (nothing written), 2 the file cannot be read or the copy written, 64 usage.
int RunFix(const FixRequest& r);

}  // namespace zavcli
