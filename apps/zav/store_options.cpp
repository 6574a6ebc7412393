#include "store_options.hpp"

namespace zavcli {

void AddStoreOptions(CLI::App* cmd, ServeRequest& r) {
  cmd->add_option("--store", r.store,
                  "Where receipts and archives are kept: the upload folder --dir (default), "
                  "or a PostgreSQL database shared by several servers, named by a libpq URI "
                  "(postgresql:///zav?host=/run/postgresql); each server keeps its own "
                  "--work-dir");
  cmd->add_option("--keep-days", r.keep_days,
                  "Remove archives stored more than this many days ago, at start and every "
                  "hour; their receipts stay, marked with when (default: keep them)")
      ->check(CLI::Range(0, 1000000));
  cmd->add_option("--uploads", r.dir, "The upload folder: the same as --dir");

  CLI::App* token = cmd->get_subcommand("token");
  token->description("Manage the bearer tokens of --tokens, or of --store's database");
  CLI::App* revoke = token->add_subcommand(
      "revoke", "Revoke a token: the token itself, its identity token:HEX or its hash's start");
  revoke->fallthrough();
  revoke->add_option("TOKEN", r.token_which, "The token, token:HEX, or 12 or more hex of its hash")
      ->required();
  token->add_subcommand("list", "List the tokens: identity, entitlements, when added (revoked)")
      ->fallthrough();

  CLI::App* receipts = cmd->add_subcommand("receipts", "The stored receipts");
  receipts->fallthrough();
  receipts->require_subcommand(1);
  CLI::App* export_ = receipts->add_subcommand(
      "export", "Print the receipts of a period: one JSON a line, or CSV with a header");
  export_->fallthrough();
  export_->add_option("--period", r.period, "The period, YYYYMM")->required();
  export_->add_option("--format", r.format, "jsonl (default) or csv")
      ->check(CLI::IsMember({"jsonl", "csv"}));
}

}  // namespace zavcli
