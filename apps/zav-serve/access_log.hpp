// The server's log: one JSON object a line on standard error, one line for every request
// answered (or refused at the door), and a few notes of its own (start, clean-up, stop).
//
//   {"time":"2025-06-01T12:00:00.123Z","id":"...","client":"203.0.113.5","identity":
//    "token:0123456789ab","method":"POST","path":"/api/upload","status":201,"bytes_in":16384,
//    "bytes_out":512,"ms":41.7,"archive":"33501e01...zip","message":null,"cause":null}
//   {"time":"...","note":"TEXT"}
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zavserve {

struct ExchangeRecord {
  std::string id;        // the front's request id, else one of our own
  std::string client;    // the client's address
  std::string identity;  // the uploader, when known
  std::string method, path;
  int status = 0;
  std::uint64_t bytes_in = 0, bytes_out = 0;
  double seconds = 0;
  std::string archive;         // the upload's archive name, when it had one
  std::optional<int> message;  // the control's message number, when it rejected the file
  std::string cause;           // the refusal's cause
};

// UTC, ISO 8601 to the millisecond: 2025-06-01T12:00:00.123Z.
std::string UtcNow();

void LogExchange(const ExchangeRecord& record);
void LogNote(std::string_view note);

}  // namespace zavserve
