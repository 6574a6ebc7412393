// Splitting a payment file over diskette parts. Two passes over the input, neither holding
// more than one record: the first checks the file and counts the places where a part may
// end, the second writes the parts, cutting at evenly spread places among those.
#include "files/split.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "platform/file_system.hpp"
#include "platform/record_file.hpp"
#include "records/checksum.hpp"
#include "records/layout.hpp"
#include "records/record_06.hpp"

namespace zav {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Refuse(const std::string& why) {
  throw RuntimeFailure(err::kInvalidCall, "cannot split: " + why);
}

// The record type as the diskette assembly reads it.
double TypeOf(std::string_view record) { return LeadingValue(record.substr(0, 2)); }

// A part may end after this record: more records must follow it.
bool MoreFollow(std::string_view record) {
  const double t = TypeOf(record);
  return t >= 3 && t <= 5;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The outputs must not replace the input, nor sit beside a file whose name differs from
// theirs only in case (the control matches names without regard to case).
void CheckOutputs(const fs::path& input, const std::vector<fs::path>& outputs, bool replace) {
  std::error_code ec;
  const std::string canonical_input = Lower(fs::weakly_canonical(input, ec).string());
  for (const fs::path& out : outputs) {
    if (Lower(fs::weakly_canonical(out, ec).string()) == canonical_input) {
      Refuse(out.filename().string() + " would replace the file being split");
    }
  }
  const fs::path folder = outputs.front().parent_path();
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    for (const fs::path& out : outputs) {
      const std::string wanted = out.filename().string();
      if (name != wanted && Lower(name) == Lower(wanted)) {
        Refuse(name + " in " + folder.string() + " would be taken for " + wanted);
      }
      if (name == wanted && !replace) {
        Refuse(name + " exists already in " + folder.string() + "; it is replaced only when asked");
      }
    }
  }
}

}  // namespace

std::vector<fs::path> SplitIntoDiskettes(const fs::path& file, int parts, const fs::path& out_dir,
                                         bool replace) {
  if (parts < 1 || parts > kMaxDiskettes) {
    Refuse("the number of parts must be 1 to " + std::to_string(kMaxDiskettes));
  }
  const std::string base = file.stem().string();
  if (base.size() != 8) {
    Refuse("diskette parts are named with 8 characters and an extension; " +
           file.filename().string() + " has a base name of " + std::to_string(base.size()));
  }

  // First pass: whole records, a validation record last, a check value that matches, and
  // the places where a part may end.
  RecordFile in = RecordFile::OpenNative(file, RecordFile::Mode::kRead);
  const std::int64_t length = in.Length();
  if (length == 0 || length % RecordFile::kRecordLength != 0) {
    Refuse(file.filename().string() + " is not a whole number of 295-byte records");
  }
  const std::int32_t n = in.RecordCount();
  std::string record;
  RunningCheck before_last;
  std::int64_t places = 0;
  for (std::int32_t k = 1; k < n; ++k) {
    in.Read(k, record);
    before_last.Fold(record);
    if (MoreFollow(record)) ++places;
  }
  std::string last;
  in.Read(n, last);
  if (TypeOf(last) != 6) Refuse("the file does not end with its validation record (06)");
  RunningCheck whole = before_last;
  whole.Fold(last);
  if (!whole.Matches(Cut(last, record06::kCheckSum))) {
    Refuse(
        "its stored check value does not match its records: the file was altered after "
        "it was generated, and a new check value would hide that");
  }
  if (places < parts - 1) {
    Refuse(std::to_string(parts) + " parts need " + std::to_string(parts - 1) +
           " places to cut after a worker, movement or summary record; the file has " +
           std::to_string(places));
  }

  // The validation record of the set: its diskette count, then its check value.
  char count[3];
  std::snprintf(count, sizeof count, "%02d", parts);
  last.replace(static_cast<std::size_t>(record06::kDiscos.start - 1), 2, count);
  RunningCheck resealed = before_last;
  resealed.Fold(last);
  const std::string_view value = resealed.value();
  last.replace(static_cast<std::size_t>(record06::kCheckSum.start - 1), value.size(), value);

  fs::create_directories(out_dir);
  std::vector<fs::path> outputs;
  for (int p = 0; p < parts; ++p) outputs.push_back(out_dir / (base + ".ZA" + std::to_string(p)));
  CheckOutputs(file, outputs, replace);

  // Second pass: part p ends after the place ranked floor(p * places / parts), counting
  // from 0, so the cuts spread evenly over the places and never meet.
  std::vector<std::unique_ptr<PendingFile>> pending;
  const auto open_part = [&](int p) {
    pending.push_back(std::make_unique<PendingFile>(outputs[static_cast<std::size_t>(p)]));
    return RecordFile::OpenNative(pending.back()->path(), RecordFile::Mode::kReadWrite);
  };
  int part = 0;
  RecordFile out = open_part(part);
  std::int32_t written = 0;  // records in the current part
  std::int64_t rank = 0;     // places met so far
  for (std::int32_t k = 1; k < n; ++k) {
    in.Read(k, record);
    out.Write(++written, record);
    if (!MoreFollow(record)) continue;
    if (part + 1 < parts && rank == (part + 1) * places / parts) {
      out.Close();
      out = open_part(++part);
      written = 0;
    }
    ++rank;
  }
  out.Write(++written, last);
  out.Close();
  in.Close();
  for (auto& p : pending) p->Commit();
  return outputs;
}

std::vector<fs::path> StaleParts(const fs::path& folder, const std::string& base, int parts) {
  std::vector<fs::path> stale;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = Lower(entry.path().filename().string());
    const std::string prefix = Lower(base) + ".za";
    if (name.size() == prefix.size() + 1 && name.rfind(prefix, 0) == 0 &&
        std::isdigit(static_cast<unsigned char>(name.back())) && name.back() - '0' >= parts) {
      stale.push_back(entry.path());
    }
  }
  std::sort(stale.begin(), stale.end());
  return stale;
}

}  // namespace zav
