#include "pg_store.hpp"

#include <libpq-fe.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "access_log.hpp"
#include "digest.hpp"
#include "store.hpp"
#include "uploaders.hpp"

namespace zavserve {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

// Any number, the same in every replica: the lock under which the schema is migrated.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(5912730004)";

// Migrations: the statements that bring the schema from version k to k + 1, in order.
const std::vector<const char*> kMigrations = {
    R"sql(
CREATE TABLE receipts (
  name text PRIMARY KEY,
  registration text NOT NULL,
  period text NOT NULL,
  payment_sha256 text NOT NULL,
  received text NOT NULL,
  stored timestamptz NOT NULL DEFAULT now(),
  receipt text NOT NULL,
  archive_removed timestamptz
);
CREATE INDEX receipts_by_period ON receipts (period, registration);
CREATE TABLE archives (
  name text PRIMARY KEY REFERENCES receipts (name) ON DELETE CASCADE,
  archive bytea NOT NULL
);
CREATE TABLE tokens (
  hash text PRIMARY KEY,
  entitlements text NOT NULL,
  registrations text[] NOT NULL,
  added timestamptz NOT NULL DEFAULT now(),
  revoked timestamptz
);
CREATE TABLE quota_use (
  identity text NOT NULL,
  day text NOT NULL,
  bytes bigint NOT NULL,
  PRIMARY KEY (identity, day)
);
)sql",
};

const char* kTime = "to_char(%s AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";

std::string TimeText(const char* column) {
  char text[160];
  std::snprintf(text, sizeof text, kTime, column);
  return text;
}

// Makes `folder` (0700) when missing, locks it for this process alone and empties it.
int LockWork(const fs::path& folder) {
  const int fd = MakeAndLock(folder, fs::perms::owner_all);
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    fs::remove_all(entry.path(), ec);
  }
  return fd;
}

std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// {A,B} of registrations (letters and digits only), as PostgreSQL writes a text[].
std::vector<std::string> ArrayWords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text) {
    if (c == '{' || c == '}' || c == ',') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  return words;
}

std::string ArrayOf(const std::vector<std::string>& words) {
  std::string text = "{";
  for (const std::string& w : words) text += (text.size() > 1 ? "," : "") + w;
  return text + "}";
}

json ParseReceipt(const std::string& text, std::string_view name) {
  json receipt = json::parse(text, nullptr, false);
  if (!receipt.is_object()) receipt = {{"archive", name}};  // unreadable: the name is taken
  return receipt;
}

}  // namespace

// A statement's rows, as text.
struct PgStore::Result {
  std::vector<std::vector<std::optional<std::string>>> rows;
  std::string Text(std::size_t row, std::size_t column) const {
    return rows[row][column].value_or("");
  }
};

PgStore::PgStore(std::string uri) : uri_(std::move(uri)) {
  try {
    Migrate();
  } catch (const StoreUnavailable& e) {
    throw std::runtime_error("cannot reach the database " + Shown() + ": " + e.what());
  }
}

PgStore::PgStore(std::string uri, fs::path work) : PgStore(std::move(uri)) {
  work_ = fs::absolute(work);
  lock_ = LockWork(work_);
  work_ = fs::canonical(work_);
}

PgStore::~PgStore() {
  for (PGconn* conn : idle_) PQfinish(conn);
  if (lock_ >= 0) ::close(lock_);
}

std::string PgStore::Shown() const {
  // A password in the URI is never shown.
  std::string shown = uri_;
  const std::size_t scheme = shown.find("://");
  const std::size_t at = shown.find('@');
  const std::size_t colon =
      scheme == std::string::npos ? std::string::npos : shown.find(':', scheme + 3);
  if (at != std::string::npos && colon != std::string::npos && colon < at) {
    shown = shown.substr(0, colon) + ":***" + shown.substr(at);
  }
  if (const std::size_t pw = shown.find("password="); pw != std::string::npos) {
    shown =
        shown.substr(0, pw + 9) + "***" + shown.substr(std::min(shown.size(), shown.find('&', pw)));
  }
  return shown;
}

