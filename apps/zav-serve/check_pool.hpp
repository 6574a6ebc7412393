// The threads that check uploads: as many as the machine has cores, each at a lower priority
// than the threads that answer requests, so that the date, health and the page stay quick
// while the checks use every core. Uploads wait their turn in order.
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

  // Runs `work` on one of the pool's threads and returns when it is done (throwing what it
  // threw).
  void Run(const std::function<void()>& work);

 private:
  struct Job {
    const std::function<void()>* work;
    bool done = false;
    std::exception_ptr failure;
  };
  void Work();

  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  std::deque<Job*> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace zavserve
