// The proof of a mend: the bytes come to whole 295-byte records, from an employer header to
// a validation record, the size the validation record states is the length, and the check
// value it stores is the one the records fold to. The check value does not see line ends
// or accented letters, the size does: together they leave no byte unaccounted for.
#include "fix.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <vector>

#include "basic/cp1252.hpp"
#include "command_line.hpp"
#include "records/checksum.hpp"
#include "records/layout.hpp"
#include "records/record_06.hpp"

namespace zavcli {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kRecord = zav::kRecordLength;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The line end an editor put after every record ("\r\n" or "\n"; the last record may go
// without), or nothing.
std::optional<std::string> LineEnd(const std::string& bytes) {
  for (const std::string end : {"\r\n", "\n"}) {
    const std::size_t stride = kRecord + end.size();
    const std::size_t rest = bytes.size() % stride;
    if (bytes.size() < stride || (rest != 0 && rest != kRecord)) continue;
    bool every = true;
    for (std::size_t at = kRecord; every && at < bytes.size(); at += stride) {
      every = bytes.compare(at, end.size(), end) == 0;
    }
    if (every) return end;
  }
  return std::nullopt;
}

std::string WithoutLineEnds(const std::string& bytes, std::size_t end) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size(); at += kRecord + end) {
    out.append(bytes, at, kRecord);
  }
  return out;
}

// The bytes read back from UTF-8 into the file's one-byte code page, when they are UTF-8
// with at least one character of two or more bytes (a byte-order mark counts).
std::optional<std::string> FromUtf8(const std::string& bytes) {
  std::string_view text = bytes;
  const bool mark = text.starts_with("\xEF\xBB\xBF");
  if (mark) text.remove_prefix(3);
  try {
    std::string back = zav::Utf8ToCp1252(text);
    if (!mark && back.size() == text.size()) return std::nullopt;
    return back;
  } catch (const std::exception&) {
    return std::nullopt;  // not UTF-8, or a character the code page has not
  }
}

// The name the header asks for: a letter (the given name's capital, else P, as the
// generating program names its files), the period's year and month, characters 3, 7 and 9
// of the registration number, and .ZAV.
std::string NameAskedFor(const std::string& header, const std::string& given) {
  const char letter = !given.empty() && given[0] >= 'A' && given[0] <= 'Z' ? given[0] : 'P';
  return std::string(1, letter) + header.substr(28, 4) + header[4] + header[8] + header[10] +
         ".ZAV";
}

// Whether the control takes `name` for a file with this header: the work name (a letter,
// then characters 29-32 of the header, then characters 5, 9 and 11) and an extension ZAV
// or ZA and a digit.
bool NameFits(const std::string& name, const std::string& header) {
  if (name.size() < 8 || Upper(name[0]) < 'A' || Upper(name[0]) > 'Z') return false;
  if (name.compare(1, 4, header, 28, 4) != 0 || name[5] != header[4] || name[6] != header[8] ||
      name[7] != header[10]) {
    return false;
  }
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot - 1 < 3) return false;
  const std::string e = name.substr(dot + 1);
  return Upper(e[0]) == 'Z' && Upper(e[1]) == 'A' && (Upper(e[2]) == 'V' || IsDigit(e[2]));
}

// Why the bytes are not proven to be the generating program's ("" when they are).
std::string Unproven(const std::string& bytes) {
  if (bytes.size() < 2 * kRecord || bytes.size() % kRecord != 0) {
    return "its " + std::to_string(bytes.size()) + " bytes are not whole 295-byte records";
  }
  if (bytes.compare(0, 2, "02") != 0) return "its first record is not an employer header (02)";
  const std::string last = bytes.substr(bytes.size() - kRecord);
  if (last.compare(0, 2, "06") != 0) return "its last record is not a validation record (06)";
  for (std::size_t at = 0; at < bytes.size(); at += kRecord) {
    if (bytes[at] != '0' || bytes[at + 1] < '2' || bytes[at + 1] > '6') {
      return "record " + std::to_string(at / kRecord + 1) + " is of no known type";
    }
  }
  const std::string_view size = zav::Cut(last, zav::record06::kTamanoArchivo);
  if (size.find_first_not_of("0123456789") != std::string_view::npos ||
      std::stoull(std::string(size)) != bytes.size()) {
    return "the size its validation record states (" + zav::Cp1252ToUtf8(size) +
           " bytes) is not its length (" + std::to_string(bytes.size()) + ")";
  }
  zav::RunningCheck check;
  for (std::size_t at = 0; at < bytes.size(); at += kRecord) {
    check.Fold(std::string_view(bytes).substr(at, kRecord));
  }
  const std::string_view stored = zav::Cut(last, zav::record06::kCheckSum);
  if (!check.Matches(stored)) {
    return "its check value does not match: the validation record stores " +
           zav::Cp1252ToUtf8(stored) + ", the records fold to " + std::string(check.value()) +
           " (the contents were changed too, not only damaged)";
  }
  return "";
}

