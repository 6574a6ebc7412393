#include "receiver.hpp"

#include <sys/stat.h>

#include <ctime>
#include <thread>
#include <variant>

#include "access_log.hpp"
#include "digest.hpp"
#include "receipt_facts.hpp"
#include "signing.hpp"

namespace zavserve {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

std::string Today() { return zav::ServerDate(); }

// What a check writes besides its file and the archive of it: the control's own records.
constexpr std::uint64_t kCheckSlack = std::uint64_t{1} << 20;

dev_t DeviceOf(const fs::path& folder) {
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 ? st.st_dev : 0;
}

zav::UploadAnswer DiskFull() {
  return zav::Refusal(507, "disk_full", "the server has no room for uploads now");
}

zav::UploadAnswer Forbidden() {
  return zav::Refusal(403, "forbidden", "these credentials may not upload for this employer");
}

// A pool slot's folder, emptied when made and again when it goes, however the work in it
// ends: a store that cannot be read throws, say, and the payment file must not stay behind.
class EmptiedFolder {
 public:
  explicit EmptiedFolder(const fs::path& folder) : folder_(folder) { (*this)(); }
  ~EmptiedFolder() { (*this)(); }
  EmptiedFolder(const EmptiedFolder&) = delete;
  EmptiedFolder& operator=(const EmptiedFolder&) = delete;
  void operator()() const {
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code removed;
      fs::remove_all(it->path(), removed);
    }
  }

 private:
  const fs::path& folder_;
};

}  // namespace

Receiver::Receiver(const ReceiverBounds& bounds, ReceiptStore& store, Metrics& metrics)
    : bounds_(bounds),
      store_(store),
      metrics_(metrics),
      pool_(2 * std::max(1u, std::thread::hardware_concurrency())) {
  for (unsigned i = 0; i < pool_.size(); ++i) {
    folders_.push_back(store_.work() / ("check-" + std::to_string(i)));
    fs::create_directory(folders_.back());
  }
  uploads_device_ = DeviceOf(store_.spool());
  work_device_ = DeviceOf(store_.work());
}

Receiver::Slot::~Slot() {
  if (owner_ == nullptr) return;
  const std::lock_guard<std::mutex> lock(owner_->mutex_);
  --owner_->in_flight_;
  if (--owner_->in_flight_by_[identity_] == 0) owner_->in_flight_by_.erase(identity_);
  for (const auto& [device, bytes] : reserved_) owner_->reserved_[device] -= bytes;
  owner_->metrics_.UploadEnded();
}

bool Receiver::OverQuota(const std::string& identity, std::uint64_t bytes) {
  if (bounds_.quota_bytes == 0) return false;
  return store_.Used(identity, Today()) + bytes > bounds_.quota_bytes;
}

void Receiver::Charge(const std::string& identity, std::uint64_t bytes) {
  store_.Charge(identity, Today(), bytes);
}

std::optional<zav::UploadAnswer> Receiver::Admit(const Uploader& uploader, std::uint64_t length,
                                                 Slot& slot) {
  if (length > bounds_.limits.max_archive_bytes) {
    return zav::Refusal(413, "too_large",
                        "the archive is larger than " +
                            std::to_string(bounds_.limits.max_archive_bytes) + " bytes");
  }
  // The file and the archive of it in the work folder, the archive in the upload folder.
  const std::uint64_t file = zav::UnpackBound(length, bounds_.limits);
  std::map<dev_t, std::uint64_t> need;
  need[work_device_] += 2 * file + kCheckSlack;
  need[uploads_device_] += file + kCheckSlack;
  // The quota is asked outside the lock: a shared store answers over the network.
  const bool over_quota = OverQuota(uploader.identity, length);
  const std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [device, bytes] : need) {
    const fs::path& folder = device == uploads_device_ ? store_.spool() : store_.work();
    if (FreeBytes(folder) < bounds_.min_free + reserved_[device] + bytes) return DiskFull();
  }
  if (over_quota) {
    return zav::Refusal(507, "quota", "these credentials have used all they may today");
  }
  if (in_flight_ >= bounds_.max_uploads) {
    return zav::Refusal(503, "busy", "the server is checking as many uploads as it can");
  }
  int& mine = in_flight_by_[uploader.identity];
  if (mine >= bounds_.max_uploads_per_uploader) {
    if (mine == 0) in_flight_by_.erase(uploader.identity);
    return zav::Refusal(503, "busy",
                        "these credentials have as many uploads under way as they may");
  }
  ++mine;
  ++in_flight_;
  for (const auto& [device, bytes] : need) reserved_[device] += bytes;
  metrics_.UploadStarted();
  Slot held;
  held.owner_ = this;
  held.identity_ = uploader.identity;
  held.reserved_ = std::move(need);
  slot = std::move(held);
  return std::nullopt;
}

