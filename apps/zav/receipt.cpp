#include "receipt.hpp"

#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "receipt/receipt.hpp"

namespace zavcli {

namespace {

using json = nlohmann::ordered_json;

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

CLI::App* AddReceiptCommand(CLI::App& app, ReceiptRequest& r) {
  CLI::App* receipt = app.add_subcommand("receipt", "Receipts of the upload server");
  receipt->require_subcommand(1);
  CLI::App* verify = receipt->add_subcommand(
      "verify",
      "Check a receipt's signature offline: exit 0 when valid, 1 naming the field that does "
      "not match, 2 when a file cannot be read");
  verify->add_option("RECEIPT", r.receipt, "The receipt (JSON), as the server answered it")
      ->required();
  verify
      ->add_option("--key", r.key,
                   "The server's public key: the answer of GET /api/receipt-key saved to a "
                   "file, or a PEM public key")
      ->required();
  verify->add_flag("--json", r.json,
                   "Print the verdict as JSON: {valid, key_id, problem, changed, "
                   "unsigned_fields, left_out}");
  return verify;
}

int RunReceiptVerify(const ReceiptRequest& r) {
  const std::optional<std::string> key_text = ReadFile(r.key);
  const std::optional<std::string> receipt_text = ReadFile(r.receipt);
  if (!key_text || !receipt_text) {
    std::cerr << "zav receipt verify: cannot read " << (key_text ? r.receipt : r.key) << "\n";
    return 2;
  }
  const std::optional<zav::receipt::PublicKey> key = zav::receipt::ParsePublicKey(*key_text);
  if (!key) {
    std::cerr << "zav receipt verify: " << r.key << " holds no Ed25519 public key\n";
    return 2;
  }
  const json receipt = json::parse(*receipt_text, nullptr, false);
  if (!receipt.is_object()) {
    std::cerr << "zav receipt verify: " << r.receipt << " is not a JSON object\n";
    return 2;
  }
  const zav::receipt::Verdict v = zav::receipt::Verify(receipt, *key);
  if (r.json) {
    std::cout << json{{"valid", v.valid},
                      {"key_id", key->key_id},
                      {"problem", v.problem.empty() ? json(nullptr) : json(v.problem)},
                      {"changed", v.changed},
                      {"unsigned_fields", v.unsigned_fields},
                      {"left_out", v.left_out}}
                     .dump(2)
              << "\n";
    return v.valid ? 0 : 1;
  }
  if (v.valid) {
    std::cout << r.receipt << ": valid, signed by key " << key->key_id;
    if (!v.left_out.empty()) std::cout << " (left out: " << Joined(v.left_out) << ")";
    std::cout << "\n";
    return 0;
  }
  std::cout << r.receipt << ": NOT valid: " << v.problem << "\n";
  for (const std::string& field : v.changed) {
    std::cout << "  field " << field << " does not match its signature\n";
  }
  for (const std::string& field : v.unsigned_fields) {
    std::cout << "  field " << field << " is not signed\n";
  }
  return 1;
}

}  // namespace zavcli
