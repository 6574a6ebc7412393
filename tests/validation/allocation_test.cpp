// A validation run allocates nothing per record, whether the check value is folded beside the
// record checks (long files) or with them (short ones).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "support/payment_run.hpp"
#include "validation/file_driver.hpp"

namespace {

std::atomic<long> allocations{0};

}  // namespace

// Counted for the whole program; every unaligned form is replaced, so that one of them
// frees whatever one of them allocates (a sanitizer would see a mismatch otherwise).
void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return ::operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace zav::testing {
namespace {

class Allocations : public PaymentRun {
 protected:
  // Allocations made by a verdict-only run over a generated file of `workers` workers.
  long RunOver(std::int64_t workers) {
    const PaymentPlan plan = SamplePaymentPlan(workers, 11);
    Bring(FileOf(plan), "P0404268.ZAV", WorkFileName(plan));
    const long before = allocations.load();
    const std::string result = RunValidation(z_, "17/05/2004", {.pack = false});
    const long made = allocations.load() - before;
    EXPECT_EQ(result, "0") << z_.working().last_message;
    return made;
  }
};

TEST_F(Allocations, NoneGrowWithTheRecords) {
  for (const std::int64_t workers : {1000, 6000}) {
    const long once = RunOver(workers), twice = RunOver(2 * workers);
    EXPECT_LT(twice - once, 20) << workers << " workers: " << once << ", twice: " << twice;
  }
}

}  // namespace
}  // namespace zav::testing
