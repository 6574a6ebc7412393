// zav receipt verify RECEIPT.json --key KEY: checks a receipt of the upload server offline,
// against the server's public key (the answer of GET /api/receipt-key saved to a file, or
// its PEM). Exit 0 and "valid" when the signature holds and every field present is signed
// and unchanged; 1 naming what does not match; 2 when a file cannot be read or holds no key.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace zavcli {

struct ReceiptRequest {
  std::string receipt;
  std::string key;
  bool json = false;
};

// `zav receipt` with its subcommand `verify`; answers the `verify` subcommand.
CLI::App* AddReceiptCommand(CLI::App& app, ReceiptRequest& r);
int RunReceiptVerify(const ReceiptRequest& r);

}  // namespace zavcli