PGconn* PgStore::Take(bool any_schema) const {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
      PGconn* conn = idle_.back();
      idle_.pop_back();
      return conn;
    }
  }
  // The URI is expanded as dbname; the keywords before it are defaults that it may
  // override: a database that stops answering over TCP is given up within about 30 s.
  const char* keywords[] = {
      "connect_timeout",  "application_name", "keepalives_idle", "keepalives_interval",
      "keepalives_count", "tcp_user_timeout", "dbname",          nullptr};
  const char* values[] = {"5", "zav-serve", "10", "5", "3", "30000", uri_.c_str(), nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  if (PQstatus(conn) != CONNECTION_OK) {
    const std::string why = OneLine(PQerrorMessage(conn));
    PQfinish(conn);
    throw StoreUnavailable(why);
  }
  if (any_schema) return conn;
  // A replica never writes into a schema newer than it knows, even one migrated while it ran.
  PGresult* res = PQexec(conn, "SELECT version FROM zav_schema");
  const bool known = PQresultStatus(res) != PGRES_TUPLES_OK || PQntuples(res) != 1 ||
                     std::atoi(PQgetvalue(res, 0, 0)) <= kSchemaVersion;
  PQclear(res);
  if (!known) {
    PQfinish(conn);
    throw StoreUnavailable("the database's schema is newer than this zav-serve knows");
  }
  return conn;
}

void PgStore::Give(PGconn* conn) const {
  if (PQstatus(conn) != CONNECTION_OK || PQtransactionStatus(conn) != PQTRANS_IDLE) {
    PQfinish(conn);
    return;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  idle_.push_back(conn);
}

PgStore::Result PgStore::Run(const std::string& sql, const std::vector<std::string>& params,
                             bool retry, const std::vector<bool>& binary) const {
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (std::size_t i = 0; i < params.size(); ++i) {
    values.push_back(params[i].data());
    lengths.push_back(static_cast<int>(params[i].size()));
    formats.push_back(i < binary.size() && binary[i] ? 1 : 0);
  }
  for (int attempt = 0;; ++attempt) {
    PGconn* conn = Take();
    PGresult* res = PQexecParams(conn, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                 values.data(), lengths.data(), formats.data(), 0);
    const ExecStatusType status = PQresultStatus(res);
    if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
      Result result;
      for (int row = 0; row < PQntuples(res); ++row) {
        auto& cells = result.rows.emplace_back();
        for (int column = 0; column < PQnfields(res); ++column) {
          if (PQgetisnull(res, row, column)) {
            cells.emplace_back();
          } else {
            cells.emplace_back(
                std::string(PQgetvalue(res, row, column),
                            static_cast<std::size_t>(PQgetlength(res, row, column))));
          }
        }
      }
      PQclear(res);
      Give(conn);
      return result;
    }
    const std::string why =
        OneLine(res != nullptr ? PQresultErrorMessage(res) : PQerrorMessage(conn));
    const char* state = res != nullptr ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
    // Class 08 (connection), 57P (the server shutting down), 53 (out of resources): the
    // database, not the statement.
    const std::string sqlstate = state != nullptr ? state : "";
    const bool gone = PQstatus(conn) != CONNECTION_OK || sqlstate.starts_with("08") ||
                      sqlstate.starts_with("57P") || sqlstate.starts_with("53");
    PQclear(res);
    if (gone) {
      PQfinish(conn);
      if (retry && attempt == 0) continue;
      throw StoreUnavailable(why);
    }
    Give(conn);
    throw std::runtime_error(why);
  }
}

