// The worker record check. Fields are checked in layout order and the first failure
// wins; each field that passes is added to its total at once, so a record that fails
// late keeps the additions of its earlier fields. Within one amount the order is: the
// numeric test, the late-payment rule, the odd-month rule, the period 13/14 rule, then
// the addition. Overflow of a 32-bit total or of a double total is a run-time failure.
#include "records/record_03.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <string_view>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZAV_WIDE_PESOS 1
#endif

#include "basic/conversions.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "validation/field_checks.hpp"
#include "validation/problems.hpp"
#include "validation/record_checks.hpp"

namespace zav {

using namespace record03;

namespace {

// Late-payment rules: a late payment (lgDiasAtraso > 0) may not carry a negative update
// and surcharge. Rule A holds in every month; B and C only in bimester-closing (even)
// months, and C looks at the value rounded to cents.
enum class Late { kNone, kA, kB, kC };

struct AmountCheck {
  Field field;
  std::int16_t not_numeric;  // message when the field is not a 7-character number
  Late late;
  bool odd_month;    // retirement, old-age and housing: only in even months
  bool period_1314;  // voluntary and housing: not in periods 13 and 14
  Variant ZAV::*variant_total;
  double ZAV::*double_total;
};

// Health, work-risk, disability and day-care insurance: totals SumaT18 to SumaT25.
constexpr AmountCheck kInsuranceAmounts[] = {
    {kCuotaFija, 177, Late::kNone, false, false, &ZAV::SumaT18, nullptr},
    {kCuotaExcedente, 178, Late::kNone, false, false, &ZAV::SumaT19, nullptr},
    {kPrestacionesDinero, 179, Late::kNone, false, false, &ZAV::SumaT20, nullptr},
    {kGastosMedicos, 180, Late::kNone, false, false, &ZAV::SumaT21, nullptr},
    {kRiesgosTrabajo, 181, Late::kNone, false, false, &ZAV::SumaT22, nullptr},
    {kInvalidezVida, 182, Late::kNone, false, false, &ZAV::SumaT23, nullptr},
    {kGuarderias, 183, Late::kNone, false, false, &ZAV::SumaT24, nullptr},
    {kRecargosSeguros, 184, Late::kA, false, false, &ZAV::SumaT25, nullptr},
};

// Retirement, old age, voluntary contributions and housing: totals SumaT29 to SumaT36.
constexpr AmountCheck kRetirementAmounts[] = {
    {kRetiro, 188, Late::kNone, true, false, nullptr, &ZAV::SumaT29},
    {kRecargosRetiro, 189, Late::kB, true, false, &ZAV::SumaT30, nullptr},
    {kCesantiaPatronal, 190, Late::kNone, true, false, &ZAV::SumaT31, nullptr},
    {kCesantiaTrabajador, 191, Late::kNone, true, false, &ZAV::SumaT32, nullptr},
    {kRecargosCesantia, 192, Late::kC, true, false, &ZAV::SumaT33, nullptr},
    {kAportacionVoluntaria, 193, Late::kNone, false, true, &ZAV::SumaT34, nullptr},
    {kAportacionVivienda, 194, Late::kNone, true, true, &ZAV::SumaT35, nullptr},
    {kAmortizacionCredito, 195, Late::kNone, true, true, nullptr, &ZAV::SumaT36},
};

struct DaysCheck {
  Field field;
  std::int16_t not_numeric;
  std::int32_t ZAV::*total;  // nullptr: checked, not added up
};

constexpr DaysCheck kMonthDays[] = {
    {kDiasCotizadosMes, 174, &ZAV::SumaT15},
    {kDiasIncapacidadMes, 175, nullptr},
    {kDiasAusentismoMes, 176, nullptr},
};

constexpr DaysCheck kBimesterDays[] = {
    {kDiasCotizadosBimestre, 185, &ZAV::SumaT26},
    {kDiasIncapacidadBimestre, 186, nullptr},
    {kDiasAusentismoBimestre, 187, nullptr},
};

bool LateWithNegativeUpdate(ZAV& z, Late rule, double v) {
  const bool late = z.working().lgDiasAtraso > 0;
  const bool even = z.working().bgPeriodoPar;
  switch (rule) {
    case Late::kNone:
      return false;
    case Late::kA:
      return v < 0 && late;
    case Late::kB:
      return v < 0 && late && even;
    case Late::kC:  // v is a field's value, always finite: Trunca cannot fail here
      return late && even && z.Trunca(v) < 0;
  }
  return false;
}

// The period rule an amount breaks (its message), or 0.
std::int16_t BrokenRule(ZAV& z, const AmountCheck& a, double v) {
  if (LateWithNegativeUpdate(z, a.late, v)) return 147;
  if (a.odd_month && z.ValImpMen13(v)) return 261;
  if (a.period_1314 && z.ValPer1314(v)) return 262;
  return 0;
}

// Whether no period rule can fire on an amount of plain digits (never negative) in this
// run: the late-payment rules look for a negative value, the odd-month rule (261) acts
// only in odd months before period 13, the rule of periods 13 and 14 (262) only there.
// Such an amount is only added, without asking the rules.
bool RulesQuiet(const ZAV& z, const AmountCheck& a) {
  const auto& w = z.working();
  if (a.odd_month && !w.bgPeriodoPar && w.igNumPeriodo < 13) return false;
  return !(a.period_1314 && (w.igNumPeriodo == 13 || w.igNumPeriodo == 14));
}

// Adds an amount that passed its checks to its total.
[[gnu::always_inline]] inline void AddToTotal(ZAV& z, const AmountCheck& a, double amount) {
  if (a.variant_total != nullptr) {
    (z.*a.variant_total).AddDouble(amount);
  } else {
    AddToDouble(z.*a.double_total, amount);
  }
}

// An amount that is not a number adds nothing; one that breaks a period rule, noted by a
// diagnosis, is still added, so the summary is compared with what the records carry.
std::int16_t CheckAmounts(ZAV& z, std::string_view linea, std::span<const AmountCheck> checks) {
  for (const AmountCheck& a : checks) {
    double v = 0;  // hundredths of a peso
    const std::string_view field = Cut(linea, a.field);
    const bool plain = HasLength(field, Largo(a.field)) && EightDigitsValue(linea, field, v);
    if (!plain && !NumeroValue(z, linea, a.field, v)) {
      if (Fail(z, a.field, a.not_numeric)) return a.not_numeric;
      continue;
    }
    if (!(plain && RulesQuiet(z, a))) {
      if (const std::int16_t rule = BrokenRule(z, a, v); rule != 0 && Fail(z, a.field, rule)) {
        return rule;
      }
    }
    AddToTotal(z, a, v / 100);
  }
  return 0;
}

// Day totals are 32-bit: added in double precision, rounded back (halves to even).
std::int16_t CheckDays(ZAV& z, std::string_view linea, std::span<const DaysCheck> checks) {
  for (const DaysCheck& d : checks) {
    double days = 0;
    if (!NumeroValue(z, linea, d.field, days)) {
      if (Fail(z, d.field, d.not_numeric)) return d.not_numeric;
      continue;
    }
    if (d.total != nullptr) z.*d.total = ToLong(static_cast<double>(z.*d.total) + days);
  }
  return 0;
}

// The 22 day and amount fields lie next to each other, from the month's first day field to
// the housing-credit amortization, so one test tells whether all of them are plain digits.
constexpr std::size_t kPlainFrom = kDiasCotizadosMes.start - 1;
constexpr std::size_t kPlainLength =
    kAmortizacionCredito.start + kAmortizacionCredito.length - kDiasCotizadosMes.start;
constexpr std::size_t kPlainWords = (kPlainLength + 7) / 8;  // read eight bytes at a time

// Where the fields of `checks` end when they lie one after the other from `start`, each of
// `length` characters; 0 when they do not.
template <typename Check, std::size_t N>
constexpr int EndOfRun(const Check (&checks)[N], int start, int length) {
  for (const Check& c : checks) {
    if (start == 0 || c.field.start != start || c.field.length != length) return 0;
    start += length;
  }
  return start;
}
static_assert(EndOfRun(kRetirementAmounts,
                       EndOfRun(kBimesterDays,
                                EndOfRun(kInsuranceAmounts,
                                         EndOfRun(kMonthDays, kDiasCotizadosMes.start, 2), 7),
                                2),
                       7) == kDiasCotizadosMes.start + static_cast<int>(kPlainLength));

// Whether the 22 fields are all digits. Reads whole words from the span's start: the record
// has room for the last one.
bool PlainDigits(std::string_view linea) {
  constexpr std::uint64_t kAll = ~std::uint64_t{0};
  std::uint64_t bad = 0;
  for (std::size_t k = 0; k < kPlainWords; ++k) {
    std::uint64_t x;
    std::memcpy(&x, linea.data() + kPlainFrom + 8 * k, 8);
    x ^= 0x3030303030303030u;  // digits become 0..9
    const std::uint64_t mine =
        k + 1 < kPlainWords ? kAll : kAll >> (8 * (8 * kPlainWords - kPlainLength));
    bad |= (x | (x + 0x0606060606060606u)) & 0xF0F0F0F0F0F0F0F0u & mine;
  }
  return bad == 0;
}

// The value of a field known to be all digits, of at most eight, read as the word that ends
// with it: the bytes before the field count as leading zeros.
double DigitsValue(std::string_view linea, const Field& f) {
  const auto length = static_cast<std::size_t>(f.length);
  std::uint64_t v;
  std::memcpy(&v, linea.data() + f.start - 1 + length - 8, 8);
  v = (v ^ 0x3030303030303030u) & (~std::uint64_t{0} << (8 * (8 - length)));
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFu;
  return static_cast<double>((v * 10000 + (v >> 32)) & 0xFFFFFFFFu);
}

constexpr std::size_t kAmounts = std::size(kInsuranceAmounts) + std::size(kRetirementAmounts);

#if defined(ZAV_WIDE_PESOS)
// Where each amount's digits lie in the span, byte k of amount a's eight-byte lane being
// its (k - 1)th digit; byte 0 is left zero, a leading digit 0.
template <const AmountCheck (&kChecks)[8]>
constexpr auto LaneSources() {
  std::array<std::uint8_t, 64> t{};
  for (std::size_t a = 0; a < 8; ++a) {
    for (std::size_t k = 1; k < 8; ++k) {
      t[8 * a + k] = static_cast<std::uint8_t>(kChecks[a].field.start - 1 - kPlainFrom + k - 1);
    }
  }
  return t;
}
alignas(64) constexpr auto kInsuranceSources = LaneSources<kInsuranceAmounts>();
alignas(64) constexpr auto kRetirementSources = LaneSources<kRetirementAmounts>();
static_assert(std::size(kInsuranceAmounts) == 8 && std::size(kRetirementAmounts) == 8);

bool HasWidePesos() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
           __builtin_cpu_supports("avx512dq") != 0;
  }();
  return has;
}

