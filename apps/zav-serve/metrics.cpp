#include "metrics.hpp"

#include <sstream>

namespace zavserve {

void Metrics::Answered(int status, std::string_view cause) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++by_status_[status];
  if (!cause.empty()) {
    const auto found = by_cause_.find(cause);
    if (found != by_cause_.end()) {
      ++found->second;
    } else {
      by_cause_.emplace(std::string(cause), 1);
    }
  }
}

void Metrics::UploadTook(double seconds) {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < kBuckets.size(); ++i) {
    if (seconds <= kBuckets[i]) ++buckets_[i];
  }
  ++uploads_;
  upload_seconds_ += seconds;
}

void Metrics::Stored(std::uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++stored_;
  stored_bytes_ += bytes;
}

std::string Metrics::Text() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::ostringstream out;
  const auto head = [&](const char* name, const char* type, const char* help) {
    out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
  };
  head("zav_requests_total", "counter", "Requests answered, by status.");
  for (const auto& [status, n] : by_status_) {
    out << "zav_requests_total{status=\"" << status << "\"} " << n << '\n';
  }
  head("zav_refusals_total", "counter", "Requests refused, by cause.");
  for (const auto& [cause, n] : by_cause_) {
    out << "zav_refusals_total{cause=\"" << cause << "\"} " << n << '\n';
  }
  head("zav_upload_duration_seconds", "histogram",
       "Upload requests, from their first byte to the answer.");
  for (std::size_t i = 0; i < kBuckets.size(); ++i) {
    out << "zav_upload_duration_seconds_bucket{le=\"" << kBuckets[i] << "\"} " << buckets_[i]
        << '\n';
  }
  out << "zav_upload_duration_seconds_bucket{le=\"+Inf\"} " << uploads_ << '\n'
      << "zav_upload_duration_seconds_sum " << upload_seconds_ << '\n'
      << "zav_upload_duration_seconds_count " << uploads_ << '\n';
  head("zav_uploads_stored_total", "counter", "Archives stored.");
  out << "zav_uploads_stored_total " << stored_ << '\n';
  head("zav_stored_bytes_total", "counter", "Bytes of the archives stored.");
  out << "zav_stored_bytes_total " << stored_bytes_ << '\n';
  head("zav_uploads_in_flight", "gauge", "Uploads being received or checked.");
  out << "zav_uploads_in_flight " << in_flight_.load() << '\n';
  return out.str();
}

}  // namespace zavserve
