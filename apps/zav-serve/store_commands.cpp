// The operator's commands on the store: token add, revoke and list in --store's database
// (the token file's own `token add` is in serve.cpp), and receipts export from either store.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iostream>

#include "digest.hpp"
#include "pg_store.hpp"
#include "store.hpp"
#include "store_interface.hpp"
#include "zav/store_options.hpp"

namespace zavcli {

namespace {

using json = nlohmann::ordered_json;

std::string Csv(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Field(const json& receipt, const char* key) {
  const auto found = receipt.find(key);
  return found != receipt.end() && found->is_string() ? found->get<std::string>() : "";
}

int Export(const ServeRequest& r) {
  using namespace zavserve;
  if (!IsPeriod(r.period)) {
    std::cerr << "zav serve: --period " << r.period << " is no period: YYYYMM\n";
    return 64;
  }
  std::vector<StoredReceipt> receipts;
  if (IsDatabase(r.store)) {
    receipts = PgStore(r.store).Period(r.period, {});
  } else if (r.store.empty() || r.store == "folder") {
    // Read beside a running server: its folder is not locked, nor cleaned, for this.
    receipts = ReadPeriod(std::filesystem::absolute(r.dir), r.period, {});
  } else {
    throw std::runtime_error("--store " + r.store + " names no store");
  }
  if (r.format == "csv") {
    std::cout << "archive,registration,period,payment_sha256,received,archive_removed\n";
  }
  for (const StoredReceipt& stored : receipts) {
    if (r.format == "csv") {
      const std::string name = Field(stored.receipt, "archive");
      std::cout << Csv(name) << ',' << Csv(std::string(zav::ArchiveRegistration(name))) << ','
                << ArchivePeriod(name) << ',' << Csv(Field(stored.receipt, "payment_sha256")) << ','
                << Csv(Field(stored.receipt, "received")) << ','
                << stored.archive_removed.value_or("") << '\n';
    } else {
      std::cout << stored.Json().dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
    }
  }
  std::cout.flush();
  return std::cout ? 0 : 2;
}

// The token file's lines: `token:HEX ENTITLEMENT...  # comment`.
int ListFile(const std::string& file) {
  std::ifstream in(file);
  if (!in) {
    std::cerr << "zav serve: cannot read " << file << "\n";
    return 2;
  }
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 64 || line.find_first_not_of("0123456789abcdef") < 64) continue;
    std::cout << "token:" << line.substr(0, 12) << line.substr(64) << '\n';
  }
  return 0;
}

// Writes the token file again without the token `which` names, under the lock `token add`
// takes, by a new file renamed over it: never a file half written.
int RevokeInFile(const std::string& file, const std::string& which) {
  std::string prefix = which.starts_with("token:") ? which.substr(6) : which;
  if (prefix.size() == 64 && prefix == which) prefix = zavserve::Sha256Hex(prefix);
  if (prefix.size() < 12 || prefix.find_first_not_of("0123456789abcdef") != std::string::npos) {
    std::cerr << "zav serve: " << which << " names no token: the token, token:HEX or 12 hex\n";
    return 64;
  }
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
    std::cerr << "zav serve: cannot read " << file << "\n";
    if (fd >= 0) ::close(fd);
    return 2;
  }
  std::ifstream in(file);
  std::string kept;
  int matched = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(prefix)) {
      ++matched;
    } else {
      kept += line + "\n";
    }
  }
  int status = 0;
  if (matched != 1) {
    std::cerr << "zav serve: no token, or more than one, is " << which << "\n";
    status = 1;
  } else {
    struct stat st {};
    ::fstat(fd, &st);
    const std::string temp = file + ".revoke";
    const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool written =
        out >= 0 && ::fchmod(out, st.st_mode & 07777) == 0 &&
        ::write(out, kept.data(), kept.size()) == static_cast<ssize_t>(kept.size()) &&
        ::fsync(out) == 0;
    if (out >= 0) ::close(out);
    if (!written || ::rename(temp.c_str(), file.c_str()) != 0) {
      ::unlink(temp.c_str());
      std::cerr << "zav serve: cannot write " << file << "\n";
      status = 2;
    } else {
      std::cerr << "zav serve: revoked " << which << "\n";
    }
  }
  ::close(fd);
  return status;
}

}  // namespace

std::optional<int> RunStoreCommand(const CLI::App& cmd, const ServeRequest& r) {
  using namespace zavserve;
  const CLI::App* token = cmd.get_subcommand("token");
  const bool add = token->get_subcommand("add")->parsed();
  const bool revoke = token->get_subcommand("revoke")->parsed();
  const bool list = token->get_subcommand("list")->parsed();
  const bool export_ = cmd.get_subcommand("receipts")->get_subcommand("export")->parsed();
  if (!add && !revoke && !list && !export_) return std::nullopt;
  try {
    if (export_) return Export(r);
    if (!IsDatabase(r.store)) {
      if (add) return std::nullopt;  // the token file's
      if (!r.tokens) {
        std::cerr << "zav serve: name the token file with --tokens FILE, or the database "
                     "with --store\n";
        return 64;
      }
      return revoke ? RevokeInFile(*r.tokens, r.token_which) : ListFile(*r.tokens);
    }
    PgStore store(r.store);
    if (add) {
      const std::string token_text = store.AddToken(r.token_employers);
      std::cout << token_text << std::endl;
      std::cerr << "zav serve: token added to " << store.Shown()
                << "; it is shown only now and stored only as its SHA-256\n";
      return 0;
    }
    if (revoke) {
      if (!store.RevokeToken(r.token_which)) {
        std::cerr << "zav serve: no token, or more than one, is " << r.token_which << "\n";
        return 1;
      }
      std::cerr << "zav serve: revoked " << r.token_which << "\n";
      return 0;
    }
    for (const std::string& line : store.ListTokens()) std::cout << line << '\n';
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "zav serve: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace zavcli