// The eight amounts of one lane vector, digits 0..9 in bytes 1..7 of each lane, in pesos:
// pairs, then fours, then the whole number, divided by 100 as a division rounds it.
__attribute__((target("avx512f,avx512bw,avx512dq"))) inline __m512d LanePesos(__m512i digits) {
  const __m512i pairs = _mm512_maddubs_epi16(digits, _mm512_set1_epi16(0x010A));  // 10, 1
  const __m512i fours = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00010064));  // 100, 1
  // (The masked forms, every lane chosen: GCC 12's plain ones warn of an undefined value.)
  constexpr __mmask8 kAll = 0xFF;
  const __m512i whole =
      _mm512_add_epi64(_mm512_maskz_mul_epu32(kAll, fours, _mm512_set1_epi64(10000)),
                       _mm512_maskz_srli_epi64(kAll, fours, 32));
  return _mm512_div_pd(_mm512_cvtepi64_pd(whole), _mm512_set1_pd(100));
}

// The sixteen amounts of a span known to be all digits, in pesos, in table order.
__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512dq"))) void WidePesos(
    const char* span, double (&pesos)[kAmounts]) {
  const __m512i zero = _mm512_set1_epi8('0');
  const __m512i low = _mm512_sub_epi8(_mm512_loadu_si512(span), zero);
  const __m512i high = _mm512_sub_epi8(
      _mm512_maskz_loadu_epi8((__mmask64{1} << (kPlainLength - 64)) - 1, span + 64), zero);
  constexpr __mmask64 kDigitBytes = 0xFEFEFEFEFEFEFEFEu;  // byte 0 of each lane stays 0
  const __m512i insurance = _mm512_maskz_permutex2var_epi8(
      kDigitBytes, low, _mm512_load_si512(kInsuranceSources.data()), high);
  const __m512i retirement = _mm512_maskz_permutex2var_epi8(
      kDigitBytes, low, _mm512_load_si512(kRetirementSources.data()), high);
  _mm512_storeu_pd(pesos, LanePesos(insurance));
  _mm512_storeu_pd(pesos + 8, LanePesos(retirement));
}
#endif