// Writes `bytes` to `out` through a temporary file beside it, so that `out` is either
// absent or whole. Without `force` an `out` that appears meanwhile is left alone.
std::string WriteAtomically(const fs::path& out, const std::string& bytes, bool force) {
  std::string temp = (out.parent_path() / ("." + out.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return "cannot write in " + out.parent_path().string();
  const mode_t mask = ::umask(0);
  ::umask(mask);
  bool ok = ::fchmod(fd, 0666 & ~mask) == 0;  // as any new file, not mkstemp's 0600
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  const std::string exists = out.string() + " exists already (--force replaces it)";
  if (ok && !force) {
    // A link never replaces a file that appeared meanwhile.
    if (::link(temp.c_str(), out.c_str()) == 0) {
      ::unlink(temp.c_str());
      return "";
    }
    struct stat st;
    if (errno == EEXIST || ::lstat(out.c_str(), &st) == 0) {
      ::unlink(temp.c_str());
      return exists;
    }
    // A file system without hard links (a FAT stick): the rename, after that last look.
  }
  ok = ok && ::rename(temp.c_str(), out.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return "cannot write " + out.string();
  }
  return "";
}

}  // namespace

CLI::App* AddFixCommand(CLI::App& app, FixRequest& r) {
  CLI::App* cmd = app.add_subcommand(
      "fix",
      "Undo the damage a payment file takes on the way (a line end after every record, "
      "text re-encoded as UTF-8, a wrong name or extension) and write the mended copy, "
      "only when the file's own size and check value then prove the bytes are the ones "
      "the generating program wrote; FILE is never changed");
  cmd->footer(
      "Exit status: 0 mended, or nothing to mend; 1 damage found but the mend not proven "
      "(nothing written); 2 FILE cannot be read or OUT written; 64 usage (OUT exists, is "
      "FILE, or has a name the control refuses for this file)");
  cmd->add_option("FILE", r.file, "Payment file")->required()->check(kExistingFile);
  cmd->add_option("-o,--out", r.out,
                  "Where the mended copy goes: a file, or a folder to put it in under the "
                  "name the file's header asks for (ending in /: made when missing)")
      ->required();
  cmd->add_flag("--force", r.force, "Replace OUT when it exists (never FILE itself)");
  return cmd;
}

int RunFix(const FixRequest& r) {
  std::string bytes;
  {
    std::ifstream in(r.file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (!in && !in.eof()) {
      std::cerr << "zav: cannot read " << r.file << "\n";
      return 2;
    }
    bytes = std::move(all).str();
  }
  const std::string given = fs::path(r.file).filename().string();

  std::vector<std::string> damage;
  std::string mended = bytes;
  if (std::optional<std::string> back = FromUtf8(mended)) {
    damage.push_back("text re-encoded as UTF-8 (two bytes where the file has one)");
    mended = std::move(*back);
  }
  if (const std::optional<std::string> end = LineEnd(mended)) {
    damage.push_back(std::string("a line end (") + (end->size() == 2 ? "CR LF" : "LF") +
                     ") after every record");
    mended = WithoutLineEnds(mended, end->size());
  }

  const std::string problem = Unproven(mended);
  if (!problem.empty()) {
    std::cerr << "zav: " << r.file << ": ";
    if (damage.empty()) {
      std::cerr << "no damage fix can undo, and the file does not prove itself: " << problem
                << "\n";
    } else {
      std::cerr << "found ";
      for (std::size_t k = 0; k < damage.size(); ++k) std::cerr << (k ? " and " : "") << damage[k];
      std::cerr << ", but once undone the file does not prove itself: " << problem
                << "; nothing written\n";
    }
    return 1;
  }

  const std::string header = mended.substr(0, kRecord);
  const std::string asked = NameAskedFor(header, given);
  if (!NameFits(given, header)) {
    damage.push_back("the name " + given + ", where the header asks for " + asked);
  }
  if (damage.empty()) {
    std::cout << r.file << ": nothing to mend: its bytes and name are as generated\n";
    return 0;
  }
  std::error_code ec;
  fs::path out = r.out;
  // OUT ending in a slash names a folder, made when missing.
  if (!out.empty() && !out.has_filename() && !fs::is_directory(out, ec)) {
    fs::create_directories(out, ec);
    if (ec) {
      std::cerr << "zav: cannot make the folder " << out.string() << ": " << ec.message() << "\n";
      return 2;
    }
  }
  if (fs::is_directory(out, ec)) {
    out /= NameFits(given, header) ? given : asked;
  } else if (!NameFits(out.filename().string(), header)) {
    std::cerr << "zav: the control refuses the name " << out.filename().string()
              << " for this file; name it " << asked << ", or give a folder\n";
    return 64;
  }
  if (fs::exists(out, ec) && fs::equivalent(out, r.file, ec)) {
    std::cerr << "zav: " << out.string() << " is FILE itself; fix never changes it\n";
    return 64;
  }
  if (fs::exists(out, ec) && !r.force) {
    std::cerr << "zav: " << out.string() << " exists already (--force replaces it)\n";
    return 64;
  }
  if (const std::string failed = WriteAtomically(out, mended, r.force); !failed.empty()) {
    std::cerr << "zav: " << failed << "\n";
    return failed.find("exists already") != std::string::npos ? 64 : 2;
  }
  for (const std::string& d : damage) std::cout << "undone: " << d << "\n";
  std::cout << out.string() << "\n";
  return 0;
}

}  // namespace zavcli
