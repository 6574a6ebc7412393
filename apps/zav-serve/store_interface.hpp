// What zav-serve keeps beyond one request, whichever store keeps it: the receipts and the
// archives (a name stored once, receipt and archive together or neither), the uploaders'
// daily use of their quota, the bearer tokens a store may hold, and when archives older than
// --keep-days were removed (their receipts stay, marked with that time). Two stores: the
// upload folder (store.hpp), one server's alone, the default; and a PostgreSQL database
// (pg_store.hpp), shared by every replica, each with its own work folder.
//
// A store that cannot be reached throws StoreUnavailable; what asked answers 503
// store_unavailable, and the store tries again by itself on the next request.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/upload.hpp"
#include "uploaders.hpp"

namespace zavserve {

class Aside;

class StoreUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// 503 store_unavailable: the store cannot be reached now.
zav::UploadAnswer Unavailable();

// A stored receipt as it was given, and when its archive was removed (UTC), if it was.
struct StoredReceipt {
  nlohmann::ordered_json receipt;
  std::optional<std::string> archive_removed;

  // {"receipt": {...}, "archive_removed": "2026-12-07T11:00:00.000Z" | null}
  nlohmann::ordered_json Json() const;
};

// The period (YYYYMM) of archive `name`, "" when it is no archive name.
std::string ArchivePeriod(std::string_view name);
// Whether `text` is a period: YYYYMM, month 01 to 12.
bool IsPeriod(std::string_view text);

class ReceiptStore {
 public:
  virtual ~ReceiptStore() = default;

  // This server's own folder of checks.
  virtual const std::filesystem::path& work() const = 0;
  // Where an archive is written (an Aside) before it is stored, on whose file system it
  // takes room.
  virtual const std::filesystem::path& spool() const = 0;
  // Where it keeps what it keeps, for the start line (no password).
  virtual std::string Where() const = 0;

  // The receipt of archive `name`, when it was stored.
  virtual std::optional<nlohmann::ordered_json> Receipt(std::string_view name) const = 0;
  // Stores `archive` as `name` with `receipt`: 201 with the receipt; when the name was
  // stored meanwhile, what a second upload gets (UploadStore::Again); 500 or 503 when it
  // could not (nothing stored).
  virtual zav::UploadAnswer Store(const std::string& name, Aside& archive,
                                  const nlohmann::ordered_json& receipt) = 0;

  // The receipt of `name` with its archive's state; the receipts of `period` for
  // `registrations` (all when empty), by name.
  virtual std::optional<StoredReceipt> Lookup(std::string_view name) const = 0;
  virtual std::vector<StoredReceipt> Period(
      std::string_view period, const std::vector<std::string>& registrations) const = 0;

  // Removes the archives stored more than `days` days ago, keeping their receipts, marked:
  // how many it removed.
  virtual int RemoveArchivesOlderThan(int days) = 0;

  // Whether it can be used now.
  virtual bool Ready() const { return true; }

  // The uploader a bearer token held here names, if any.
  virtual std::optional<Uploader> FindToken(std::string_view /*token*/) const {
    return std::nullopt;
  }

  // What `identity` used of its quota on `day`, and a charge to it; kept in memory unless
  // the store shares it.
  virtual std::uint64_t Used(const std::string& identity, const std::string& day);
  virtual void Charge(const std::string& identity, const std::string& day, std::uint64_t bytes);

 private:
  std::mutex mutex_;
  std::map<std::string, std::pair<std::string, std::uint64_t>> used_;  // identity: day, bytes
};

// Where bearer tokens are looked up: the token file, then the store.
class TokenLookup {
 public:
  TokenLookup(TokenFile& file, const ReceiptStore& store) : file_(file), store_(store) {}
  // Throws StoreUnavailable when the token is not in the file and the store cannot say.
  std::optional<Uploader> Find(std::string_view token) {
    if (auto uploader = file_.Find(token)) return uploader;
    return store_.FindToken(token);
  }

 private:
  TokenFile& file_;
  const ReceiptStore& store_;
};

// Removes archives older than `days` days at start and every hour, until destroyed.
class RetentionLoop {
 public:
  RetentionLoop(ReceiptStore& store, int days);
  ~RetentionLoop();
  RetentionLoop(const RetentionLoop&) = delete;
  RetentionLoop& operator=(const RetentionLoop&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The store --store names ("" or a folder store: --dir), made ready: folders made and
// locked, or the database reached and its schema made or migrated. Throws
// std::runtime_error saying why it cannot.
std::unique_ptr<ReceiptStore> OpenStore(const std::string& store, const std::filesystem::path& dir,
                                        const std::filesystem::path& work);

// Whether `store` names a database.
bool IsDatabase(std::string_view store);

}  // namespace zavserve
