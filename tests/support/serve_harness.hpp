// What the upload server's tests share: `zav serve` in a child process, the page's archives,
// zip archives, a siege, a throwaway PostgreSQL cluster. The raw HTTP is serve_http.hpp's.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "files/zip_packing.hpp"
#include "platform/temp_drives.hpp"
#include "support/payment_run.hpp"
#include "support/serve_http.hpp"
#include "writing/payment_writer.hpp"

namespace zav::testing {

// The control's name for the archive of folio `folio` of the sample employer (A1234567890).
inline std::string ArchiveName(const std::string& folio, const std::string& period = "200404") {
  return "33501e01.m1.s0870.rA1234567890.f" + folio + ".p" + period + ".e999.zip";
}
// The name of the payment file in archive `name`.
inline std::string InnerName(const std::string& name) {
  return name.substr(0, name.size() - 3) + "zav";
}

// The header of a new bearer token for `employers`, made by `zav serve token add` in `where`
// ("--tokens FILE", "--store URI").
inline std::string TokenHeader(const std::string& where,
                               const std::vector<std::string>& employers) {
  std::string command = std::string("(") + ZAV_BINARY + " serve token add " + where;
  for (const std::string& e : employers) command += " " + e;
  std::string token = Shell(command + " 2>/dev/null)").out;
  while (!token.empty() && token.back() == '\n') token.pop_back();
  return "Authorization: Bearer " + token;
}
inline std::string Bearer(const std::filesystem::path& tokens,
                          const std::vector<std::string>& employers = {"A1234567890"}) {
  return TokenHeader("--tokens " + tokens.string(), employers);
}

// `zav serve --dir UPLOADS --web WEB --tokens UPLOADS/../tokens [extra...]` on a free port
// unless on --socket (fronted by this process unless told), logging to UPLOADS/../serve.log.
class ServeProcess {
 public:
  ServeProcess(const std::filesystem::path& uploads, const std::filesystem::path& web,
               std::vector<std::string> extra = {})
      : log_(uploads.parent_path() / "serve.log") {
    std::filesystem::create_directories(uploads.parent_path());
    // The token is kept beside its file, for a server started again on the same folders.
    const std::filesystem::path tokens = uploads.parent_path() / "tokens";
    const std::filesystem::path kept = uploads.parent_path() / "token";
    bearer_ = std::filesystem::exists(kept) ? ReadAll(kept) : zav::testing::Bearer(tokens);
    std::ofstream(kept) << bearer_;
    const auto named = [&](const char* option) {
      return std::find(extra.begin(), extra.end(), option) != extra.end();
    };
    if (!named("--socket") && !named("--port")) extra.insert(extra.begin(), {"--port", "0"});
    if (named("--socket") && !named("--front-user")) {
      extra.insert(extra.end(), {"--front-user", std::to_string(::geteuid())});
    }
    std::vector<std::string> args = {"zav",   "serve",      "--dir",    uploads.string(),
                                     "--web", web.string(), "--tokens", tokens.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    Start(args);
  }
  ~ServeProcess() {
    Kill();
    if (out_ >= 0) ::close(out_);
  }
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  int port() const { return endpoint_.port; }
  const Endpoint& endpoint() const { return endpoint_; }
  bool listening() const { return endpoint_.port > 0 || !endpoint_.socket.empty(); }
  pid_t pid() const { return pid_; }
  const std::string& first_line() const { return first_line_; }
  std::string Log() const { return ReadAll(log_); }
  const std::string& Bearer() const { return bearer_; }
  // An upload of `body` as `name`, with `headers` (else this server's token).
  HttpReply Upload(const std::string& name, const std::string& body) const {
    return Upload(name, body, {bearer_});
  }
  HttpReply Upload(const std::string& name, const std::string& body,
                   const std::vector<std::string>& headers) const {
    return RawExchange(endpoint_, UploadRequest(name, body, headers));
  }

  // Asks it to stop as a service manager would: its exit status, -1 when killed by a signal
  // or not stopped within 20 s.
  int Stop() {
    ::kill(pid_, SIGTERM);
    return Wait(200);
  }
  // Its exit status once it ended on its own within `tenths` of a second, else -1.
  int Wait(int tenths = 200) {
    for (int k = 0, status = 0; k < tenths; ++k) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
  }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  void Start(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test killed midway
      ::dup2(fds[1], 1);
      const int log = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (log >= 0) ::dup2(log, 2);
      ::close(fds[0]);
      ::close(fds[1]);
      ::execv(ZAV_BINARY, argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    // "... listening on http://127.0.0.1:PORT/ ..." or "... listening on unix:PATH (...".
    char c;
    pollfd p{out_, POLLIN, 0};
    while (first_line_.find('\n') == std::string::npos && ::poll(&p, 1, 20000) > 0 &&
           ::read(out_, &c, 1) == 1) {
      first_line_ += c;
    }
    if (const std::size_t at = first_line_.find("http://127.0.0.1:"); at != std::string::npos) {
      endpoint_.port = std::atoi(first_line_.c_str() + at + 17);
    } else if (const std::size_t unix = first_line_.find("on unix:"); unix != std::string::npos) {
      const std::size_t from = unix + 8;
      endpoint_.socket = first_line_.substr(from, first_line_.find(' ', from) - from);
    }
  }

  std::filesystem::path log_;
  std::string bearer_, first_line_;
  pid_t pid_ = -1;
  int out_ = -1;
  Endpoint endpoint_;
};

// A sample payment of folio `folio` never late against the server's date (due next year).
inline PaymentPlan OnTimePlan(const std::string& folio = "000001") {
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  PaymentPlan plan = SamplePaymentPlan(3, static_cast<std::uint32_t>(std::stoul(folio) + 6));
  plan.folio = folio;
  plan.deadline_year = today.tm_year + 1900 + 1;
  return plan;
}

// The archive the page uploads: the payment file under the control's name, packed in
// `scratch` by the control's own packing.
inline std::string PageArchive(const PaymentPlan& plan, const std::string& name,
                               const std::filesystem::path& scratch) {
  const std::filesystem::path file = scratch / InnerName(name);
  WritePaymentFile(plan, file);
  EXPECT_EQ(EmpacaArchivo((scratch / name).string(), file.string()), 0);
  return ReadAll(scratch / name);
}

// A web root like the page's with what must never be served beside it (its tests, a link to
// a file outside it: all "secret"), and folders for the uploads and the test's own files.
class ServeTest : public ::testing::Test {
 protected:
  TempDrives drives{"C=fixed"};
  std::filesystem::path base = drives.base(), uploads = base / "uploads",
                        scratch = base / "scratch", web = base / "web";

  void SetUp() override {
    for (const char* folder : {"scratch", "web/dist", "web/tests"}) {
      std::filesystem::create_directories(base / folder);
    }
    std::ofstream(web / "index.html") << "<p>zav</p>";
    std::ofstream(web / "dist" / "zavctl.js") << "export {};";
    std::ofstream(web / "tests" / "e2e.mjs") << "secret";
    std::ofstream(base / "secret.html") << "secret";
    std::filesystem::create_symlink(base / "secret.html", web / "linked.html");
  }

  // A token line for `entitlements` written into the token file by hand (as an older `token
  // add` or an operator did): its header.
  std::string TokenLine(const std::string& token, const std::string& entitlements) {
    const std::string hash = Shell("printf %s " + token + " | sha256sum").out.substr(0, 64);
    std::ofstream(base / "tokens", std::ios::app) << hash << " " << entitlements << "\n";
    return "Authorization: Bearer " + token;
  }
  // The page's archive of an on-time payment of `folio` (or of `plan`): (name, bytes).
  std::pair<std::string, std::string> Archive(const std::string& folio,
                                              const PaymentPlan* plan = nullptr) {
    const std::string name = ArchiveName(folio);
    return {name, PageArchive(plan ? *plan : OnTimePlan(folio), name, scratch)};
  }
};

// Sends `bytes` one at a time, every 250 ms, through `write` until `stop` or a write fails.
inline void Dribble(std::string_view bytes, const std::atomic<bool>& stop,
                    const std::function<bool(const char*)>& write) {
  for (std::size_t i = 0; i < bytes.size() && !stop && write(&bytes[i]); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

struct Siege {
  int bombs = 0, refused = 0, answered = 0;  // zip bombs sent and refused; probes answered
};

// `slow` on `slow_threads` threads and `bomb` (true when refused) on `bombers`, while `probe`
// runs every `every` ms until it fails or ran `probes` times (its times printed, not judged).
inline Siege Besiege(const char* load, int probes,
                     const std::function<void(const std::atomic<bool>&)>& slow,
                     const std::function<bool()>& bomb, const std::function<bool()>& probe,
                     int slow_threads = 16, int bombers = 8, int every = 50) {
  std::atomic<bool> stop{false};
  std::atomic<int> bombs{0}, refused{0};
  std::vector<std::thread> attackers;
  for (int k = 0; k < slow_threads; ++k) attackers.emplace_back([&] { slow(stop); });
  for (int k = 0; k < bombers; ++k) {
    attackers.emplace_back([&] {
      for (; !stop; ++bombs) refused += bomb() ? 1 : 0;
    });
  }
  std::vector<double> ms;
  while (static_cast<int>(ms.size()) < probes) {
    std::this_thread::sleep_for(std::chrono::milliseconds(every));
    const auto started = std::chrono::steady_clock::now();
    if (!probe()) break;
    ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count());
  }
  stop = true;
  for (std::thread& t : attackers) t.join();
  std::sort(ms.begin(), ms.end());
  if (!ms.empty()) {
    std::printf("[ figures  ] a probe %s (%d zip bombs sent): p50 %.1f ms, p99 %.1f ms\n", load,
                bombs.load(), ms[ms.size() / 2], ms[ms.size() * 99 / 100]);
  }
  return {bombs, refused, static_cast<int>(ms.size())};
}

// A zip archive holding `entries` (name, bytes), made in `scratch` with the zip library.
inline std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& entries,
                         const std::filesystem::path& scratch) {
  const std::filesystem::path path = scratch / "made.zip";
  std::filesystem::remove(path);
  int error = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, bytes] : entries) {
    zip_source_t* source = zip_source_buffer(za, bytes.data(), bytes.size(), 0);
    EXPECT_GE(zip_file_add(za, name.c_str(), source, 0), 0) << name;
  }
  EXPECT_EQ(zip_close(za), 0);
  return ReadAll(path);
}

// The entries of the zip archive `bytes` as the zip library reads it: (name, bytes).
inline std::vector<std::pair<std::string, std::string>> ZipEntries(const std::string& bytes) {
  std::vector<std::pair<std::string, std::string>> entries;
  zip_error_t error;
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t* za = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (za == nullptr) {
    zip_source_free(source);
    return entries;
  }
  for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st);
    std::string content(st.size, '\0');
    zip_file_t* f = zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0);
    zip_fread(f, content.data(), st.size);
    zip_fclose(f);
    entries.emplace_back(st.name, content);
  }
  zip_discard(za);
  return entries;
}

// `text` as one word of the shell.
inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A cluster made with initdb in a new folder, listening only on a Unix socket there, removed
// with the test; run as nobody when the test runs as root (PostgreSQL refuses root).
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
