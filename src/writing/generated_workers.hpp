// The workers of a plan, one at a time: the explicit ones first, then those generated,
// each a pure function of the plan's seed and the worker's number (so the writer walks
// them twice without holding them).
#pragma once

#include <cstdint>

#include "writing/payment_writer.hpp"
#include "writing/record_builders.hpp"

namespace zav::writing {

class Random;

class Generator {
 public:
  Generator(const PaymentPlan& plan, std::int64_t explicit_days)
      : spec_(plan), rules_(RulesFor(plan.month)), count_(plan.generated_workers) {
    const std::int64_t all = static_cast<std::int64_t>(plan.workers.size()) + count_;
    // Two worker sums share one summary field at most (old age: employer and worker
    // shares), so each amount is kept to half of what the field holds per worker.
    cap_ = all > 0 ? kMaxSummaryAmount / (2 * all) : kMaxSummaryAmount;
    day_budget_ = std::max<std::int64_t>(0, kMaxDaysTotal - explicit_days);
  }

  // Generated worker `g` (0-based) into `w`, reusing its storage.
  void Make(std::int64_t g, PaymentWorker& w) const;

 private:
  std::int64_t Amount(Random& rng, std::int64_t natural) const;

  // Most workers contribute the whole month; when that would overflow the header's days
  // total, the days that fit are spread evenly over the workers.
  int Days(std::int64_t g, Random& rng) const;

  const PaymentPlan& spec_;
  PeriodRules rules_;
  std::int64_t count_;
  std::int64_t cap_;
  std::int64_t day_budget_;
};

class WorkerWalk {
 public:
  WorkerWalk(const PaymentPlan& plan, std::int64_t explicit_days)
      : spec_(plan), generator_(plan, explicit_days) {}

  std::int64_t size() const {
    return static_cast<std::int64_t>(spec_.workers.size()) + spec_.generated_workers;
  }

  const PaymentWorker& operator[](std::int64_t k) {
    const auto explicit_count = static_cast<std::int64_t>(spec_.workers.size());
    if (k < explicit_count) return spec_.workers[static_cast<std::size_t>(k)];
    generator_.Make(k - explicit_count, scratch_);
    return scratch_;
  }

 private:
  const PaymentPlan& spec_;
  Generator generator_;
  PaymentWorker scratch_;
};

}  // namespace zav::writing
