// The store of every replica: a PostgreSQL database (libpq), named by a connection URI
// (postgresql:///zav?host=/run/postgresql). Each replica keeps only its own work folder.
//
// Receipts are kept as given (text, byte for byte: a signed receipt stays verifiable), with
// the fields they are found by beside them: name (the primary key: a name stored once),
// registration and period (both from the name), payment_sha256, received. A receipt and its
// archive (bytea) are stored by one statement, so in one transaction: both or neither, and
// a replica killed or cut off before the commit leaves nothing. Tokens (their SHA-256 and
// entitlements), the quota's daily use and when archives were removed live there too.
//
// The schema is made and migrated at start, by version (table zav_schema), under an
// advisory lock so that replicas starting together migrate once; a database of a newer
// version than this program knows is refused. Connections are pooled; a broken one is
// dropped and the next request connects again, so the replica recovers by itself once the
// database is back.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "store_interface.hpp"

typedef struct pg_conn PGconn;

namespace zavserve {

// The schema version this program writes.
constexpr int kSchemaVersion = 1;

class PgStore : public ReceiptStore {
 public:
  // Connects, makes or migrates the schema, makes and locks `work` (emptied). Throws
  // std::runtime_error saying why it cannot.
  PgStore(std::string uri, std::filesystem::path work);
  // For the operator's commands: no work folder.
  explicit PgStore(std::string uri);
  ~PgStore() override;

  const std::filesystem::path& work() const override { return work_; }
  const std::filesystem::path& spool() const override { return work_; }
  std::string Where() const override { return "receipts in " + Shown(); }
  // The URI, without its password.
  std::string Shown() const;

  std::optional<nlohmann::ordered_json> Receipt(std::string_view name) const override;
  zav::UploadAnswer Store(const std::string& name, Aside& archive,
                          const nlohmann::ordered_json& receipt) override;
  std::optional<StoredReceipt> Lookup(std::string_view name) const override;
  std::vector<StoredReceipt> Period(std::string_view period,
                                    const std::vector<std::string>& registrations) const override;
  int RemoveArchivesOlderThan(int days) override;
  bool Ready() const override;
  std::optional<Uploader> FindToken(std::string_view token) const override;
  std::uint64_t Used(const std::string& identity, const std::string& day) override;
  void Charge(const std::string& identity, const std::string& day, std::uint64_t bytes) override;

  // The operator's token commands: adds the SHA-256 of a new token with its entitlements
  // (returns the token); revokes the one whose token, identity (token:HEX) or hash prefix
  // is `which` (false when none or several); lists them, one a line.
  std::string AddToken(const std::vector<std::string>& entitlements);
  bool RevokeToken(const std::string& which);
  std::vector<std::string> ListTokens() const;

 private:
  struct Result;
  // Runs `sql` with text parameters (and binary ones where `binary` says) on a pooled
  // connection; a broken connection is dropped, and a read (`retry`) tried once more on a
  // new one. Throws StoreUnavailable when the database cannot be reached, std::runtime_error
  // when the statement fails.
  Result Run(const std::string& sql, const std::vector<std::string>& params, bool retry,
             const std::vector<bool>& binary = {}) const;
  // A pooled connection, or a new one (refused when the schema is newer than this program
  // knows, unless `any_schema`).
  PGconn* Take(bool any_schema = false) const;
  void Give(PGconn* conn) const;
  void Migrate();

  std::string uri_;
  std::filesystem::path work_;
  int lock_ = -1;
  mutable std::mutex mutex_;
  mutable std::vector<PGconn*> idle_;
};

}  // namespace zavserve
