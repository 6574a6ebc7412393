// An uploader's lookups of stored receipts: GET /api/receipts/NAME and GET
// /api/receipts?period=YYYYMM. An uploader sees only the receipts of the registrations it
// is entitled to: any other name is answered exactly as a name never stored (404), so
// nothing tells whether another employer stored it. Who stored a receipt and from where is
// shown only to the uploader that stored it.
//
//   200 {"receipt": {...as stored}, "archive_removed": "2026-12-07T11:00:00.000Z" | null}
//   200 {"period": "200404", "receipts": [{"receipt": ..., "archive_removed": ...}, ...]}
#pragma once

#include <string_view>

#include "api/upload.hpp"
#include "store_interface.hpp"
#include "uploaders.hpp"

namespace zavserve {

zav::UploadAnswer LookupReceipt(const ReceiptStore& store, const Uploader& uploader,
                                std::string_view name);
zav::UploadAnswer LookupPeriod(const ReceiptStore& store, const Uploader& uploader,
                               std::string_view period);

// The receipt as `uploader` may see it.
nlohmann::ordered_json Shown(const StoredReceipt& stored, const Uploader& uploader);

}  // namespace zavserve
