// Runs the zav command as a user does: Zav("check FILE --json") gives its exit status and
// everything it wrote, standard error included. `env` goes before the command
// ("ZAV_DRIVES=... "); `input` is its standard input.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace zav::testing {

struct CliRun {
  int status;
  std::string out;
};

inline CliRun Zav(const std::string& args, const std::string& env = "",
                  const std::string& input = "") {
  CliRun run{-1, ""};
  const std::string feed = input.empty() ? "" : "printf '%s' '" + input + "' | ";
  FILE* pipe =
      ::popen((feed + env + " " + std::string(ZAV_BINARY) + " " + args + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    run.out.append(buffer, got);
  }
  const int raw = ::pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

}  // namespace zav::testing
