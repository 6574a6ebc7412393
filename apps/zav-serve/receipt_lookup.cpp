#include "receipt_lookup.hpp"

#include <functional>

#include "access_log.hpp"

namespace zavserve {

using json = nlohmann::ordered_json;

namespace {

zav::UploadAnswer NotFound() { return zav::Refusal(404, "not_found", "not found"); }

// The answer of `lookup`, or what a store that cannot be read gives.
zav::UploadAnswer Answered(const std::function<zav::UploadAnswer()>& lookup) {
  try {
    return lookup();
  } catch (const StoreUnavailable& e) {
    LogNote(std::string("a lookup found no store: ") + e.what());
    return Unavailable();
  } catch (const std::exception& e) {
    LogNote(std::string("a lookup failed: ") + e.what());
    return zav::Refusal(500, "server_error", "the server could not read its receipts");
  }
}

}  // namespace

json Shown(const StoredReceipt& stored, const Uploader& uploader) {
  json shown = stored.Json();
  json& receipt = shown["receipt"];
  if (receipt.is_object() && receipt.value("uploader", "") != uploader.identity) {
    receipt.erase("uploader");
    receipt.erase("client");
  }
  return shown;
}

zav::UploadAnswer LookupReceipt(const ReceiptStore& store, const Uploader& uploader,
                                std::string_view name) {
  if (!zav::IsArchiveName(name) || !uploader.MayUpload(zav::ArchiveRegistration(name))) {
    return NotFound();
  }
  return Answered([&]() -> zav::UploadAnswer {
    const std::optional<StoredReceipt> found = store.Lookup(name);
    if (!found) return NotFound();
    return {200, Shown(*found, uploader)};
  });
}

zav::UploadAnswer LookupPeriod(const ReceiptStore& store, const Uploader& uploader,
                               std::string_view period) {
  if (!IsPeriod(period)) {
    return zav::Refusal(400, "bad_request", "name the period as ?period=YYYYMM");
  }
  return Answered([&]() -> zav::UploadAnswer {
    json receipts = json::array();
    // Entitled to nothing: asked of nothing, lest an empty list mean "all".
    if (!uploader.registrations.empty()) {
      for (const StoredReceipt& stored : store.Period(period, uploader.registrations)) {
        receipts.push_back(Shown(stored, uploader));
      }
    }
    return {200, json{{"period", period}, {"receipts", std::move(receipts)}}};
  });
}

}  // namespace zavserve
