// What the units of the payment writer share (writing/payment_writer.hpp is its surface):
// placing fields, the amount columns of a worker, the limits of the totals, the totals of
// the first walk, the employer as the records hold it, and one builder per record type
// (header_02.cpp to validation_06.cpp, laid out as the checks are).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "records/layout.hpp"
#include "records/record_03.hpp"
#include "writing/payment_writer.hpp"

namespace zav::writing {

// RuntimeFailure(5) with `why`: the plan cannot be laid out.
[[noreturn]] void Refuse(const std::string& why);

// ---- Placing fields ----

// `text` at the field, blank-padded on the right.
inline void PutText(std::string& record, const Field& f, std::string_view text) {
  if (text.size() > static_cast<std::size_t>(f.length)) {
    Refuse(std::string(f.name) + " is longer than " + std::to_string(f.length) + " characters");
  }
  std::fill_n(record.begin() + f.start - 1, f.length, ' ');
  std::copy(text.begin(), text.end(), record.begin() + f.start - 1);
}

// `v` at the field in zero-padded digits, a negative with "-" in front of its digits.
inline void PutNumber(std::string& record, const Field& f, std::int64_t v) {
  char* const first = record.data() + f.start - 1;
  char* p = first + f.length;
  const bool negative = v < 0;
  std::uint64_t u = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  const char* const stop = first + (negative ? 1 : 0);
  while (p > stop) {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  }
  if (u != 0 || p != stop) Refuse(std::string(f.name) + " does not fit: " + std::to_string(v));
  if (negative) *first = '-';
}

// ---- The sixteen amounts of a worker, in record order ----

namespace col {
enum Column : int {
  kCuotaFija,
  kCuotaExcedente,
  kPrestacionesDinero,
  kGastosMedicos,
  kRiesgosTrabajo,
  kInvalidezVida,
  kGuarderias,
  kRecargosSeguros,
  kRetiro,
  kRecargosRetiro,
  kCesantiaPatronal,
  kCesantiaTrabajador,
  kRecargosCesantia,
  kAportacionVoluntaria,
  kAportacionVivienda,
  kAmortizacionCredito,
  kCount
};
}  // namespace col

struct AmountColumn {
  std::int64_t PaymentWorker::*amount;
  Field field;
};

inline constexpr AmountColumn kAmounts[col::kCount] = {
    {&PaymentWorker::cuota_fija, record03::kCuotaFija},
    {&PaymentWorker::cuota_excedente, record03::kCuotaExcedente},
    {&PaymentWorker::prestaciones_dinero, record03::kPrestacionesDinero},
    {&PaymentWorker::gastos_medicos, record03::kGastosMedicos},
    {&PaymentWorker::riesgos_trabajo, record03::kRiesgosTrabajo},
    {&PaymentWorker::invalidez_vida, record03::kInvalidezVida},
    {&PaymentWorker::guarderias, record03::kGuarderias},
    {&PaymentWorker::recargos_seguros, record03::kRecargosSeguros},
    {&PaymentWorker::retiro, record03::kRetiro},
    {&PaymentWorker::recargos_retiro, record03::kRecargosRetiro},
    {&PaymentWorker::cesantia_patronal, record03::kCesantiaPatronal},
    {&PaymentWorker::cesantia_trabajador, record03::kCesantiaTrabajador},
    {&PaymentWorker::recargos_cesantia, record03::kRecargosCesantia},
    {&PaymentWorker::aportacion_voluntaria, record03::kAportacionVoluntaria},
    {&PaymentWorker::aportacion_vivienda, record03::kAportacionVivienda},
    {&PaymentWorker::amortizacion_credito, record03::kAmortizacionCredito},
};

// ---- Limits of the fields the totals go into ----

inline constexpr std::int64_t kMaxDaysTotal = 9'999'999;        // header, 7 digits
inline constexpr std::int64_t kMaxSummaryAmount = 999'999'999;  // summary, 9 digits
inline constexpr int kMaxDiskettes = 10;  // the last part's number is one digit

// What a period lets a worker carry: the odd-month rule keeps retirement, old-age and
// housing amounts to even months (and 13, 14); the 13/14 rule keeps voluntary and housing
// amounts out of periods 13 and 14.
struct PeriodRules {
  bool rcv;
  bool voluntary;
  bool housing;
  bool bimester;
};

inline PeriodRules RulesFor(int month) {
  const bool even = month % 2 == 0;
  const bool special = month == 13 || month == 14;
  return {even || month >= 13, !special, (even || month >= 13) && !special, even};
}

// ---- Totals: the first walk over the workers ----

struct Totals {
  std::int64_t workers = 0;
  std::int64_t days = 0;
  std::array<std::int64_t, col::kCount> sums{};
  std::int64_t vivienda_con_credito = 0;  // housing contributions of workers with a credit
  std::int64_t complementarias = 0;       // daily salaries of the type-10 movements
  std::int64_t entries = 0;               // movement entries
  std::int64_t movement_records = 0;
  std::int64_t records = 0;
};

// The employer identifiers as the records hold them.
struct Employer {
  std::string registro;
  std::string rfc;
  std::string folio;
  std::string periodo;  // year and month, 6 digits
};

// Refuses identifiers of the wrong length.
Employer CheckedEmployer(const PaymentPlan& plan);
void PutEmployer(std::string& r, const Employer& e, const Field& registro, const Field& rfc,
                 const Field& periodo);

// The summary amounts (cents), as the summary record carries them.
struct Summary {
  std::int64_t s[32] = {};  // indexed like SumaS6..SumaS31
};

Summary SummaryOf(const PaymentPlan& plan, const Totals& t);

// ---- Records, one builder a type ----

void BuildHeader(std::string& r, const PaymentPlan& plan, const Employer& e, const Totals& t);
void BuildWorker(std::string& r, const Employer& e, std::int64_t k, const PaymentWorker& w);
// Movement entry `slot` (0 to 6) of a movement record.
void PutEntry(std::string& r, int slot, std::string_view nss, const PaymentMovement& m);
// A movement record of the employer with blank entries.
void StartMovements(std::string& r, const Employer& e);
void BuildSummary(std::string& r, const Employer& e, const Summary& m);
void BuildValidation(std::string& r, const PaymentPlan& plan, const Employer& e, const Summary& m,
                     const Totals& t);

}  // namespace zav::writing
