#include "access_log.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>

namespace zavserve {

namespace {

using json = nlohmann::ordered_json;

json OrNull(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

void Write(const json& line) {
  static std::mutex turn;
  const std::string text = line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  const std::lock_guard<std::mutex> lock(turn);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(millis));
  return text;
}

void LogExchange(const ExchangeRecord& r) {
  json line;
  line["time"] = UtcNow();
  line["id"] = r.id;
  line["client"] = OrNull(r.client);
  line["identity"] = OrNull(r.identity);
  line["method"] = OrNull(r.method);
  line["path"] = OrNull(r.path);
  line["status"] = r.status;
  line["bytes_in"] = r.bytes_in;
  line["bytes_out"] = r.bytes_out;
  line["ms"] = static_cast<double>(static_cast<long long>(r.seconds * 10000)) / 10;
  line["archive"] = OrNull(r.archive);
  line["message"] = r.message ? json(*r.message) : json(nullptr);
  line["cause"] = OrNull(r.cause);
  Write(line);
}

void LogNote(std::string_view note) { Write({{"time", UtcNow()}, {"note", note}}); }

}  // namespace zavserve