// The days and amounts of the usual record, where every one of these fields is plain digits
// and no period rule can fire on a positive amount in this run: added in the order of the
// field-by-field check. False, nothing added, for any other record (or a text too short to
// read the span a word at a time).
bool AddPlainDaysAndAmounts(ZAV& z, std::string_view linea) {
  if constexpr (std::endian::native != std::endian::little) return false;
  if (linea.size() < kPlainFrom + 8 * kPlainWords) return false;
  for (const AmountCheck& a : kInsuranceAmounts) {
    if (!RulesQuiet(z, a)) return false;
  }
  for (const AmountCheck& a : kRetirementAmounts) {
    if (!RulesQuiet(z, a)) return false;
  }
  if (!PlainDigits(linea)) return false;
  // Only the first day field of each kind is added up; the others are checked.
  const auto add_days = [&](const DaysCheck& d) {
    z.*d.total = ToLong(static_cast<double>(z.*d.total) + DigitsValue(linea, d.field));
  };
  // Unrolled, each field's place, length and total are constants of the code.
  add_days(kMonthDays[0]);
  double pesos[kAmounts];
#if defined(ZAV_WIDE_PESOS)
  if (HasWidePesos()) {
    WidePesos(linea.data() + kPlainFrom, pesos);
  } else
#endif
  {
#pragma GCC unroll 16
    for (std::size_t k = 0; k < kAmounts; ++k) {
      pesos[k] =
          DigitsValue(linea, k < 8 ? kInsuranceAmounts[k].field : kRetirementAmounts[k - 8].field) /
          100;
    }
  }
#pragma GCC unroll 16
  for (std::size_t k = 0; k < 8; ++k) AddToTotal(z, kInsuranceAmounts[k], pesos[k]);
  add_days(kBimesterDays[0]);
#pragma GCC unroll 16
  for (std::size_t k = 0; k < 8; ++k) AddToTotal(z, kRetirementAmounts[k], pesos[8 + k]);
  return true;
}

