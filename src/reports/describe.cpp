// The readable view of a payment file: each record's fields from its layout table, with the
// way each field reads (amount, rate, date, text) taken from the same named fields the
// checks use.
#include "reports/describe.hpp"

#include <algorithm>
#include <span>
#include <string_view>

#include "basic/numeric_text.hpp"
#include "platform/record_file.hpp"
#include "records/personal.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "records/record_04.hpp"
#include "records/record_05.hpp"
#include "records/record_06.hpp"
#include "validation/field_checks.hpp"

namespace zav {

namespace {

enum class Kind { kText, kAmount, kRate, kDate };

struct Reading {
  Field field;
  Kind kind;
};

constexpr Reading kWorkerReadings[] = {
    {record03::kUltimoSalario, Kind::kAmount},
    {record03::kCuotaFija, Kind::kAmount},
    {record03::kCuotaExcedente, Kind::kAmount},
    {record03::kPrestacionesDinero, Kind::kAmount},
    {record03::kGastosMedicos, Kind::kAmount},
    {record03::kRiesgosTrabajo, Kind::kAmount},
    {record03::kInvalidezVida, Kind::kAmount},
    {record03::kGuarderias, Kind::kAmount},
    {record03::kRecargosSeguros, Kind::kAmount},
    {record03::kRetiro, Kind::kAmount},
    {record03::kRecargosRetiro, Kind::kAmount},
    {record03::kCesantiaPatronal, Kind::kAmount},
    {record03::kCesantiaTrabajador, Kind::kAmount},
    {record03::kRecargosCesantia, Kind::kAmount},
    {record03::kAportacionVoluntaria, Kind::kAmount},
    {record03::kAportacionVivienda, Kind::kAmount},
    {record03::kAmortizacionCredito, Kind::kAmount},
};

// Within one movement entry.
constexpr Reading kEntryReadings[] = {
    {record04::kSalarioDiario, Kind::kAmount},
};

constexpr Reading kSummaryReadings[] = {
    {record05::kTasaActualizacion, Kind::kRate},
    {record05::kTasaRecargos, Kind::kRate},
    {record05::kCuotaFija, Kind::kAmount},
    {record05::kCuotaExcedente, Kind::kAmount},
    {record05::kPrestacionesDinero, Kind::kAmount},
    {record05::kGastosMedicos, Kind::kAmount},
    {record05::kRiesgosTrabajo, Kind::kAmount},
    {record05::kInvalidezVida, Kind::kAmount},
    {record05::kGuarderias, Kind::kAmount},
    {record05::kSubtotal4Seguros, Kind::kAmount},
    {record05::kActualizacion4Seguros, Kind::kAmount},
    {record05::kRecargos4Seguros, Kind::kAmount},
    {record05::kRetiro, Kind::kAmount},
    {record05::kCesantiaVejez, Kind::kAmount},
    {record05::kSubtotalRcv, Kind::kAmount},
    {record05::kActualizacionRcv, Kind::kAmount},
    {record05::kRecargosRcv, Kind::kAmount},
    {record05::kVoluntarias, Kind::kAmount},
    {record05::kViviendaCuenta, Kind::kAmount},
    {record05::kViviendaAmortizacion, Kind::kAmount},
    {record05::kAmortizacionCredito, Kind::kAmount},
    {record05::kActualizacionVivienda, Kind::kAmount},
    {record05::kRecargosVivienda, Kind::kAmount},
    {record05::kComplementarias, Kind::kAmount},
    {record05::kMultasInfonavit, Kind::kAmount},
    {record05::kDonativosFundemex, Kind::kAmount},
};

constexpr Reading kValidationReadings[] = {
    {record06::kSumaTasas, Kind::kRate},
    {record06::kFechaLimite, Kind::kDate},
    {record06::kTotalImss4Seguros, Kind::kAmount},
    {record06::kTotalImssRcv, Kind::kAmount},
    {record06::kTotalInfonavitAportacion, Kind::kAmount},
    {record06::kTotalInfonavitAmortizacion, Kind::kAmount},
};

bool Same(const Field& a, const Field& b) { return a.start == b.start && a.length == b.length; }

Kind KindOf(std::span<const Reading> readings, const Field& f) {
  for (const Reading& r : readings) {
    if (Same(r.field, f)) return r.kind;
  }
  return Kind::kText;
}

bool IsFiller(const Field& f) { return std::string_view(f.name) == "no examinado"; }

// Digits with `decimals` implied decimals, as a decimal text: "0012345" -> "123.45". A
// text that is not plain digits (with an optional leading minus) is shown as it stands.
std::string WithDecimals(std::string_view digits, std::size_t decimals) {
  const bool negative = !digits.empty() && digits.front() == '-';
  std::string_view d = negative ? digits.substr(1) : digits;
  if (d.empty() || d.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::string(digits);
  }
  d = d.substr(std::min(d.find_first_not_of('0'), d.size()));
  std::string whole(d.size() > decimals ? d.substr(0, d.size() - decimals) : "");
  std::string fraction(d.size() > decimals ? d.substr(d.size() - decimals) : d);
  fraction.insert(0, decimals - fraction.size(), '0');
  if (whole.empty()) whole = "0";
  return (negative ? "-" : "") + whole + "." + fraction;
}

// AAAAMMDD as DD/MM/AAAA; anything else as it stands.
std::string AsDate(std::string_view t) {
  if (t.size() != 8 || t.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::string(t);
  }
  return std::string(t.substr(6, 2)) + "/" + std::string(t.substr(4, 2)) + "/" +
         std::string(t.substr(0, 4));
}

class Describer {
 public:
  explicit Describer(const DescribeOptions& options) : options_(options) {}

