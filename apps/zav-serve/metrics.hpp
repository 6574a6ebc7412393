// What /metrics tells, in the Prometheus text format (version 0.0.4):
//
//   zav_requests_total{status}       requests answered, by status
//   zav_refusals_total{cause}        requests refused, by cause (the `cause` of the answer)
//   zav_upload_duration_seconds      upload requests, from their first byte to the answer
//                                    (a histogram)
//   zav_uploads_stored_total         archives stored
//   zav_stored_bytes_total           their bytes
//   zav_uploads_in_flight            uploads being received or checked now
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace zavserve {

class Metrics {
 public:
  void Answered(int status, std::string_view cause);
  void UploadTook(double seconds);
  void Stored(std::uint64_t bytes);
  void UploadStarted() { ++in_flight_; }
  void UploadEnded() { --in_flight_; }

  std::string Text() const;

 private:
  static constexpr std::array<double, 12> kBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                      0.5,   1,    2.5,   5,    10,  30};
  mutable std::mutex mutex_;
  std::map<int, std::uint64_t> by_status_;
  std::map<std::string, std::uint64_t, std::less<>> by_cause_;
  std::array<std::uint64_t, kBuckets.size()> buckets_{};
  std::uint64_t uploads_ = 0;
  double upload_seconds_ = 0;
  std::uint64_t stored_ = 0, stored_bytes_ = 0;
  std::atomic<int> in_flight_{0};
};

}  // namespace zavserve