void PgStore::Migrate() {
  PGconn* conn = Take(true);
  const auto exec = [&](const std::string& sql) {
    PGresult* res = PQexec(conn, sql.c_str());
    const ExecStatusType status = PQresultStatus(res);
    std::string value =
        status == PGRES_TUPLES_OK && PQntuples(res) > 0 ? PQgetvalue(res, 0, 0) : "";
    const std::string why = OneLine(PQresultErrorMessage(res));
    PQclear(res);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
      PQclear(PQexec(conn, "ROLLBACK"));
      PQfinish(conn);
      throw std::runtime_error("the schema of " + Shown() + ": " + why);
    }
    return value;
  };
  exec("BEGIN");
  exec(kMigrationLock);
  exec("CREATE TABLE IF NOT EXISTS zav_schema (version integer NOT NULL)");
  std::string found = exec("SELECT version FROM zav_schema");
  if (found.empty()) {
    exec("INSERT INTO zav_schema VALUES (0)");
    found = "0";
  }
  const int version = std::atoi(found.c_str());
  if (version > kSchemaVersion) {
    exec("ROLLBACK");
    PQfinish(conn);
    throw std::runtime_error("the database " + Shown() + " holds schema version " + found +
                             ", newer than this zav-serve knows (" +
                             std::to_string(kSchemaVersion) +
                             "): upgrade zav-serve on this machine");
  }
  for (int k = version; k < kSchemaVersion; ++k) {
    exec(kMigrations[static_cast<std::size_t>(k)]);
    exec("UPDATE zav_schema SET version = " + std::to_string(k + 1));
  }
  exec("COMMIT");
  if (version < kSchemaVersion) {
    LogNote("the schema of " + Shown() + " went from version " + found + " to " +
            std::to_string(kSchemaVersion));
  }
  Give(conn);
}

std::optional<json> PgStore::Receipt(std::string_view name) const {
  const Result r = Run("SELECT receipt FROM receipts WHERE name = $1", {std::string(name)}, true);
  if (r.rows.empty()) return std::nullopt;
  return ParseReceipt(r.Text(0, 0), name);
}

zav::UploadAnswer PgStore::Store(const std::string& name, Aside& archive, const json& receipt) {
  const zav::UploadAnswer failed =
      zav::Refusal(500, "server_error", "the server could not store the archive");
  const std::optional<std::string> bytes = archive.Contents();
  if (!bytes) return failed;
  const std::string payment_sha256 = receipt.value("payment_sha256", "");
  try {
    // One statement, one transaction: the receipt and its archive, or nothing when the name
    // is stored (the insert waits for a replica storing it meanwhile, then finds it).
    const Result r =
        Run("WITH receipt AS (INSERT INTO receipts (name, registration, period, payment_sha256, "
            "received, receipt) VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (name) DO NOTHING "
            "RETURNING name) INSERT INTO archives (name, archive) SELECT name, $7 FROM receipt "
            "RETURNING name",
            {name, std::string(zav::ArchiveRegistration(name)), ArchivePeriod(name), payment_sha256,
             receipt.value("received", ""), receipt.dump(), *bytes},
            false, {false, false, false, false, false, false, true});
    if (!r.rows.empty()) return {201, receipt};
    const std::optional<json> first = Receipt(name);
    return first ? UploadStore::Again(*first, payment_sha256) : failed;
  } catch (const StoreUnavailable& e) {
    LogNote("could not store " + name + ": " + e.what());
    return Unavailable();
  } catch (const std::exception& e) {
    LogNote("could not store " + name + ": " + e.what());
    return failed;
  }
}

std::optional<StoredReceipt> PgStore::Lookup(std::string_view name) const {
  const Result r =
      Run("SELECT receipt, " + TimeText("archive_removed") + " FROM receipts WHERE name = $1",
          {std::string(name)}, true);
  if (r.rows.empty()) return std::nullopt;
  return StoredReceipt{ParseReceipt(r.Text(0, 0), name), r.rows[0][1]};
}

std::vector<StoredReceipt> PgStore::Period(std::string_view period,
                                           const std::vector<std::string>& registrations) const {
  const Result r = Run("SELECT name, receipt, " + TimeText("archive_removed") +
                           " FROM receipts WHERE period = $1 AND ($2 = '{}' OR registration = "
                           "ANY ($2::text[])) ORDER BY name",
                       {std::string(period), ArrayOf(registrations)}, true);
  std::vector<StoredReceipt> found;
  for (std::size_t i = 0; i < r.rows.size(); ++i) {
    found.push_back({ParseReceipt(r.Text(i, 1), r.Text(i, 0)), r.rows[i][2]});
  }
  return found;
}

int PgStore::RemoveArchivesOlderThan(int days) {
  const Result r =
      Run("WITH old AS (UPDATE receipts SET archive_removed = now() WHERE archive_removed IS NULL "
          "AND stored <= now() - make_interval(days => $1::int) RETURNING name) DELETE FROM "
          "archives WHERE name IN (SELECT name FROM old) RETURNING name",
          {std::to_string(days)}, false);
  return static_cast<int>(r.rows.size());
}

