#include "receiver.hpp"

#include <ctime>
#include <thread>
#include <variant>

#include "access_log.hpp"
#include "digest.hpp"

namespace zavserve {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

std::string Today() { return zav::ServerDate(); }

zav::UploadAnswer Forbidden() {
  return zav::Refusal(403, "forbidden", "these credentials may not upload for this employer");
}

}  // namespace

Receiver::Receiver(const ReceiverBounds& bounds, UploadStore& store, Metrics& metrics)
    : bounds_(bounds),
      store_(store),
      metrics_(metrics),
      pool_(2 * std::max(1u, std::thread::hardware_concurrency())) {
  for (unsigned i = 0; i < pool_.size(); ++i) {
    folders_.push_back(store_.work() / ("check-" + std::to_string(i)));
    fs::create_directory(folders_.back());
  }
}

Receiver::Slot::~Slot() {
  if (owner_ == nullptr) return;
  const std::lock_guard<std::mutex> lock(owner_->mutex_);
  --owner_->in_flight_;
  owner_->metrics_.UploadEnded();
}

bool Receiver::OverQuota(const std::string& identity, std::uint64_t bytes) {
  if (bounds_.quota_bytes == 0) return false;
  const auto found = used_.find(identity);
  const std::uint64_t used =
      found != used_.end() && found->second.first == Today() ? found->second.second : 0;
  return used + bytes > bounds_.quota_bytes;
}

void Receiver::Charge(const std::string& identity, std::uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(mutex_);
  auto& [day, used] = used_[identity];
  if (day != Today()) {
    day = Today();
    used = 0;
  }
  used += bytes;
}

std::optional<zav::UploadAnswer> Receiver::Admit(const Uploader& uploader, std::uint64_t length,
                                                 Slot& slot) {
  if (length > bounds_.limits.max_archive_bytes) {
    return zav::Refusal(413, "too_large",
                        "the archive is larger than " +
                            std::to_string(bounds_.limits.max_archive_bytes) + " bytes");
  }
  if (FreeBytes(store_.uploads()) < bounds_.min_free + length) {
    return zav::Refusal(507, "disk_full", "the server has no room for uploads now");
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  if (OverQuota(uploader.identity, length)) {
    return zav::Refusal(507, "quota", "these credentials have stored all they may today");
  }
  if (in_flight_ >= bounds_.max_uploads) {
    return zav::Refusal(503, "busy", "the server is checking as many uploads as it can");
  }
  ++in_flight_;
  metrics_.UploadStarted();
  slot = Slot(this);
  return std::nullopt;
}

zav::UploadAnswer Receiver::Receive(const Upload& upload) {
  try {
    return CheckAndStore(upload);
  } catch (const std::exception& e) {
    LogNote(std::string("an upload failed: ") + e.what());
    return zav::Refusal(500, "server_error", "the server could not check the archive");
  }
}

zav::UploadAnswer Receiver::CheckAndStore(const Upload& upload) {
  const std::string server_date = zav::ServerDate();
  std::optional<zav::UploadAnswer> refusal;
  std::optional<json> first;
  std::string payment_sha256, archive_sha256, rfc, capture_line;
  std::uint64_t size = 0;
  Aside archive(store_.uploads());
  pool_.Run([&](unsigned worker) {
    const fs::path& folder = folders_[worker];
    const auto empty = [&] {
      for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        fs::remove_all(entry.path());
      }
    };
    empty();
    const fs::path file = folder / zav::WorkName(upload.name);
    if ((refusal = zav::UnpackUpload(upload.body, file, bounds_.limits))) return empty();
    payment_sha256 = FileSha256(file);
    if ((first = store_.Receipt(upload.name))) return empty();  // a second upload of the name
    auto checked = zav::ValidateUpload(upload.name, file, server_date);
    if (auto* answer = std::get_if<zav::UploadAnswer>(&checked)) {
      refusal = std::move(*answer);
      return empty();
    }
    const zav::ValidUpload& valid = std::get<zav::ValidUpload>(checked);
    rfc = valid.rfc;
    capture_line = valid.capture_line;
    size = fs::file_size(valid.archive);
    archive_sha256 = FileSha256(valid.archive);
    archive.Copy(valid.archive);
    empty();
  });
  if (refusal) return *refusal;

  const std::string registration(zav::ArchiveRegistration(upload.name));
  if (first) {
    if (!upload.uploader.MayUpload(registration)) return Forbidden();
    return UploadStore::Again(*first, payment_sha256);
  }
  if (!upload.uploader.MayUpload(registration)) return Forbidden();
  if (FreeBytes(store_.uploads()) < bounds_.min_free + size) {
    return zav::Refusal(507, "disk_full", "the server has no room for uploads now");
  }
  const json receipt = {
      {"archive", upload.name},
      {"registration", registration},
      {"rfc", rfc},
      {"capture_line", capture_line},
      {"payment_sha256", payment_sha256},
      {"archive_sha256", archive_sha256},
      {"server_date", server_date},
      {"received", UtcNow()},
      {"uploader", upload.uploader.identity},
      {"client", upload.client},
  };
  zav::UploadAnswer answer = store_.Store(upload.name, archive, receipt);
  if (answer.status == 201) {
    Charge(upload.uploader.identity, size);
    metrics_.Stored(size);
  }
  return answer;
}

}  // namespace zavserve
