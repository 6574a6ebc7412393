// An upload from its admitted head to its answer. Before the body: room for it (an upload
// slot of --max-uploads, free space above --min-free, the uploader's daily quota). Then, on
// the check pool, in a work folder of its own: the file out of the archive (host/upload),
// and either the receipt of the name when it was stored already (the same payment file: 200
// with it; another one: 409) or the control's verdict and its archive of the file; last, in
// the caller's thread, the uploader's entitlement to the file's employer and the durable
// store of the server's archive with its receipt. Checks run on twice as many threads as the
// machine has cores (a check waits on the disk about as long as it computes), each in a
// folder of its own under the work folder, emptied after each upload: the temporary space of
// checks is at most that many times --max-file-bytes.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "check_pool.hpp"
#include "host/upload.hpp"
#include "metrics.hpp"
#include "store.hpp"
#include "uploaders.hpp"

namespace zavserve {

struct ReceiverBounds {
  zav::UploadLimits limits;
  std::uint64_t min_free = 0;
  std::uint64_t quota_bytes = 0;  // a day, per uploader; 0: none
  int max_uploads = 1;
};

struct Upload {
  std::string name;
  std::string body;
  Uploader uploader;
  std::string client;
};

class Receiver {
 public:
  Receiver(const ReceiverBounds& bounds, UploadStore& store, Metrics& metrics);

  // An upload slot: held from admission to the answer.
  class Slot {
   public:
    explicit Slot(Receiver* owner = nullptr) : owner_(owner) {}
    Slot(Slot&& other) noexcept : owner_(other.owner_) { other.owner_ = nullptr; }
    Slot& operator=(Slot&& other) noexcept {
      std::swap(owner_, other.owner_);
      return *this;
    }
    ~Slot();

   private:
    Receiver* owner_;
  };

  // Whether an upload of `length` bytes by `uploader` may come in now: its refusal (413,
  // 507 disk_full or quota, 503 busy), else nothing and `slot` held.
  std::optional<zav::UploadAnswer> Admit(const Uploader& uploader, std::uint64_t length,
                                         Slot& slot);

  // Checks and stores an admitted upload. Never throws.
  zav::UploadAnswer Receive(const Upload& upload);

 private:
  zav::UploadAnswer CheckAndStore(const Upload& upload);
  bool OverQuota(const std::string& identity, std::uint64_t bytes);
  void Charge(const std::string& identity, std::uint64_t bytes);

  ReceiverBounds bounds_;
  UploadStore& store_;
  Metrics& metrics_;
  CheckPool pool_;
  std::vector<std::filesystem::path> folders_;  // a check thread's own
  std::mutex mutex_;
  int in_flight_ = 0;
  std::map<std::string, std::pair<std::string, std::uint64_t>> used_;  // identity: day, bytes
};

}  // namespace zavserve