bool PgStore::Ready() const {
  try {
    Run("SELECT 1", {}, true);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::optional<Uploader> PgStore::FindToken(std::string_view token) const {
  if (token.empty()) return std::nullopt;
  const std::string hash = Sha256Hex(token);
  const Result r =
      Run("SELECT registrations FROM tokens WHERE hash = $1 AND revoked IS NULL", {hash}, true);
  if (r.rows.empty()) return std::nullopt;
  return Uploader{"token:" + hash.substr(0, 12), ArrayWords(r.Text(0, 0))};
}

std::uint64_t PgStore::Used(const std::string& identity, const std::string& day) {
  try {
    const Result r =
        Run("SELECT bytes FROM quota_use WHERE identity = $1 AND day = $2", {identity, day}, true);
    return r.rows.empty() ? 0 : std::stoull(r.Text(0, 0));
  } catch (const std::exception& e) {
    return 0;  // the upload finds the store gone when it stores
  }
}

void PgStore::Charge(const std::string& identity, const std::string& day, std::uint64_t bytes) {
  try {
    Run("INSERT INTO quota_use VALUES ($1, $2, $3) ON CONFLICT (identity, day) DO UPDATE SET "
        "bytes = quota_use.bytes + EXCLUDED.bytes",
        {identity, day, std::to_string(bytes)}, false);
  } catch (const std::exception& e) {
    LogNote("could not charge " + identity + "'s quota: " + e.what());
  }
}

std::string PgStore::AddToken(const std::vector<std::string>& entitlements) {
  std::vector<std::string> registrations;
  std::string words;
  for (const std::string& entitlement : entitlements) {
    const std::optional<std::string> registration = Entitlement(entitlement);
    if (!registration) {
      throw std::runtime_error(
          IsRfc(entitlement)
              ? "an RFC alone entitles no registration: tie it to the employer's, " + entitlement +
                    "=REGISTRATION"
              : entitlement +
                    " is neither a registration (11 letters or digits) nor a tie "
                    "RFC=REGISTRATION (an RFC of 12 or 13 upper-case letters, digits or &)");
    }
    registrations.push_back(*registration);
    words += (words.empty() ? "" : " ") + entitlement;
  }
  unsigned char secret[32];
  if (RAND_bytes(secret, sizeof secret) != 1) throw std::runtime_error("no random bytes");
  const std::string token = Hex(secret, sizeof secret);
  Run("INSERT INTO tokens (hash, entitlements, registrations) VALUES ($1, $2, $3)",
      {Sha256Hex(token), words, ArrayOf(registrations)}, false);
  return token;
}

bool PgStore::RevokeToken(const std::string& which) {
  std::string prefix = which.starts_with("token:") ? which.substr(6) : which;
  if (prefix.size() == 64 && which == prefix) prefix = Sha256Hex(prefix);  // the token itself
  if (prefix.size() < 12 || !std::all_of(prefix.begin(), prefix.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
      })) {
    return false;
  }
  const Result r =
      Run("WITH one AS (SELECT hash FROM tokens WHERE starts_with(hash, $1) AND revoked IS NULL), "
          "n AS (SELECT count(*) AS c FROM one) UPDATE tokens SET revoked = now() WHERE hash IN "
          "(SELECT hash FROM one) AND (SELECT c FROM n) = 1 RETURNING hash",
          {prefix}, false);
  return r.rows.size() == 1;
}

std::vector<std::string> PgStore::ListTokens() const {
  const Result r = Run("SELECT 'token:' || left(hash, 12), " + TimeText("added") + ", " +
                           TimeText("revoked") + ", entitlements FROM tokens ORDER BY added",
                       {}, true);
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < r.rows.size(); ++i) {
    lines.push_back(r.Text(i, 0) + " " + r.Text(i, 3) + "  # added " + r.Text(i, 1) +
                    (r.rows[i][2] ? ", revoked " + *r.rows[i][2] : std::string()));
  }
  return lines;
}

}  // namespace zavserve
