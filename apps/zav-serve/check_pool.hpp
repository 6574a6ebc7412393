// The threads that check uploads, each at a lower priority than the threads that answer
// requests, so that the date, health and the page stay quick while the checks use every
// core. Uploads wait their turn in order; each thread has a number
// of its own (0, 1, ...), for the work folder it alone uses.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zavserve {

class CheckPool {
 public:
  explicit CheckPool(unsigned threads);
  ~CheckPool();
  CheckPool(const CheckPool&) = delete;
  CheckPool& operator=(const CheckPool&) = delete;

  unsigned size() const { return static_cast<unsigned>(threads_.size()); }

  // Runs `work` on one of the pool's threads, with that thread's number, and returns when it
  // is done (throwing what it threw).
  void Run(const std::function<void(unsigned)>& work);

 private:
  struct Job {
    const std::function<void(unsigned)>* work;
    bool done = false;
    std::exception_ptr failure;
  };
  void Work(unsigned number);

  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  std::deque<Job*> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace zavserve
