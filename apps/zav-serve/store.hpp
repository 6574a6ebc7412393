// Where uploads are kept and the server works: the upload folder holds each stored archive
// NAME with its receipt NAME.json beside it (folder 0750, files 0640); the work folder
// holds one folder a check (0700), outside the upload folder. Each folder is locked for one
// server at a time, and what a stopped (or killed) server left in them is removed at start:
// the work folder is emptied; in the upload folder everything hidden (files being written,
// the work of older servers), a receipt whose archive never came and an archive whose
// receipt never came (never answered as stored: the name is free again) are removed.
//
// Storing is durable and whole: archive and receipt are written as unnamed files in the
// upload folder (hidden names where the file system has none) and flushed; the receipt is
// linked in first, which fails when the name is taken, so a name is stored once and never
// overwritten; then the archive; then the folder is flushed. Names starting with '.' are the
// server's own work, never an upload.
//
// An archive removed for its age leaves NAME.removed beside its receipt (written before the
// archive goes), holding when it was removed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/upload.hpp"
#include "store_interface.hpp"

namespace zavserve {

// Makes `folder` (with `mode`) when missing and locks it for this process alone; throws
// std::runtime_error saying why it cannot.
int MakeAndLock(const std::filesystem::path& folder, std::filesystem::perms mode);

// Free bytes for an unprivileged writer in the file system of `folder`.
std::uint64_t FreeBytes(const std::filesystem::path& folder);

// A file being written for the upload folder, removed at the end of its life unless
// UploadStore::Store gave it a name.
class Aside {
 public:
  explicit Aside(const std::filesystem::path& folder);
  ~Aside();
  Aside(Aside&& other) noexcept;
  Aside& operator=(Aside&& other) noexcept;
  Aside(const Aside&) = delete;
  Aside& operator=(const Aside&) = delete;

  bool good() const { return good_; }
  bool Write(std::string_view bytes);
  bool Copy(const std::filesystem::path& from);
  // What was written, read back.
  std::optional<std::string> Contents() const;

  // Starts writing it out, so that the flushes of several files share the disk's work.
  void StartFlush();
  bool Flush();
  // Gives it the name `target` (failing with errno EEXIST when taken).
  bool Link(const std::filesystem::path& target) const;

 private:
  int fd_ = -1;
  std::filesystem::path name_;  // a hidden name, where it has one
  bool good_ = false;
};

// The receipts of `period` for `registrations` (all when empty) in the upload folder
// `uploads`, read without taking it from the server that uses it.
std::vector<StoredReceipt> ReadPeriod(const std::filesystem::path& uploads, std::string_view period,
                                      const std::vector<std::string>& registrations);

class UploadStore : public ReceiptStore {
 public:
  // Makes, locks and cleans both folders. Throws std::runtime_error saying why it cannot.
  UploadStore(std::filesystem::path uploads, std::filesystem::path work);
  ~UploadStore() override;
  UploadStore(const UploadStore&) = delete;
  UploadStore& operator=(const UploadStore&) = delete;

  const std::filesystem::path& uploads() const { return uploads_; }
  const std::filesystem::path& work() const override { return work_; }
  const std::filesystem::path& spool() const override { return uploads_; }
  std::string Where() const override { return "uploads to " + uploads_.string(); }

  // The receipt of archive `name`, when it was stored.
  std::optional<nlohmann::ordered_json> Receipt(std::string_view name) const override;
  std::optional<StoredReceipt> Lookup(std::string_view name) const override;
  std::vector<StoredReceipt> Period(std::string_view period,
                                    const std::vector<std::string>& registrations) const override;
  int RemoveArchivesOlderThan(int days) override;

  // Stores `archive` (written for this folder) as `name` with `receipt` (which holds the
  // payment file's payment_sha256): 201 with the receipt; when the name was taken meanwhile,
  // what a second upload gets (Again); 500 when it could not.
  zav::UploadAnswer Store(const std::string& name, Aside& archive,
                          const nlohmann::ordered_json& receipt) override;

  // What a second upload of a stored name gets: 200 with the first receipt when it holds
  // the same payment file (`payment_sha256`), else 409 saying when the first was received.
  static zav::UploadAnswer Again(const nlohmann::ordered_json& first,
                                 std::string_view payment_sha256);

 private:
  std::filesystem::path uploads_, work_;
  int locks_[2] = {-1, -1};
};

}  // namespace zavserve
