#include "check_pool.hpp"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

namespace zavserve {

namespace {

constexpr int kCheckNiceness = 10;

}  // namespace

CheckPool::CheckPool(unsigned threads) {
  for (unsigned i = 0; i < std::max(1u, threads); ++i) {
    threads_.emplace_back([this, i] { Work(i); });
  }
}

CheckPool::~CheckPool() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void CheckPool::Run(const std::function<void(unsigned)>& work) {
  Job job{&work, false, nullptr};
  std::unique_lock<std::mutex> lock(mutex_);
  jobs_.push_back(&job);
  wake_.notify_one();
  finished_.wait(lock, [&] { return job.done; });
  if (job.failure) std::rethrow_exception(job.failure);
}

void CheckPool::Work(unsigned number) {
  // Linux gives each thread its own niceness.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kCheckNiceness);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    Job* job = jobs_.front();
    jobs_.pop_front();
    lock.unlock();
    try {
      (*job->work)(number);
    } catch (...) {
      job->failure = std::current_exception();
    }
    lock.lock();
    job->done = true;
    finished_.notify_all();
  }
}

}  // namespace zavserve
