// Runs the zav command as a user does: Zav("check FILE --json") gives its exit status and
// everything it wrote, standard error included. `env` goes before the command
// ("ZAV_DRIVES=... "); `input` is its standard input. ExpectRuns judges a table of runs.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

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

// A run and what it must answer: its exit status, what it must say and what it must not.
struct CliCase {
  std::string args;
  int status;
  std::vector<std::string> said = {};
  std::string env = "";
  std::string not_said = "";
};

// The runs one after another, in order (a run may leave what the next one meets).
inline void ExpectRuns(const std::vector<CliCase>& cases) {
  for (const CliCase& c : cases) {
    const CliRun run = Zav(c.args, c.env);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.out;
    for (const std::string& said : c.said) {
      EXPECT_NE(run.out.find(said), std::string::npos) << c.args << "\n" << run.out;
    }
    if (!c.not_said.empty()) {
      EXPECT_EQ(run.out.find(c.not_said), std::string::npos) << c.args << "\n" << run.out;
    }
  }
}

}  // namespace zav::testing
