// The diskettes entry: the parts of a split file joined from diskette A as a host joins
// them, the diskette left as it was, the joined file validated when asked.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "entries.hpp"
#include "platform/drives.hpp"
#include "platform/record_file.hpp"
#include "support.hpp"

namespace zav::fuzz {

namespace fs = std::filesystem;

namespace {

// A part of a split file as the work file receives it: whole records, the record count
// rounded as the record files round it, the last record padded with NULs.
std::string AsRecords(std::string_view part) {
  const std::size_t size =
      static_cast<std::size_t>(RecordCountOf(static_cast<std::int64_t>(part.size()))) *
      RecordFile::kRecordLength;
  std::string out(part.substr(0, size));
  out.resize(size, '\0');
  return out;
}

}  // namespace

void DiskettesInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.empty()) return;
  const auto options = static_cast<std::uint8_t>(Take(in, 1)[0]);
  std::vector<std::string> parts;
  while (!in.empty() && parts.size() < 6) parts.emplace_back(Take(in, TakeNumber(in, 2)));

  Scope scope;
  const int naming = options & 3;
  const bool vanish = (options & 4) != 0;
  // The name the host passes for part k, and the file that lies on the diskette.
  const auto asked = [naming](int k) -> std::string {
    switch (naming) {
      case 1:
        return "P0404268.ZAV";
      case 2:
        return "p0404268.za" + std::to_string(k);
      case 3:
        return "P0404268.ZB" + std::to_string(k);
      default:
        return "P0404268.ZA" + std::to_string(k);
    }
  };
  std::vector<std::pair<fs::path, std::string>> on_disk;  // what the diskette must keep
  for (std::size_t k = 0; k < parts.size() && (naming != 1 || k == 0); ++k) {
    const std::string name = naming == 1 ? "P0404268.ZAV" : "P0404268.ZA" + std::to_string(k);
    on_disk.emplace_back(scope.box().a() / name, parts[k]);
    WriteAll(on_disk.back().first, parts[k]);
  }

  ZAV z;
  z.inicio();
  z.OrigenArchi = "A:\\";
  z.FinalArchi = "P0404268.ZAV";
  z.OrigenNombre = asked(0);
  const fs::path work = ResolvePath(z.DestinoArchi + z.FinalArchi);
  std::string expected;
  bool joined = false;
  for (int k = 0; k < 8; ++k) {
    const std::string name = asked(k);
    std::int16_t answer = 0;
    try {
      answer = z.IntegraDisco(name, static_cast<std::uint8_t>(k));
    } catch (const RuntimeFailure&) {
      break;
    }
    if (answer == 5 && fs::exists(work)) Broken("a failed join left a work file");
    if (answer != 0) break;
    const std::size_t index = naming == 1 ? 0 : static_cast<std::size_t>(k);
    if (index < on_disk.size() && fs::exists(on_disk[index].first)) {
      expected += AsRecords(on_disk[index].second);
    }
    if (ReadAll(work) != expected) Broken("the work file is not the parts joined so far");
    if (vanish && index < on_disk.size()) {
      fs::remove(on_disk[index].first);
      on_disk[index].second.clear();
    }
    const std::uint8_t last = z.ChecaUltimoDisco(name);
    if (last == 255) break;
    if (last != 0) {
      joined = true;
      break;
    }
  }
  std::size_t listed = 0;
  for (const auto& entry : fs::directory_iterator(scope.box().a())) {
    (void)entry;
    ++listed;
  }
  std::size_t kept = 0;
  for (const auto& [path, bytes] : on_disk) {
    if (!fs::exists(path)) continue;
    ++kept;
    if (ReadAll(path) != bytes) Broken("a diskette part was changed");
  }
  if (listed != kept) Broken("a file was created on the diskette");

  if (joined && (options & 8) != 0) {
    const std::string result = z.ValidaReg("17/05/2004");
    CheckRunOutcome(z, result, expected);
  }
}

}  // namespace zav::fuzz
