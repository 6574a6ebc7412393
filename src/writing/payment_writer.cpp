#include "writing/payment_writer.hpp"

#include <algorithm>
#include <array>
#include <fstream>
#include <memory>
#include <optional>
#include <string_view>

#include "basic/runtime_failure.hpp"
#include "platform/file_system.hpp"
#include "records/checksum.hpp"
#include "records/layout.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "records/record_04.hpp"
#include "records/record_05.hpp"
#include "records/record_06.hpp"

namespace zav {

namespace {

[[noreturn]] void Refuse(const std::string& why) {
  throw RuntimeFailure(err::kInvalidCall, "Invalid procedure call or argument: " + why);
}

// ---- Placing fields ----

// `text` at the field, blank-padded on the right.
void PutText(std::string& record, const Field& f, std::string_view text) {
  if (text.size() > static_cast<std::size_t>(f.length)) {
    Refuse(std::string(f.name) + " is longer than " + std::to_string(f.length) + " characters");
  }
  std::fill_n(record.begin() + f.start - 1, f.length, ' ');
  std::copy(text.begin(), text.end(), record.begin() + f.start - 1);
}

// `v` at the field in zero-padded digits, a negative with "-" in front of its digits.
void PutNumber(std::string& record, const Field& f, std::int64_t v) {
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

constexpr AmountColumn kAmounts[col::kCount] = {
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

constexpr std::int64_t kMaxDaysTotal = 9'999'999;        // header, 7 digits
constexpr std::int64_t kMaxSummaryAmount = 999'999'999;  // summary, 9 digits
constexpr int kMaxDiskettes = 10;                        // the last part's number is one digit

// What a period lets a worker carry: the odd-month rule keeps retirement, old-age and
// housing amounts to even months (and 13, 14); the 13/14 rule keeps voluntary and housing
// amounts out of periods 13 and 14.
struct PeriodRules {
  bool rcv;
  bool voluntary;
  bool housing;
  bool bimester;
};

PeriodRules RulesFor(int month) {
  const bool even = month % 2 == 0;
  const bool special = month == 13 || month == 14;
  return {even || month >= 13, !special, (even || month >= 13) && !special, even};
}

// ---- Generated workers: a pure function of the seed and the worker's number ----

class Random {
 public:
  Random(std::uint32_t seed, std::int64_t n)
      : state_(static_cast<std::uint64_t>(seed) * 0x9E3779B97F4A7C15ULL ^
               static_cast<std::uint64_t>(n) * 0xD1B54A32D192ED03ULL) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // 0 to `top`, both included.
  std::int64_t Upto(std::int64_t top) {
    return top <= 0 ? 0 : static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(top + 1));
  }
  bool OneIn(int n) { return Next() % static_cast<std::uint64_t>(n) == 0; }

 private:
  std::uint64_t state_;
};

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
  void Make(std::int64_t g, PaymentWorker& w) const {
    Random rng(spec_.seed, g);
    w.nss.clear();
    w.name = "TRABAJADOR ";
    w.name += std::to_string(g + 1);
    const bool credit = rules_.housing && rng.OneIn(5);
    w.housing_credit.clear();
    if (credit) w.housing_credit = std::to_string(1'000'000'000 + g % 1'000'000'000);
    w.salary = 5'000 + rng.Upto(195'000);
    w.days = Days(g, rng);
    w.bimester_days = rules_.bimester ? std::min(2 * w.days, 62) : 0;

    w.cuota_fija = 1 + Amount(rng, 50'000 - 1);
    w.cuota_excedente = Amount(rng, 20'000);
    w.prestaciones_dinero = Amount(rng, 10'000);
    w.gastos_medicos = Amount(rng, 15'000);
    w.riesgos_trabajo = Amount(rng, 30'000);
    w.invalidez_vida = Amount(rng, 25'000);
    w.guarderias = Amount(rng, 10'000);
    w.recargos_seguros = 0;  // paid on time: no update, no surcharges
    w.retiro = rules_.rcv ? Amount(rng, 40'000) : 0;
    w.recargos_retiro = 0;
    w.cesantia_patronal = rules_.rcv ? Amount(rng, 60'000) : 0;
    w.cesantia_trabajador = rules_.rcv ? Amount(rng, 25'000) : 0;
    w.recargos_cesantia = 0;
    w.aportacion_voluntaria = rules_.voluntary && rng.OneIn(10) ? Amount(rng, 100'000) : 0;
    w.aportacion_vivienda = rules_.housing ? Amount(rng, 100'000) : 0;
    w.amortizacion_credito = credit ? Amount(rng, 150'000) : 0;

    w.movements.clear();
    if (rng.OneIn(8)) {
      static constexpr int kTypes[] = {10, 11, 12};
      PaymentMovement m;
      m.type = kTypes[rng.Upto(2)];
      m.days = m.type == 10 ? 0 : static_cast<int>(1 + rng.Upto(std::max(0, w.days - 1)));
      m.salary = m.type == 10 ? Amount(rng, 200'000) : 0;
      w.movements.push_back(m);
    }
  }

 private:
  std::int64_t Amount(Random& rng, std::int64_t natural) const {
    return rng.Upto(std::min(natural, cap_));
  }

  // Most workers contribute the whole month; when that would overflow the header's days
  // total, the days that fit are spread evenly over the workers.
  int Days(std::int64_t g, Random& rng) const {
    if (count_ * 30 <= day_budget_) {
      return rng.OneIn(4) ? static_cast<int>(1 + rng.Upto(29)) : 30;
    }
    return static_cast<int>((g + 1) * day_budget_ / count_ - g * day_budget_ / count_);
  }

  const PaymentPlan& spec_;
  PeriodRules rules_;
  std::int64_t count_;
  std::int64_t cap_;
  std::int64_t day_budget_;
};

// ---- The workers of a plan, explicit ones first, one at a time ----

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

Employer CheckedEmployer(const PaymentPlan& plan) {
  Employer e;
  if (plan.registro_patronal.size() != 11) Refuse("the registro patronal must have 11 characters");
  e.registro = plan.registro_patronal;
  if (plan.rfc.size() == 12) {
    e.rfc = " " + plan.rfc;
  } else if (plan.rfc.size() == 13) {
    e.rfc = plan.rfc;
  } else {
    Refuse("the RFC must have 12 or 13 characters");
  }
  if (plan.folio.size() != 6) Refuse("the folio must have 6 characters");
  e.folio = plan.folio;
  e.periodo = std::string(6, ' ');
  PutNumber(e.periodo, Field{1, 4, "a\361o del periodo"}, plan.year);
  PutNumber(e.periodo, Field{5, 2, "mes del periodo"}, plan.month);
  return e;
}

void PutEmployer(std::string& r, const Employer& e, const Field& registro, const Field& rfc,
                 const Field& periodo) {
  PutText(r, registro, e.registro);
  PutText(r, rfc, e.rfc);
  PutText(r, periodo, e.periodo);
}

// ---- Records ----

void BuildWorker(std::string& r, const Employer& e, std::int64_t k, const PaymentWorker& w) {
  using namespace record03;
  r.assign(kRecordLength, ' ');
  PutText(r, kTipo, "03");
  PutEmployer(r, e, kRegistroPatronal, kRfc, kPeriodo);
  if (w.nss.empty()) {
    PutNumber(r, kSeguridadSocial, k + 1);
  } else {
    if (w.nss.size() != 11) Refuse("a worker's NSS must have 11 characters");
    PutText(r, kSeguridadSocial, w.nss);
  }
  PutText(r, kCreditoVivienda, w.housing_credit);
  PutNumber(r, kMovimientos, static_cast<std::int64_t>(w.movements.size()));
  PutText(r, kNombre, w.name);
  PutNumber(r, kUltimoSalario, w.salary);
  PutText(r, kTipoTrabajador, "1");
  PutText(r, kJornada, "0");
  PutNumber(r, kDiasCotizadosMes, w.days);
  PutNumber(r, kDiasIncapacidadMes, 0);
  PutNumber(r, kDiasAusentismoMes, 0);
  PutNumber(r, kDiasCotizadosBimestre, w.bimester_days);
  PutNumber(r, kDiasIncapacidadBimestre, 0);
  PutNumber(r, kDiasAusentismoBimestre, 0);
  for (const AmountColumn& c : kAmounts) PutNumber(r, c.field, w.*c.amount);
}

// Movement entry `slot` (0 to 6) of a movement record.
void PutEntry(std::string& r, int slot, std::string_view nss, const PaymentMovement& m) {
  using namespace record04;
  PutText(r, EntryField(slot, kSeguridadSocial), nss);
  PutNumber(r, EntryField(slot, kTipoMovimiento), m.type);
  PutNumber(r, EntryField(slot, kDiasIncidencia), m.days);
  PutNumber(r, EntryField(slot, kSalarioDiario), m.salary);
}

void StartMovements(std::string& r, const Employer& e) {
  r.assign(kRecordLength, ' ');
  PutText(r, record04::kTipo, "04");
  PutText(r, record04::kRegistroPatronal, e.registro);
}

void BuildHeader(std::string& r, const PaymentPlan& plan, const Employer& e, const Totals& t) {
  using namespace record02;
  r.assign(kRecordLength, ' ');
  PutText(r, kTipo, "02");
  PutEmployer(r, e, kRegistroPatronal, kRfc, kPeriodo);
  PutText(r, kFolio, e.folio);
  PutText(r, kRazonSocial, plan.nombre);
  PutText(r, kDomicilio, "AV. PASEO DE LA REFORMA 100");
  PutText(r, kDelegacionDomicilio, "CUAUHTEMOC");
  PutText(r, kEntidadFederativa, "09");
  PutText(r, kCodigoPostal, "06600");
  PutText(r, kTelefono, "5555555555");
  PutText(r, kPrimaRiesgo, "0250000");
  PutText(r, kDelegacion, "35");
  PutText(r, kSubdelegacion, "01");
  PutText(r, kAreaGeografica, "A");
  PutText(r, kPorcentajeAportacion, "05");
  PutText(r, kConvenioReembolso, "N");
  PutText(r, kTipoCotizacion, "1");
  PutNumber(r, kTotalDias, t.days);
  PutNumber(r, kTotalTrabajadores, t.workers);
}

// The summary amounts (cents), as the summary record carries them.
struct Summary {
  std::int64_t s[32] = {};  // indexed like SumaS6..SumaS31
};

Summary SummaryOf(const PaymentPlan& plan, const Totals& t) {
  Summary m;
  auto& s = m.s;
  const auto& T = t.sums;
  for (int c = col::kCuotaFija; c <= col::kGuarderias; ++c)
    s[8 + c] = T[static_cast<std::size_t>(c)];
  for (int c = 8; c <= 14; ++c) s[15] += s[c];
  // Update and surcharges of the four insurances: reported half and half.
  s[16] = T[col::kRecargosSeguros] / 2;
  s[17] = T[col::kRecargosSeguros] - s[16];
  s[18] = T[col::kRetiro];
  s[19] = T[col::kCesantiaPatronal] + T[col::kCesantiaTrabajador];
  s[20] = s[18] + s[19];
  s[21] = T[col::kRecargosRetiro];
  s[22] = T[col::kRecargosCesantia];
  s[23] = T[col::kAportacionVoluntaria];
  s[24] = T[col::kAportacionVivienda] - t.vivienda_con_credito;
  s[25] = t.vivienda_con_credito;
  s[26] = T[col::kAmortizacionCredito];
  s[27] = 0;
  s[28] = 0;
  s[29] = t.complementarias;
  s[30] = plan.multas;
  s[31] = plan.donativos;
  return m;
}

void BuildSummary(std::string& r, const Employer& e, const Summary& m) {
  using namespace record05;
  static constexpr Field kAmountFields[] = {
      kCuotaFija,
      kCuotaExcedente,
      kPrestacionesDinero,
      kGastosMedicos,
      kRiesgosTrabajo,
      kInvalidezVida,
      kGuarderias,
      kSubtotal4Seguros,
      kActualizacion4Seguros,
      kRecargos4Seguros,
      kRetiro,
      kCesantiaVejez,
      kSubtotalRcv,
      kActualizacionRcv,
      kRecargosRcv,
      kVoluntarias,
      kViviendaCuenta,
      kViviendaAmortizacion,
      kAmortizacionCredito,
      kActualizacionVivienda,
      kRecargosVivienda,
      kComplementarias,
      kMultasInfonavit,
      kDonativosFundemex,
  };  // SumaS8 .. SumaS31
  r.assign(kRecordLength, ' ');
  PutText(r, kTipo, "05");
  PutEmployer(r, e, kRegistroPatronal, kRfc, kPeriodo);
  PutText(r, kFolio, e.folio);
  PutNumber(r, kTasaActualizacion, 0);
  PutNumber(r, kTasaRecargos, 0);
  for (int i = 0; i < 24; ++i) PutNumber(r, kAmountFields[i], m.s[8 + i]);
}

void BuildValidation(std::string& r, const PaymentPlan& plan, const Employer& e, const Summary& m,
                     const Totals& t) {
  using namespace record06;
  const auto& s = m.s;
  r.assign(kRecordLength, ' ');
  PutText(r, kTipo, "06");
  PutEmployer(r, e, kRegistroPatronal, kRfc, kPeriodo);
  PutText(r, kFolio, e.folio);
  PutNumber(r, kSumaTasas, 0);
  PutNumber(r, kTamanoArchivo, t.records * static_cast<std::int64_t>(kRecordLength));
  PutNumber(r, Field{kFechaLimite.start, 4, "a\361o l\355mite"}, plan.deadline_year);
  PutNumber(r, Field{kFechaLimite.start + 4, 2, "mes l\355mite"}, plan.deadline_month);
  PutNumber(r, Field{kFechaLimite.start + 6, 2, "d\355a l\355mite"}, plan.deadline_day);
  PutNumber(r, kDiscos, plan.diskettes);
  PutText(r, kVersion, plan.version);
  PutNumber(r, kTotalImss4Seguros, s[15] + s[16] + s[17]);
  PutNumber(r, kTotalImssRcv, s[20] + s[21] + s[22] + s[23] + s[29]);
  PutNumber(r, kTotalInfonavitAportacion, s[24]);
  PutNumber(r, kTotalInfonavitAmortizacion, s[25] + s[26] + s[27] + s[28] + s[30] + s[31]);
}

// ---- Where the records go ----

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void Put(std::string_view record) = 0;
};

class StreamSink : public RecordSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  void Put(std::string_view record) override {
    out_.write(record.data(), static_cast<std::streamsize>(record.size()));
    if (!out_) throw RuntimeFailure(err::kDeviceIo);
  }

 private:
  std::ostream& out_;
};

// ---- The writer: totals first, then the records in order ----

class Writer {
 public:
  explicit Writer(const PaymentPlan& plan)
      : spec_(plan), employer_(CheckedEmployer(plan)), walk_(plan, ExplicitDays(plan)) {
    if (plan.generated_workers < 0) Refuse("a negative number of generated workers");
    Count();
    // Everything but the worker and movement records depends only on the totals: built
    // here, so that a plan that cannot be laid out fails before anything is written.
    summary_ = SummaryOf(plan, totals_);
    BuildHeader(header_, plan, employer_, totals_);
    BuildSummary(summary_record_, employer_, summary_);
    BuildValidation(validation_, plan, employer_, summary_, totals_);
  }

  std::int64_t records() const { return totals_.records; }

  void Write(RecordSink& sink) {
    RunningCheck check;
    const auto put = [&](std::string_view record) {
      check.Fold(record);
      sink.Put(record);
    };
    put(header_);
    std::string r;
    for (std::int64_t k = 0; k < walk_.size(); ++k) {
      BuildWorker(r, employer_, k, walk_[k]);
      put(r);
    }
    StartMovements(r, employer_);
    int slot = 0;
    std::string nss(11, ' ');
    for (std::int64_t k = 0; k < walk_.size(); ++k) {
      const PaymentWorker& w = walk_[k];
      if (w.movements.empty()) continue;
      NssOf(w, k, nss);
      for (const PaymentMovement& m : w.movements) {
        if (slot == kMovementEntryCount) {
          put(r);
          StartMovements(r, employer_);
          slot = 0;
        }
        PutEntry(r, slot++, nss, m);
      }
    }
    put(r);  // the last movement record; a blank one when no worker moved
    put(summary_record_);
    check.Fold(validation_);  // the check value's own positions are not folded
    PutText(validation_, record06::kCheckSum, check.value());
    sink.Put(validation_);
  }

 private:
  static std::int64_t ExplicitDays(const PaymentPlan& plan) {
    std::int64_t days = 0;
    for (const PaymentWorker& w : plan.workers) days += w.days;
    return days;
  }

  static void NssOf(const PaymentWorker& w, std::int64_t k, std::string& nss) {
    if (!w.nss.empty()) {
      nss = w.nss;
      return;
    }
    nss.assign(11, ' ');
    PutNumber(nss, Field{1, 11, "NSS"}, k + 1);
  }

  void Count() {
    Totals& t = totals_;
    t.workers = walk_.size();
    std::string scratch;
    const auto explicit_count = static_cast<std::int64_t>(spec_.workers.size());
    for (std::int64_t k = 0; k < t.workers; ++k) {
      const PaymentWorker& w = walk_[k];
      // An explicit worker is laid out once here, so that a field too wide for its
      // record fails before anything is written; generated ones fit by construction.
      if (k < explicit_count) {
        BuildWorker(scratch, employer_, k, w);
        for (const PaymentMovement& m : w.movements) {
          StartMovements(scratch, employer_);
          PutEntry(scratch, 0, std::string(11, '0'), m);
        }
      }
      t.days += w.days;
      for (int c = 0; c < col::kCount; ++c)
        t.sums[static_cast<std::size_t>(c)] += w.*kAmounts[c].amount;
      if (!w.housing_credit.empty()) t.vivienda_con_credito += w.aportacion_vivienda;
      for (const PaymentMovement& m : w.movements) {
        if (m.type == 10) t.complementarias += m.salary;
      }
      t.entries += static_cast<std::int64_t>(w.movements.size());
    }
    t.movement_records =
        std::max<std::int64_t>(1, (t.entries + kMovementEntryCount - 1) / kMovementEntryCount);
    t.records = 1 + t.workers + t.movement_records + 2;
  }

  const PaymentPlan& spec_;
  Employer employer_;
  WorkerWalk walk_;
  Totals totals_;
  Summary summary_;
  std::string header_, summary_record_, validation_;
};

}  // namespace

PaymentPlan SamplePaymentPlan(std::int64_t workers, std::uint32_t seed) {
  PaymentPlan plan;
  plan.generated_workers = workers;
  plan.seed = seed;
  return plan;
}

void SetPeriodPaidOn(PaymentPlan& plan, std::chrono::year_month_day today) {
  using std::chrono::months;
  const std::chrono::year_month current = today.year() / today.month();
  const std::chrono::year_month period = current - months(1);
  const std::chrono::year_month due =
      today.day() > std::chrono::day(17) ? current + months(1) : current;
  plan.year = static_cast<int>(period.year());
  plan.month = static_cast<int>(static_cast<unsigned>(period.month()));
  plan.deadline_year = static_cast<int>(due.year());
  plan.deadline_month = static_cast<int>(static_cast<unsigned>(due.month()));
  plan.deadline_day = 17;
}

std::string WorkFileName(const PaymentPlan& plan) {
  const Employer e = CheckedEmployer(plan);
  return "P" + e.periodo.substr(2, 4) + e.registro[2] + e.registro[6] + e.registro[8] + ".ZAV";
}

std::int64_t PaymentRecordCount(const PaymentPlan& plan) { return Writer(plan).records(); }

void WritePaymentFile(const PaymentPlan& plan, std::ostream& out) {
  Writer writer(plan);
  StreamSink sink(out);
  writer.Write(sink);
}

void WritePaymentFile(const PaymentPlan& plan, const std::filesystem::path& file) {
  Writer writer(plan);
  PendingFile pending(file);
  {
    std::ofstream out(pending.path(), std::ios::binary | std::ios::trunc);
    if (!out) throw RuntimeFailure(err::kPathFileAccess);
    StreamSink sink(out);
    writer.Write(sink);
    out.close();
    if (!out) throw RuntimeFailure(err::kDeviceIo);
  }
  pending.Commit();
}

std::vector<std::filesystem::path> WriteDiskettes(const PaymentPlan& plan,
                                                  const std::filesystem::path& folder,
                                                  const std::string& base_name, int parts) {
  if (base_name.size() != 8) Refuse("a diskette base name must have 8 characters");
  if (parts < 1 || parts > kMaxDiskettes) Refuse("a file goes on 1 to 10 diskettes");
  PaymentPlan split = plan;
  split.diskettes = parts;
  Writer writer(split);
  const std::int64_t n = writer.records();
  // Every part but the last must end with a record of type 03 to 05, that is a record
  // from 2 to n - 1: at least one such record per cut.
  if (n - 2 < parts - 1) Refuse("too few records for that many diskettes");

  // The last record of each part but the last: as even as the rule allows.
  std::vector<std::int64_t> ends;
  std::int64_t previous = 1;
  for (int k = 0; k + 1 < parts; ++k) {
    std::int64_t end = n * (k + 1) / parts;
    end = std::max({end, previous + 1, static_cast<std::int64_t>(k) + 2});
    end = std::min(end, n - (parts - 1 - k));
    ends.push_back(end);
    previous = end;
  }
  ends.push_back(n);

  std::vector<std::filesystem::path> paths;
  std::vector<std::unique_ptr<PendingFile>> pending;
  for (int k = 0; k < parts; ++k) {
    paths.push_back(folder / (base_name + ".ZA" + std::to_string(k)));
    pending.push_back(std::make_unique<PendingFile>(paths.back()));
  }

  class DisketteSink : public RecordSink {
   public:
    DisketteSink(const std::vector<std::unique_ptr<PendingFile>>& files,
                 const std::vector<std::int64_t>& ends)
        : files_(files), ends_(ends) {}
    void Put(std::string_view record) override {
      if (!out_.is_open()) Open();
      out_.write(record.data(), static_cast<std::streamsize>(record.size()));
      if (!out_) throw RuntimeFailure(err::kDeviceIo);
      if (++written_ == ends_[part_]) {
        Close();
        ++part_;
      }
    }
    void Close() {
      out_.close();
      if (!out_) throw RuntimeFailure(err::kDeviceIo);
    }

   private:
    void Open() {
      out_.open(files_[part_]->path(), std::ios::binary | std::ios::trunc);
      if (!out_) throw RuntimeFailure(err::kPathFileAccess);
    }
    const std::vector<std::unique_ptr<PendingFile>>& files_;
    const std::vector<std::int64_t>& ends_;
    std::ofstream out_;
    std::size_t part_ = 0;
    std::int64_t written_ = 0;
  };

  DisketteSink sink(pending, ends);
  writer.Write(sink);
  for (auto& p : pending) p->Commit();
  return paths;
}

}  // namespace zav
