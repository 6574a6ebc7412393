// Writing payment files: from a description of an employer, a period and its workers, a
// file whose records, totals, size field and check value agree with each other the way
// the validation run demands, laid out with the record tables of record_02..record_06.
//
// - Records come in the order the checks expect: the header, one worker record per
//   worker, the movement records (seven entries each, at least one record even when no
//   worker moved), the summary and the validation record.
// - Every total is worked out from the workers: the summary carries the sums of the
//   worker amounts, the header the day and worker counts, the validation record the four
//   totals to deposit, the file size and the check value folded over every record.
// - Generated workers follow the period rules: retirement, old-age and housing amounts
//   only in even months up to 12, voluntary and housing amounts never in periods 13 and
//   14, and amounts and days small enough that every total fits its field. Explicit
//   workers are written as given: their amounts are the caller's.
// - The writer lays out what the plan says and judges nothing the control judges (a bad
//   period, deadline or version, a late payment, a payment of zero, no workers at all are
//   written as asked). It refuses, with RuntimeFailure(5), only what cannot be laid out:
//   identifiers of the wrong length, numbers too wide for their fields, a diskette split
//   that cannot be made.
// - Writing streams: the workers are walked once for the totals and once more for the
//   records (generated workers are a pure function of seed and number), so memory stays
//   flat whatever the number of workers.
// - All amounts are whole cents.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

struct PaymentMovement {
  int type = 10;            // tipo de movimiento o incidencia; the salaries of type 10 are
                            // the complementary contributions of the summary
  int days = 0;             // días de incidencia
  std::int64_t salary = 0;  // salario diario integrado, cents
};

struct PaymentWorker {
  std::string nss;             // número de seguridad social, 11 characters; empty: the
                               // worker's number in the file, zero-padded
  std::string name;            // up to 50 characters
  std::string housing_credit;  // INFONAVIT credit number (10 digits), empty for none; the
                               // housing contribution of a worker with a credit goes to
                               // credit amortisation, otherwise to the individual account
  std::int64_t salary = 0;     // último salario diario integrado, cents
  int days = 30;               // días cotizados en el mes (the header's days add these up)
  int bimester_days = 0;       // días cotizados en el bimestre

  // Amounts, in the order of the record.
  std::int64_t cuota_fija = 0;
  std::int64_t cuota_excedente = 0;
  std::int64_t prestaciones_dinero = 0;
  std::int64_t gastos_medicos = 0;
  std::int64_t riesgos_trabajo = 0;
  std::int64_t invalidez_vida = 0;
  std::int64_t guarderias = 0;
  std::int64_t recargos_seguros = 0;  // update and surcharges of the four insurances
  std::int64_t retiro = 0;
  std::int64_t recargos_retiro = 0;
  std::int64_t cesantia_patronal = 0;
  std::int64_t cesantia_trabajador = 0;
  std::int64_t recargos_cesantia = 0;
  std::int64_t aportacion_voluntaria = 0;
  std::int64_t aportacion_vivienda = 0;
  std::int64_t amortizacion_credito = 0;

  std::vector<PaymentMovement> movements;
};

struct PaymentPlan {
  std::string registro_patronal = "A1234567890";  // 11 characters
  std::string rfc = "ABCD010101XY1";  // 13 characters (12 are stored with a leading blank)
  std::string folio = "000001";       // 6 digits
  std::string nombre = "PATRON DE PRUEBA SA DE CV";  // up to 50 characters
  int year = 2004;
  int month = 4;  // period month, 1 to 14
  int deadline_year = 2004, deadline_month = 5, deadline_day = 17;
  std::string version = "W301";  // up to 4 characters

  std::vector<PaymentWorker> workers;  // explicit workers, or:
  std::int64_t generated_workers = 0;  // that many workers generated from `seed`, after
  std::uint32_t seed = 1;              // the explicit ones
  int diskettes = 1;                   // the count the validation record declares

  // Summary amounts no worker carries (cents): INFONAVIT fines, FUNDEMEX donations.
  std::int64_t multas = 0;
  std::int64_t donativos = 0;
};

// A plan with `workers` generated workers and the defaults above: period April 2004,
// deadline 17 May 2004 (validate with a server date up to that day).
PaymentPlan SamplePaymentPlan(std::int64_t workers, std::uint32_t seed);

// Sets the period and deadline of a payment made on time on `today`: the period is the
// month before today's, due the 17th of today's month, or of the next month once today is
// past that day.
void SetPeriodPaidOn(PaymentPlan& plan, std::chrono::year_month_day today);

// A work name that passes the work-name check: a letter, the last two digits of the
// period year, the period month, characters 3, 7 and 9 of the registration number, then
// ".ZAV" (12 characters: "P0404268.ZAV" for the defaults).
std::string WorkFileName(const PaymentPlan& plan);

// The number of records the file of `plan` has, and its size in bytes (295 a record).
std::int64_t PaymentRecordCount(const PaymentPlan& plan);

// Writes the file to `out`, record after record, in constant memory. Throws
// RuntimeFailure(5) for a plan that cannot be laid out (before anything is written), and
// RuntimeFailure(57) when the stream fails.
void WritePaymentFile(const PaymentPlan& plan, std::ostream& out);

// Writes the file at a native path: whole or not at all (written beside it, then renamed
// into place).
void WritePaymentFile(const PaymentPlan& plan, const std::filesystem::path& file);

// Writes the file split over `parts` (1 to 10) diskette parts in the native `folder`,
// named `base_name` (8 characters) & ".ZA0", ".ZA1", ..., with the diskette count of the
// validation record set to `parts`. Every part but the last ends with a worker, movement
// or summary record, and only the last holds the validation record, which is how the
// diskette assembly recognises the last diskette. The parts are put in place together
// when all are written. Returns their paths, in order.
std::vector<std::filesystem::path> WriteDiskettes(const PaymentPlan& plan,
                                                  const std::filesystem::path& folder,
                                                  const std::string& base_name, int parts);

}  // namespace zav

namespace zav {

// Files that break on purpose, so that payroll programs can test each refusal: one field
// of an otherwise valid file written over (the size and check value resealed unless the
// break is of those), for every message one such edit reaches; a message that needs the
// file's amounts to agree with each other in a new way takes further edits. A message may
// have more than one way; which one a file takes its message from depends on its period,
// so a host tries them in order and keeps the first the control refuses with that message.
enum class BreakRecord { kHeader, kWorker, kMovement, kSummary, kValidation };

struct BreakEdit {
  BreakRecord record;
  int start;  // 1-based position in the record
  std::string_view text;
  bool every = false;  // every record of its kind, not only the first
};

struct FileBreak {
  std::int16_t message;
  BreakRecord record;  // the first record of its kind
  int start;           // 1-based position in the record
  std::string_view text;
  bool reseal;
  std::span<const BreakEdit> more = {};  // made after the first, before the reseal
};

// Every break, by message number.
std::span<const FileBreak> FileBreaks();

// The messages FileBreaks reaches, ascending, each once.
std::vector<std::int16_t> BreakableMessages();

// `bytes` (a whole file written from `plan`) with `b` applied.
void ApplyBreak(const FileBreak& b, const PaymentPlan& plan, std::string& bytes);

}  // namespace zav
