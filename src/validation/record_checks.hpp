// The branches of the record checker, one per record type. Each checks its record's
// fields in a fixed order, stores what later stages need in the control, and returns
// at the first failed check with that check's message number (0: accepted). Values
// stored before a failure stay. In a diagnosis (a ProblemSink set in the control's working
// values, validation/problems.hpp) each failed check is noted instead and the branch goes
// on with the next field.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"

namespace zav {

std::int16_t CheckHeaderRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea);
std::int16_t CheckWorkerRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea);
std::int16_t CheckMovementRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea);
std::int16_t CheckSummaryRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea);
std::int16_t CheckValidationRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea);

// Adds an amount to a double running total. A sum past the range of a double is an overflow,
// a run-time failure, and leaves the total as it was.
inline void AddToDouble(double& total, double amount) {
  const double sum = total + amount;
  if (!std::isfinite(sum)) throw RuntimeFailure(err::kOverflow);
  total = sum;
}

}  // namespace zav
