// A throwaway PostgreSQL cluster for the tests of the shared store: made with initdb in a new
// folder, listening only on a Unix socket there, removed with the test.
#pragma once

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/serve_harness.hpp"

namespace zav::testing {

// `text` as one word of the shell.
inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A PostgreSQL cluster of its own in a new folder, listening only on a Unix socket there;
// run as nobody when the test runs as root (PostgreSQL refuses root).
class PgCluster {
 public:
  PgCluster() {
    std::error_code ec;
    for (const std::filesystem::directory_entry& entry :
         std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
      if (std::filesystem::exists(entry.path() / "bin" / "initdb")) bin_ = entry.path() / "bin";
    }
    if (bin_.empty()) return;
    char folder[] = "/tmp/zav-pg-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return;
    dir_ = folder;
    if (::geteuid() == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      if (nobody == nullptr || ::chown(folder, nobody->pw_uid, nobody->pw_gid) != 0) return;
      as_ = "runuser -u nobody -- ";
    }
    const auto ran = Shell(as_ + (bin_ / "initdb").string() + " -D " + data() +
                           " -A trust -U zav -E UTF8 --no-sync");
    if (ran.status != 0) {
      ADD_FAILURE() << ran.out;
      return;
    }
    std::ofstream(data() + "/postgresql.conf", std::ios::app)
        << "listen_addresses = ''\nunix_socket_directories = '" << dir_.string()
        << "'\nfsync = off\n";
    ready_ = Start();
  }
  ~PgCluster() {
    if (ready_) Control("-m immediate stop");
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  bool ready() const { return ready_; }
  std::string uri(const std::string& database) const {
    return "postgresql:///" + database + "?host=" + dir_.string() + "&user=zav";
  }
  bool Start() { return Control("-w -t 60 -l " + Quoted(dir_.string() + "/log") + " start"); }
  bool Stop() { return Control("-w -m fast stop"); }
  bool Restart() { return Control("-w -m fast -l " + Quoted(dir_.string() + "/log") + " restart"); }
  // The first value of `sql`'s answer in `database`.
  std::string Sql(const std::string& sql, const std::string& database = "postgres") const {
    std::string out = Shell((bin_ / "psql").string() + " -h " + dir_.string() + " -U zav -d " +
                            database + " -Atqc " + Quoted(sql))
                          .out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

 private:
  std::string data() const { return (dir_ / "data").string(); }
  bool Control(const std::string& what) {
    return Shell("timeout 90 " + as_ + (bin_ / "pg_ctl").string() + " -D " + data() + " " + what)
               .status == 0;
  }

  std::filesystem::path bin_, dir_;
  std::string as_;
  bool ready_ = false;
};

// A test of `Base` with a PostgreSQL database of its own, `database` at `uri`, in the cluster
// its suite shares; skipped where there is no PostgreSQL.
template <class Base>
class OnPostgres : public Base {
 protected:
  static void SetUpTestSuite() { pg = new PgCluster(); }
  static void TearDownTestSuite() {
    delete pg;
    pg = nullptr;
  }
  void SetUp() override {
    if (!pg->ready()) GTEST_SKIP() << "no PostgreSQL server here (scripts/install-deps --test)";
    static int tests = 0;
    database = "test" + std::to_string(++tests);
    ASSERT_EQ(pg->Sql("CREATE DATABASE " + database), "");
    uri = pg->uri(database);
    Base::SetUp();
  }
  std::string Sql(const std::string& sql) const { return pg->Sql(sql, database); }

  static inline PgCluster* pg = nullptr;
  std::string database, uri;
};

// The header of a new bearer token for `employer` in `store`'s database.
inline std::string StoreToken(const std::string& store, const std::string& employer) {
  return TokenHeader("--store " + Quoted(store), {employer});
}

}  // namespace zav::testing