  void Describe(std::string_view r, std::int32_t number, DescribedRecord& out) {
    out.number = number;
    out.fields.clear();
    out.ordinal = 0;
    const double t = LeadingValue(Cut(r, 1, 2));
    out.type = t >= 0 && t <= 255 ? static_cast<int>(t) : -1;
    switch (out.type) {
      case 2:
        out.title = "encabezado patronal";
        AddAll(r, kHeaderFields, {}, "", out);
        break;
      case 3:
        out.title = "trabajador";
        out.ordinal = ++workers_;
        AddAll(r, kWorkerFields, kWorkerReadings, "", out);
        break;
      case 4:
        out.title = "movimientos";
        AddMovements(r, out);
        break;
      case 5:
        out.title = "sumario";
        AddAll(r, kSummaryFields, kSummaryReadings, "", out);
        break;
      case 6:
        out.title = "validaci\363n";
        AddAll(r, kValidationFields, kValidationReadings, "", out);
        break;
      default:
        out.title = "tipo de registro desconocido";
        Add(r, record02::kTipo, Kind::kText, "", out);
        break;
    }
  }

 private:
  void AddAll(std::string_view r, std::span<const Field> fields, std::span<const Reading> readings,
              const std::string& prefix, DescribedRecord& out) {
    for (const Field& f : fields) {
      if (!IsFiller(f)) Add(r, f, KindOf(readings, f), prefix, out);
    }
  }

  void AddMovements(std::string_view r, DescribedRecord& out) {
    Add(r, record04::kTipo, Kind::kText, "", out);
    Add(r, record04::kRegistroPatronal, Kind::kText, "", out);
    for (int entry = 0; entry < kMovementEntryCount; ++entry) {
      const Field nss = EntryField(entry, record04::kSeguridadSocial);
      if (TrimmedView(Cut(r, nss)).empty()) break;  // the list ends at a blank number
      const std::string prefix = "movimiento " + std::to_string(entry + 1) + ": ";
      for (const Field& f : kMovementEntryFields) {
        if (!IsFiller(f)) Add(r, EntryField(entry, f), KindOf(kEntryReadings, f), prefix, out);
      }
    }
  }

  void Add(std::string_view r, const Field& f, Kind kind, const std::string& prefix,
           DescribedRecord& out) {
    DescribedField d;
    d.name = prefix + f.name;
    d.start = f.start;
    d.length = f.length;
    d.text = TrimmedView(Cut(r, f));
    switch (kind) {
      case Kind::kAmount:
        d.shown = WithDecimals(d.text, 2);
        break;
      case Kind::kRate:
        d.shown = WithDecimals(d.text, 6) + " %";
        break;
      case Kind::kDate:
        d.shown = AsDate(d.text);
        break;
      case Kind::kText:
        d.shown = d.text;
        break;
    }
    if (options_.mask) {
      if (const auto keep = PersonalKeep(out.type, d.start, d.length)) {
        d.text = Masked(d.text, *keep);
        d.shown = d.text;
      }
    }
    out.fields.push_back(std::move(d));
  }

  const DescribeOptions& options_;
  std::int32_t workers_ = 0;
};

}  // namespace

std::string Masked(std::string_view text, std::size_t keep) {
  std::string out(text);
  const std::size_t hidden = out.size() > keep ? out.size() - keep : 0;
  std::fill_n(out.begin(), hidden, '*');
  return out;
}

FileOverview DescribeFile(const std::filesystem::path& file, const DescribeOptions& options,
                          const std::function<void(const DescribedRecord&)>& each) {
  RecordFile f = RecordFile::OpenNative(file, RecordFile::Mode::kRead);
  FileOverview overview{f.Length(), f.RecordCount()};
  Describer describer(options);
  DescribedRecord out;
  std::string record;
  for (std::int32_t k = 1; k <= overview.records; ++k) {
    f.Read(k, record);
    describer.Describe(record, k, out);
    each(out);
  }
  f.Close();
  return overview;
}

}  // namespace zav
