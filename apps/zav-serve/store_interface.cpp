#include "store_interface.hpp"

#include <condition_variable>
#include <thread>

#include "access_log.hpp"
#include "pg_store.hpp"
#include "store.hpp"

namespace zavserve {

using json = nlohmann::ordered_json;

zav::UploadAnswer Unavailable() {
  return zav::Refusal(503, "store_unavailable", "the server cannot reach its store now");
}

json StoredReceipt::Json() const {
  return {{"receipt", receipt},
          {"archive_removed", archive_removed ? json(*archive_removed) : json(nullptr)}};
}

std::string ArchivePeriod(std::string_view name) {
  // ....p<YYYYMM>.e999.zip
  if (!zav::IsArchiveName(name)) return "";
  return std::string(name.substr(name.size() - 15, 6));
}

bool IsPeriod(std::string_view text) {
  if (text.size() != 6) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const int month = (text[4] - '0') * 10 + (text[5] - '0');
  return month >= 1 && month <= 12;
}

std::uint64_t ReceiptStore::Used(const std::string& identity, const std::string& day) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = used_.find(identity);
  return found != used_.end() && found->second.first == day ? found->second.second : 0;
}

void ReceiptStore::Charge(const std::string& identity, const std::string& day,
                          std::uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(mutex_);
  auto& [charged_day, used] = used_[identity];
  if (charged_day != day) {
    charged_day = day;
    used = 0;
  }
  used += bytes;
}

struct RetentionLoop::State {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::thread thread;
};

RetentionLoop::RetentionLoop(ReceiptStore& store, int days) : state_(std::make_unique<State>()) {
  state_->thread = std::thread([&store, days, state = state_.get()] {
    std::unique_lock<std::mutex> lock(state->mutex);
    while (!state->stopping) {
      lock.unlock();
      try {
        const int removed = store.RemoveArchivesOlderThan(days);
        if (removed > 0) {
          LogNote("removed " + std::to_string(removed) + " archives stored more than " +
                  std::to_string(days) + " days ago; their receipts stay");
        }
      } catch (const std::exception& e) {
        LogNote(std::string("could not remove old archives now: ") + e.what());
      }
      lock.lock();
      state->wake.wait_for(lock, std::chrono::hours(1), [state] { return state->stopping; });
    }
  });
}

RetentionLoop::~RetentionLoop() {
  {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_all();
  state_->thread.join();
}

bool IsDatabase(std::string_view store) {
  return store.starts_with("postgresql:") || store.starts_with("postgres:");
}

std::unique_ptr<ReceiptStore> OpenStore(const std::string& store, const std::filesystem::path& dir,
                                        const std::filesystem::path& work) {
  if (store.empty() || store == "folder") return std::make_unique<UploadStore>(dir, work);
  if (!IsDatabase(store)) {
    throw std::runtime_error("--store " + store +
                             " names no store: a PostgreSQL URI (postgresql://...) or folder");
  }
  return std::make_unique<PgStore>(store, work);
}

}  // namespace zavserve
