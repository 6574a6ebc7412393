// Zav("check FILE", "ENV=... ") runs zav as a user does; ExpectRuns judges a table of runs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/payment_run.hpp"

namespace zav::testing {

using CliRun = Ran;

inline CliRun Zav(const std::string& args, const std::string& env = "") {
  return Shell(env + " " ZAV_BINARY " " + args);
}

// A run and what it must answer: its exit status, what it must say and what it must not.
struct CliCase {
  std::string args;
  int status;
  std::vector<std::string> said = {};
  std::string env = "";
  std::string not_said = "";
};

// A row too long for one line, laid out as a call.
inline CliCase Row(std::string args, int status, std::vector<std::string> said,
                   std::string env = "", std::string not_said = "") {
  return {std::move(args), status, std::move(said), std::move(env), std::move(not_said)};
}

// The runs one after another, in order (a run may leave what the next one meets).
inline void ExpectRuns(const std::vector<CliCase>& cases) {
  for (const CliCase& c : cases) {
    const CliRun run = Zav(c.args, c.env);
    const std::string why = c.args + "\n" + run.out;
    EXPECT_EQ(run.status, c.status) << why;
    for (const auto& said : c.said) EXPECT_NE(run.out.find(said), std::string::npos) << why;
    if (!c.not_said.empty()) {
      EXPECT_EQ(run.out.find(c.not_said), std::string::npos) << why;
    }
  }
}

}  // namespace zav::testing