zav::UploadAnswer Receiver::Receive(const Upload& upload) {
  std::uint64_t unpacked = 0;
  zav::UploadAnswer answer;
  try {
    answer = CheckAndStore(upload, unpacked);
  } catch (const StoreUnavailable& e) {
    LogNote(std::string("an upload found no store: ") + e.what());
    answer = Unavailable();
  } catch (const std::exception& e) {
    LogNote(std::string("an upload failed: ") + e.what());
    answer = zav::Refusal(500, "server_error", "the server could not check the archive");
  }
  // A refusal of the uploader's archive costs what it made the server take and write; the
  // server's own failures cost nothing.
  if (answer.status >= 400 && answer.status < 500) {
    Charge(upload.uploader.identity, upload.body.size() + unpacked);
  }
  return answer;
}

void Receiver::OnPool(const std::function<void(const fs::path& folder)>& work) {
  pool_.Run([&](unsigned worker) {
    const EmptiedFolder emptied(folders_[worker]);
    work(folders_[worker]);
  });
}

zav::UploadAnswer Receiver::CheckAndStore(const Upload& upload, std::uint64_t& unpacked) {
  const std::string server_date = zav::ServerDate();
  std::optional<zav::UploadAnswer> refusal;
  std::optional<json> first, facts;
  std::string payment_sha256, archive_sha256, rfc, capture_line;
  std::uint64_t size = 0;
  Aside archive(store_.spool());
  pool_.Run([&](unsigned worker) {
    const EmptiedFolder emptied(folders_[worker]);
    const fs::path file = folders_[worker] / zav::WorkName(upload.name);
    refusal = zav::UnpackUpload(upload.body, file, bounds_.limits);
    std::error_code ec;
    const std::uintmax_t written = fs::file_size(file, ec);
    if (!ec) unpacked = written;
    if (refusal) return;
    payment_sha256 = FileSha256(file);
    if ((first = store_.Receipt(upload.name))) return;  // a second upload of the name
    try {
      facts = PaymentFacts(file);  // read before the control renames it; used once accepted
    } catch (const std::exception&) {
    }
    auto checked = zav::ValidateUpload(upload.name, file, server_date);
    if (auto* answer = std::get_if<zav::UploadAnswer>(&checked)) {
      refusal = std::move(*answer);
      return;
    }
    const zav::ValidUpload& valid = std::get<zav::ValidUpload>(checked);
    rfc = valid.rfc;
    capture_line = valid.capture_line;
    size = fs::file_size(valid.archive);
    archive_sha256 = FileSha256(valid.archive);
    archive.Copy(valid.archive);
  });
  if (refusal) return *refusal;

  const std::string registration(zav::ArchiveRegistration(upload.name));
  if (first) {
    if (!upload.uploader.MayUpload(registration)) return Forbidden();
    return UploadStore::Again(*first, payment_sha256);
  }
  if (!upload.uploader.MayUpload(registration)) return Forbidden();
  if (FreeBytes(store_.spool()) < bounds_.min_free + size) return DiskFull();
  if (!facts) throw std::runtime_error("an accepted payment file without its figures");
  json receipt = {
      {"receipt_number", NewReceiptNumber()},
      {"archive", upload.name},
      {"registration", registration},
      {"rfc", rfc},
  };
  receipt.update(*facts);
  receipt.update(json{
      {"capture_line", capture_line},
      {"server_date", server_date},
      {"received", UtcNow()},
      {"payment_sha256", payment_sha256},
      {"archive_sha256", archive_sha256},
      {"uploader", upload.uploader.identity},
      {"client", upload.client},
  });
  if (signer_ != nullptr) signer_->Sign(receipt);
  zav::UploadAnswer answer = store_.Store(upload.name, archive, receipt);
  if (answer.status == 201) {
    Charge(upload.uploader.identity, size);
    metrics_.Stored(size);
  }
  return answer;
}

}  // namespace zavserve
