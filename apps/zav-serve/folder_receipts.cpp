// The upload folder's lookups and its removal of old archives (store.hpp).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "access_log.hpp"
#include "store.hpp"

namespace zavserve {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRemoved = ".removed";

std::optional<std::string> RemovedAt(const fs::path& uploads, std::string_view name) {
  std::ifstream in(uploads / (std::string(name) + kRemoved));
  std::string when;
  if (!in || !std::getline(in, when)) return std::nullopt;
  return when;
}

std::optional<StoredReceipt> ReadReceipt(const fs::path& uploads, std::string_view name) {
  if (!zav::IsArchiveName(name)) return std::nullopt;
  std::ifstream in(uploads / (std::string(name) + ".json"));
  if (!in) return std::nullopt;
  nlohmann::ordered_json receipt = nlohmann::ordered_json::parse(in, nullptr, false);
  if (!receipt.is_object()) receipt = {{"archive", name}};  // unreadable: the name is taken
  return StoredReceipt{std::move(receipt), RemovedAt(uploads, name)};
}

}  // namespace

std::optional<StoredReceipt> UploadStore::Lookup(std::string_view name) const {
  return ReadReceipt(uploads_, name);
}

std::vector<StoredReceipt> UploadStore::Period(
    std::string_view period, const std::vector<std::string>& registrations) const {
  return ReadPeriod(uploads_, period, registrations);
}

std::vector<StoredReceipt> ReadPeriod(const fs::path& uploads, std::string_view period,
                                      const std::vector<std::string>& registrations) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(uploads, ec)) {
    const std::string file = entry.path().filename().native();
    if (!file.ends_with(".json")) continue;
    const std::string name = file.substr(0, file.size() - 5);
    if (ArchivePeriod(name) != period) continue;
    const std::string registration(zav::ArchiveRegistration(name));
    if (!registrations.empty() && std::find(registrations.begin(), registrations.end(),
                                            registration) == registrations.end()) {
      continue;
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<StoredReceipt> found;
  for (const std::string& name : names) {
    if (auto receipt = ReadReceipt(uploads, name)) found.push_back(std::move(*receipt));
  }
  return found;
}

int UploadStore::RemoveArchivesOlderThan(int days) {
  const auto limit = fs::file_time_type::clock::now() - std::chrono::hours(24) * days;
  int removed = 0;
  std::error_code ec;
  std::vector<std::string> old;
  for (const fs::directory_entry& entry : fs::directory_iterator(uploads_, ec)) {
    const std::string name = entry.path().filename().native();
    if (!zav::IsArchiveName(name) || !fs::exists(uploads_ / (name + ".json"), ec)) continue;
    const auto written = fs::last_write_time(entry.path(), ec);
    if (!ec && written <= limit) old.push_back(name);
  }
  for (const std::string& name : old) {
    // The mark first, on disk, then the archive: never an archive gone without its mark.
    Aside mark(uploads_);
    if (!mark.Write(UtcNow() + "\n") || !mark.Flush()) continue;
    if (!mark.Link(uploads_ / (name + kRemoved)) && errno != EEXIST) continue;
    if (::unlink((uploads_ / name).c_str()) == 0) ++removed;
  }
  if (removed > 0) ::fsync(locks_[0]);
  return removed;
}

}  // namespace zavserve
