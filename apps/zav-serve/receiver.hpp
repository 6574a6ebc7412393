// An upload from its admitted head to its answer. Before the body: room for it: an upload
// slot of --max-uploads, of which one uploader holds at most --max-uploads-per-uploader;
// the uploader's daily quota; and free space for the worst the upload may write, reserved
// until its answer, above --min-free on each file system it writes to. Then, on
// the check pool, in a work folder of its own: the file out of the archive (api/upload),
// and either the receipt of the name when it was stored already (the same payment file: 200
// with it; another one: 409) or the control's verdict and its archive of the file; last, in
// the caller's thread, the uploader's entitlement to the file's employer and the durable
// store of the server's archive with its receipt. Checks run on twice as many threads as the
// machine has cores (a check waits on the disk about as long as it computes), each in a
// folder of its own under the work folder, emptied after each upload: the temporary space of
// checks is at most that many times --max-file-bytes.
//
// What an upload may write is known from its Content-Length: the file it unpacks to (at most
// zav::UnpackBound: the smaller of --max-file-bytes and --max-unpack-ratio times the body)
// and the server's archive of it (no larger than the file) in the work folder, then that
// archive once more in the upload folder. The body itself stays in memory. Each is reserved
// on its folder's file system (work and uploads may be on different ones) against --min-free,
// counting the reservations of uploads under way; the space an upload under way already
// wrote counts twice meanwhile, which errs on the side of room.
//
// The quota counts what an uploader cost: what it stored, and for a refused upload (a 4xx
// after its body came) the bytes received and the bytes unpacked.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "api/upload.hpp"
#include "check_pool.hpp"
#include "metrics.hpp"
#include "store.hpp"
#include "store_interface.hpp"
#include "uploaders.hpp"

namespace zavserve {

class ReceiptSigner;

struct ReceiverBounds {
  zav::UploadLimits limits;
  std::uint64_t min_free = 0;
  std::uint64_t quota_bytes = 0;  // a day, per uploader; 0: none
  int max_uploads = 1;
  int max_uploads_per_uploader = 1;
};

struct Upload {
  std::string name;
  std::string body;
  Uploader uploader;
  std::string client;
};

class Receiver {
 public:
  Receiver(const ReceiverBounds& bounds, ReceiptStore& store, Metrics& metrics);

  // An upload slot and its space: held from admission to the answer.
  class Slot {
   public:
    Slot() = default;
    Slot(Slot&& other) noexcept { Swap(other); }
    Slot& operator=(Slot&& other) noexcept {
      Swap(other);
      return *this;
    }
    ~Slot();

   private:
    friend class Receiver;
    void Swap(Slot& other) noexcept {
      std::swap(owner_, other.owner_);
      std::swap(identity_, other.identity_);
      std::swap(reserved_, other.reserved_);
    }

    Receiver* owner_ = nullptr;
    std::string identity_;
    std::map<dev_t, std::uint64_t> reserved_;  // by file system
  };

  // Whether an upload of `length` bytes by `uploader` may come in now: its refusal (413,
  // 507 disk_full or quota, 503 busy), else nothing and `slot` held.
  std::optional<zav::UploadAnswer> Admit(const Uploader& uploader, std::uint64_t length,
                                         Slot& slot);

  // Checks and stores an admitted upload, charging a refusal's cost to the uploader's
  // quota. Never throws.
  zav::UploadAnswer Receive(const Upload& upload);

  // Receipts stored from now on are signed by `signer` (signing.hpp).
  void SignWith(const ReceiptSigner& signer) { signer_ = &signer; }

  // Charges `bytes` of a refused upload (its body cut short, say) to `identity`.
  void Charge(const std::string& identity, std::uint64_t bytes);

  // Runs `work` on the check pool in the check thread's own folder, emptied before and
  // after (POST /api/check). Throws what `work` threw.
  void OnPool(const std::function<void(const std::filesystem::path& folder)>& work);

  const zav::UploadLimits& limits() const { return bounds_.limits; }

 private:
  zav::UploadAnswer CheckAndStore(const Upload& upload, std::uint64_t& unpacked);
  bool OverQuota(const std::string& identity, std::uint64_t bytes);

  ReceiverBounds bounds_;
  ReceiptStore& store_;
  Metrics& metrics_;
  const ReceiptSigner* signer_ = nullptr;
  CheckPool pool_;
  std::vector<std::filesystem::path> folders_;  // a check thread's own
  std::mutex mutex_;
  int in_flight_ = 0;
  std::map<std::string, int> in_flight_by_;  // identity: its uploads under way
  std::map<dev_t, std::uint64_t> reserved_;  // file system: space held by uploads
  dev_t uploads_device_ = 0, work_device_ = 0;
};

}  // namespace zavserve