// The RFC's format: a letter or a space (twelve-character RFC), three letters, six
// digits, spaces or points (the date), three letters, digits, spaces or points.
bool RfcWellFormed(ZAV& z, std::string_view linea, std::string_view& value) {
  if (Cut(linea, kRfcInicial) != " " && !AlfaField(z, linea, kRfcInicial, value)) return false;
  return AlfaField(z, linea, kRfcLetras, value) && NumeroEspField(z, linea, kRfcFecha, value) &&
         AlfaNumField(z, linea, kRfcHomoclave, value);
}

}  // namespace

std::int16_t CheckWorkerRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea) {
  std::string_view field;

  if (lRegistro < 2 && Fail(z, kTipo, 227)) return 227;  // the header must come first
  const std::string_view registro = Cut(linea, kRegistroPatronal);
  if (registro.size() != static_cast<std::size_t>(kRegistroPatronal.length)) {
    if (Fail(z, kRegistroPatronal, 10)) return 10;
  } else if (registro != z.sgNoContrato && Fail(z, kRegistroPatronal, 34)) {
    return 34;
  }
  if ((Cut(linea, kRfc) != z.sRFCPatron || !RfcWellFormed(z, linea, field)) && Fail(z, kRfc, 27)) {
    return 27;
  }
  if (Cut(linea, kPeriodo) != z.sgPerPago && Fail(z, kPeriodo, 200)) return 200;
  if (!NumeroField(z, linea, kSeguridadSocial, field) && Fail(z, kSeguridadSocial, 225)) {
    return 225;
  }
  // A housing-credit number only counts the worker; a blank one is no error.
  if (NumeroField(z, linea, kCreditoVivienda, field)) {
    if (z.iNumTrabViv == std::numeric_limits<std::int32_t>::max()) {
      throw RuntimeFailure(err::kOverflow);
    }
    ++z.iNumTrabViv;
  }
  if (!NumeroField(z, linea, kMovimientos, field) && Fail(z, kMovimientos, 170)) return 170;
  if (Cut(linea, kNombre).find(kForbiddenNameChar) != std::string_view::npos &&
      Fail(z, kNombre, 3113)) {
    return 3113;
  }
  if (!NumeroField(z, linea, kUltimoSalario, field) && Fail(z, kUltimoSalario, 171)) return 171;
  if (!NumeroField(z, linea, kTipoTrabajador, field) && Fail(z, kTipoTrabajador, 172)) {
    return 172;
  }
  // Read untrimmed: a blank or a letter is worth 0 and passes.
  if (LeadingValue(Cut(linea, kJornada)) > kMaxJornada && Fail(z, kJornada, 173)) return 173;
  if (AddPlainDaysAndAmounts(z, linea)) return 0;
  if (const auto r = CheckDays(z, linea, kMonthDays)) return r;
  if (const auto r = CheckAmounts(z, linea, kInsuranceAmounts)) return r;
  if (const auto r = CheckDays(z, linea, kBimesterDays)) return r;
  return CheckAmounts(z, linea, kRetirementAmounts);
}

}  // namespace zav
