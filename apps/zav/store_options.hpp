// The options of zav-serve's store, on `zav serve` and on the server program itself:
// --store (the upload folder or a PostgreSQL database shared by replicas), --keep-days,
// and the operator's commands on what is stored: `token revoke`, `token list` and
// `receipts export`.
#pragma once

#include <CLI/CLI.hpp>

#include "serve.hpp"

namespace zavcli {

void AddStoreOptions(CLI::App* cmd, ServeRequest& r);

// The operator's command that was asked for, run: its exit status; nothing when the server
// itself was asked for. `cmd` is the program's own (or zav's serve command).
std::optional<int> RunStoreCommand(const CLI::App& cmd, const ServeRequest& r);

}  // namespace zavcli
