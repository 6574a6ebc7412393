// The explanations of failed checks: which amounts each comparison set side by side,
// which values each count compared, which rule each field test applies.
#include "reports/explain.hpp"

#include <cmath>

#include "basic/number_text.hpp"
#include "basic/numeric_text.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "records/record_06.hpp"
#include "validation/field_checks.hpp"

namespace zav {

namespace {

using Kind = Explanation::Kind;

double Cents(ZAV& z, double amount) { return std::round(z.Trunca(amount) * 100.0); }

std::string WholeText(double v) { return GeneralNumberText(v); }

// ---- Amounts ----

// Who added up to the expected side of a comparison.
enum class Basis { kWorkers, kMovements, kSummary, kSummaryComponents };

struct AmountComparison {
  std::int16_t message;
  int start;  // the field it is noted against; 0: every field of the message
  double (*found)(const ZAV&);
  double (*expected)(const ZAV&);
  Basis basis;
  bool truncated_difference;  // Trunca of the difference, not of each side
};

double D(const Variant& v) { return v.ToDouble(); }

// The summary against the worker and movement totals, and against itself; the validation
// record against the summary. As record_05.cpp and record_06.cpp compare them.
const AmountComparison kAmounts[] = {
    {240, 59, [](const ZAV& z) { return D(z.SumaS8); }, [](const ZAV& z) { return D(z.SumaT18); },
     Basis::kWorkers, false},
    {240, 68, [](const ZAV& z) { return D(z.SumaS9); }, [](const ZAV& z) { return D(z.SumaT19); },
     Basis::kWorkers, false},
    {240, 77, [](const ZAV& z) { return D(z.SumaS10); }, [](const ZAV& z) { return D(z.SumaT20); },
     Basis::kWorkers, false},
    {240, 86, [](const ZAV& z) { return D(z.SumaS11); }, [](const ZAV& z) { return D(z.SumaT21); },
     Basis::kWorkers, false},
    {240, 95, [](const ZAV& z) { return D(z.SumaS12); }, [](const ZAV& z) { return D(z.SumaT22); },
     Basis::kWorkers, false},
    {240, 104, [](const ZAV& z) { return D(z.SumaS13); }, [](const ZAV& z) { return D(z.SumaT23); },
     Basis::kWorkers, false},
    {240, 113, [](const ZAV& z) { return z.SumaS14; }, [](const ZAV& z) { return D(z.SumaT24); },
     Basis::kWorkers, false},
    {242, 0, [](const ZAV& z) { return D(z.SumaS15); },
     [](const ZAV& z) {
       return D(z.SumaS8) + D(z.SumaS9) + D(z.SumaS10) + D(z.SumaS11) + D(z.SumaS12) +
              D(z.SumaS13) + z.SumaS14;
     },
     Basis::kSummaryComponents, false},
    {241, 0, [](const ZAV& z) { return D(z.SumaS16) + D(z.SumaS17); },
     [](const ZAV& z) { return D(z.SumaT25); }, Basis::kWorkers, false},
    {243, 0, [](const ZAV& z) { return D(z.SumaS18); }, [](const ZAV& z) { return z.SumaT29; },
     Basis::kWorkers, false},
    {244, 0, [](const ZAV& z) { return D(z.SumaS19); },
     [](const ZAV& z) { return D(z.SumaT31) + D(z.SumaT32); }, Basis::kWorkers, false},
    {245, 0, [](const ZAV& z) { return D(z.SumaS20); },
     [](const ZAV& z) { return D(z.SumaS18) + D(z.SumaS19); }, Basis::kSummaryComponents, false},
    {246, 0, [](const ZAV& z) { return D(z.SumaS21) + D(z.SumaS22); },
     [](const ZAV& z) { return D(z.SumaT30) + D(z.SumaT33); }, Basis::kWorkers, false},
    {247, 0, [](const ZAV& z) { return z.SumaS23; }, [](const ZAV& z) { return D(z.SumaT34); },
     Basis::kWorkers, true},
    {248, 0, [](const ZAV& z) { return D(z.SumaS24) + D(z.SumaS25); },
     [](const ZAV& z) { return D(z.SumaT35); }, Basis::kWorkers, false},
    {249, 0, [](const ZAV& z) { return D(z.SumaS26); }, [](const ZAV& z) { return z.SumaT36; },
     Basis::kWorkers, true},
    {404, 0, [](const ZAV& z) { return z.SumaS29; }, [](const ZAV& z) { return z.SumaM8; },
     Basis::kMovements, true},
    {254, 0, [](const ZAV& z) { return D(z.SumaV11); },
     [](const ZAV& z) { return D(z.SumaS15) + D(z.SumaS16) + D(z.SumaS17); }, Basis::kSummary,
     false},
    {255, 0, [](const ZAV& z) { return D(z.SumaV12); },
     [](const ZAV& z) {
       return D(z.SumaS20) + D(z.SumaS21) + D(z.SumaS22) + z.SumaS23 + z.SumaS29;
     },
     Basis::kSummary, false},
    {256, 0, [](const ZAV& z) { return D(z.SumaV13); }, [](const ZAV& z) { return D(z.SumaS24); },
     Basis::kSummary, false},
    {257, 0, [](const ZAV& z) { return z.SumaV14; },
     [](const ZAV& z) {
       return D(z.SumaS25) + D(z.SumaS26) + D(z.SumaS27) + z.SumaS28 + z.SumaS30 + z.SumaS31;
     },
     Basis::kSummary, false},
};

std::string BasisNote(const ZAV& z, Basis basis) {
  switch (basis) {
    case Basis::kWorkers:
      return "Lo esperado es la suma de " + WholeText(z.iCantidadregistros3) +
             " registros de trabajador (03).";
    case Basis::kMovements:
      return "Lo esperado es la suma de los salarios de los movimientos de tipo 10 de " +
             WholeText(z.iNumReg04) + " registros de movimientos (04).";
    case Basis::kSummary:
      return "Lo esperado es la suma de los importes del sumario (registro 05).";
    case Basis::kSummaryComponents:
      return "Lo esperado es la suma de los importes que el sumario desglosa.";
  }
  return {};
}

Explanation AmountExplanation(ZAV& z, const AmountComparison& c) {
  Explanation e;
  e.kind = Kind::kAmount;
  const double found = c.found(z);
  const double expected = c.expected(z);
  e.found = PesosText(found);
  e.expected = PesosText(expected);
  const double cents =
      c.truncated_difference ? Cents(z, found - expected) : Cents(z, found) - Cents(z, expected);
  e.difference = PesosText(cents / 100.0);
  e.tolerance = PesosText(z.igToler);
  if (c.basis == Basis::kWorkers) e.workers = z.iCantidadregistros3;
  if (c.basis == Basis::kMovements) e.movements = z.iNumReg04;
  e.note = BasisNote(z, c.basis);
  return e;
}

// An amount that a period rule forbids (261 to 264): found it, expected none beyond the
// tolerance. The worker fields are tested in cents, the summary's in pesos.
Explanation ForbiddenAmount(ZAV& z, std::string_view record, const Field& field,
                            std::int16_t message) {
  Explanation e;
  e.kind = Kind::kAmount;
  const double amount = LeadingValue(TrimmedView(Cut(record, field))) / 100;
  const bool worker = message == 261 || message == 262;
  e.found = PesosText(amount);
  e.expected = PesosText(0);
  e.difference = e.found;
  e.tolerance = PesosText(worker ? z.igToler / 100.0 : z.igToler);
  e.note = message == 261 || message == 263
               ? "En un mes non (antes del periodo 13) el archivo no lleva importes de RCV ni "
                 "de vivienda."
               : "En los periodos 13 y 14 el archivo no lleva importes de vivienda, "
                 "amortizaci\363n ni aportaciones voluntarias.";
  return e;
}

// ---- Field rules ----

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The positions (1-based) in `text` of the characters `bad` picks.
template <typename Bad>
std::vector<int> Marks(std::string_view text, Bad bad) {
  std::vector<int> out;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (bad(text[k])) out.push_back(static_cast<int>(k) + 1);
  }
  return out;
}

void MarkRange(std::vector<int>& marks, int from, int count) {
  for (int k = from; k < from + count; ++k) marks.push_back(k);
}

Explanation Format(std::string_view found, std::string rule, std::vector<int> marked) {
  Explanation e;
  e.kind = Kind::kFormat;
  e.found = std::string(found);
  e.expected = std::move(rule);
  e.marked = std::move(marked);
  return e;
}

// A field that must be a number of its full length (ValidaNumero).
Explanation Digits(std::string_view text, int length) {
  std::vector<int> marks = Marks(text, [](char c) { return !IsDigit(c); });
  bool spaces = false;
  for (const int k : marks) spaces = spaces || text[static_cast<std::size_t>(k - 1)] == ' ';
  Explanation e = Format(text, WholeText(length) + " d\355gitos" + (spaces ? ", sin espacios" : ""),
                         std::move(marks));
  if (static_cast<int>(text.size()) < length) e.note = "El registro termina antes de este campo.";
  return e;
}

Explanation DigitsSpacesPoints(std::string_view text, int length) {
  Explanation e = Format(text, WholeText(length) + " d\355gitos",
                         Marks(text, [](char c) { return !IsDigitSpaceOrPoint(c); }));
  if (static_cast<int>(text.size()) < length) e.note = "El registro termina antes de este campo.";
  return e;
}

// The registration number's format: a letter, digit, space or point, then ten digits,
// spaces or points.
Explanation RegistrationFormat(std::string_view text) {
  std::vector<int> marks;
  if (!text.empty() && !IsDigitSpaceOrPoint(text[0]) && !IsLatinLetter(text[0])) marks.push_back(1);
  for (std::size_t k = 1; k < text.size(); ++k) {
    if (!IsDigitSpaceOrPoint(text[k])) marks.push_back(static_cast<int>(k) + 1);
  }
  return Format(text, "una letra o un d\355gito y 10 d\355gitos", std::move(marks));
}

// The RFC's format: a letter or a space, three letters, six digits (the date), three
// letters or digits.
Explanation RfcFormat(std::string_view text) {
  std::vector<int> marks;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    const bool ok = k == 0   ? c == ' ' || IsLatinLetter(c)
                    : k < 4  ? IsLatinLetter(c)
                    : k < 10 ? IsDigitSpaceOrPoint(c)
                             : IsDigitSpaceOrPoint(c) || IsLatinLetter(c);
    if (!ok) marks.push_back(static_cast<int>(k) + 1);
  }
  return Format(text, "letra o espacio, 3 letras, 6 d\355gitos (la fecha) y 3 letras o d\355gitos",
                std::move(marks));
}

// The period (year and month, 6 characters) from July 1997 on, months 01 to 14.
Explanation PeriodFormat(std::string_view text) {
  const double year = LeadingValue(TrimmedView(Cut(text, 1, 4)));
  const double month = LeadingValue(TrimmedView(Cut(text, 5, 2)));
  std::vector<int> marks;
  const bool year_ok = NumeroText(TrimmedView(Cut(text, 1, 4)), 4) && year >= kFirstPeriodYear;
  const bool month_ok = NumeroText(TrimmedView(Cut(text, 5, 2)), 2) && month >= 1 && month <= 14 &&
                        (year != kFirstPeriodYear || month >= kFirstPeriodMonth);
  if (!year_ok) MarkRange(marks, 1, 4);
  if (!month_ok) MarkRange(marks, 5, 2);
  return Format(text, "a\361o y mes AAAAMM desde 199707, mes de 01 a 14", std::move(marks));
}

// A text that must repeat the header's: the differing positions marked; when it does
// repeat it, the header's own text breaks the field's format.
Explanation AgainstHeader(std::string_view text, const std::string& header,
                          Explanation (*format)(std::string_view)) {
  if (text == header && format != nullptr) return format(text);
  Explanation e;
  e.kind = Kind::kText;
  e.found = std::string(text);
  e.expected = header;
  for (std::size_t k = 0; k < std::max(text.size(), header.size()); ++k) {
    if (k >= text.size() || k >= header.size() || text[k] != header[k]) {
      e.marked.push_back(static_cast<int>(k) + 1);
    }
  }
  e.note = "Debe ser igual al del encabezado (registro 02).";
  return e;
}

Explanation Count(double found, double expected, std::string note) {
  Explanation e;
  e.kind = Kind::kCount;
  e.found = WholeText(found);
  e.expected = WholeText(expected);
  e.note = std::move(note);
  return e;
}

// A record that comes before the declared workers have all gone by (228 to 230).
Explanation TooEarly(const ZAV& z, const char* what) {
  Explanation e =
      Count(z.iCantidadregistros3, z.iNumReg03.ToDouble(),
            std::string("Antes de ") + what + " hay " + WholeText(z.iCantidadregistros3) +
                " registros de trabajador; el encabezado declara " +
                WholeText(z.iNumReg03.ToDouble()) + ".");
  e.workers = z.iCantidadregistros3;
  if (z.iNumReg04 > 0) e.movements = z.iNumReg04;
  return e;
}

// DD/MM/YYYY of a date written YYYYMMDD.
std::string DateText(std::string_view yyyymmdd) {
  return std::string(Cut(yyyymmdd, 7, 2)) + "/" + std::string(Cut(yyyymmdd, 5, 2)) + "/" +
         std::string(Cut(yyyymmdd, 1, 4));
}

}  // namespace

std::string PesosText(double amount) { return FormatFixed2(amount + 0.0); }

Explanation Explain(ZAV& z, int type, std::string_view record, const Field& field,
                    std::int16_t message) {
  for (const AmountComparison& c : kAmounts) {
    if (c.message == message && (c.start == 0 || c.start == field.start)) {
      return AmountExplanation(z, c);
    }
  }
  const std::string_view text = Cut(record, field);
  switch (message) {
    case 261:
    case 262:
    case 263:
    case 264:
      return ForbiddenAmount(z, record, field, message);
    case 10:
      return Format(
          text, "11 caracteres, sin espacios al principio ni al final",
          text.size() < 11 ? std::vector<int>{} : Marks(text, [](char c) { return c == ' '; }));
    case 11:
      return PeriodFormat(text);
    case 236:
      return DigitsSpacesPoints(text, field.length);
    case 140:
      return Format(text, "A, B o C", {1});
    case 160:
      return Format(text, "N o S", {1});
    case 173:
      return Format(text, "de 0 a 6", {1});
    case 3113:
      return Format(text, "sin el car\341cter \245",
                    Marks(text, [](char c) { return c == kForbiddenNameChar; }));
    case 35:
    case 6000:
      return Format(text, "02, 03, 04, 05 o 06", {1, 2});
    case 34:
      return AgainstHeader(text, z.sgNoContrato, nullptr);
    case 200:
      return AgainstHeader(text, z.sgPerPago, nullptr);
    case 235:
    case 237:
    case 250:
      return AgainstHeader(text, z.sgNoContrato, RegistrationFormat);
    case 27:
    case 9:
    case 39:
      return AgainstHeader(text, z.sRFCPatron, RfcFormat);
    case 238:
    case 251:
      return AgainstHeader(text, z.sgPerPago, PeriodFormat);
    case 239:
    case 252:
      return AgainstHeader(text, z.sgFolioZAV, nullptr);
    case 48:
      return Count(LeadingValue(TrimmedView(text)), z.iTamArch,
                   "El archivo mide " + WholeText(z.iTamArch) + " bytes.");
    case 260:
      return Count(LeadingValue(TrimmedView(text)), z.NumDiscos,
                   "El archivo se integr\363 de " + WholeText(z.NumDiscos) + " disco(s).");
    case 228:
      return TooEarly(z, "este registro de movimientos");
    case 229:
      return TooEarly(z, "el sumario");
    case 230:
      return TooEarly(z, "el registro de validaci\363n");
    case 165: {
      Explanation e;
      e.note = "Los cuatro totales a depositar suman 0.00: no hay nada que pagar.";
      return e;
    }
    default:
      break;
  }
  // Every other field test of the record checks is a number of the field's length.
  if (message == 2 || message == 226 || message == 227 || message == 147 || message == 321 ||
      type < 0) {
    return {};
  }
  return Digits(text, field.length);
}

Explanation ExplainCheckValue(std::string_view stored, std::string_view computed) {
  Explanation e;
  e.kind = Kind::kCheckValue;
  e.found = std::string(stored);
  e.expected = std::string(computed);
  e.note =
      "El archivo fue modificado despu\351s de que el ZAV lo gener\363: el valor de "
      "verificaci\363n "
      "no permite saber qu\351 registro cambi\363.";
  return e;
}

Explanation ExplainLateness(std::string_view last_record, const std::string& business_day,
                            const std::string& server_date, std::int32_t days_late) {
  Explanation e;
  e.kind = Kind::kDate;
  e.found = server_date;
  e.expected = business_day;
  e.deadline = DateText(Cut(last_record, record06::kFechaLimite));
  e.days_late = days_late;
  e.note = "La fecha l\355mite es el " + e.deadline +
           "; el \372ltimo d\355a para pagar (el d\355a "
           "h\341bil) fue el " +
           business_day + ". La fecha del servidor, " + server_date + ", lleva " +
           WholeText(days_late) + (days_late == 1 ? " d\355a" : " d\355as") + " de atraso.";
  return e;
}

Explanation ExplainFileCheck(ZAV& z, std::int16_t message, std::string_view first,
                             std::string_view last) {
  switch (message) {
    case 406: {
      const std::string_view name = z.OrigenNombre;
      const std::size_t dot = name.rfind('.');
      const std::string_view ext = dot == std::string_view::npos ? "" : name.substr(dot + 1);
      return Format(ext, "ZAV, o ZA y un d\355gito (ZA0 a ZA9)",
                    Marks(ext.substr(0, 3), [](char) { return true; }));
    }
    case 234: {
      // A letter, the period's year (two digits) and month, characters 3, 7 and 9 of the
      // registration number; the rest of the name as it is.
      const std::string& name = z.FinalArchi;
      std::string expected = name.empty() || !IsLatinLetter(name[0]) ? "P" : name.substr(0, 1);
      expected += Cut(first, 29, 4);
      for (const int k : {3, 7, 9}) expected += Cut(z.sgNoContrato, k, 1);
      if (name.size() > 8) expected += name.substr(8);
      Explanation e = AgainstHeader(name, expected, nullptr);
      e.kind = Kind::kFormat;
      e.note =
          "El nombre lleva una letra, el a\361o (2 d\355gitos) y el mes del periodo y los "
          "caracteres 3, 7 y 9 del registro patronal: " +
          expected + ".";
      return e;
    }
    case 49: {
      const std::string_view v = z.sVersion;
      std::vector<int> marks;
      if (v.empty() || !IsLatinLetter(v[0])) marks.push_back(1);
      if (Cut(v, 2, 1) != "3") marks.push_back(2);
      if (!IsDigit(Cut(v, 3, 1).empty() ? ' ' : Cut(v, 3, 1)[0])) marks.push_back(3);
      return Format(v, "una letra, el 3 y un d\355gito (como W301)", std::move(marks));
    }
    case 219: {
      const std::string_view date = Cut(last, record06::kFechaLimite);
      const double y = LeadingValue(Cut(date, 1, 4)), m = LeadingValue(Cut(date, 5, 2)),
                   d = LeadingValue(Cut(date, 7, 2));
      std::vector<int> marks;
      if (y < 1997 || (y == 1997 && m < 6)) MarkRange(marks, 1, 4);
      if (m < 1 || m > 12 || (y == 1997 && m < 6)) MarkRange(marks, 5, 2);
      if (d < 1 || d > 31) MarkRange(marks, 7, 2);
      Explanation e =
          Format(date, "fecha AAAAMMDD v\341lida, desde junio de 1997", std::move(marks));
      e.deadline = DateText(date);
      return e;
    }
    case 405: {
      Explanation e = Count(z.iNumReg03.ToDouble(), z.iCantidadregistros3,
                            "El encabezado declara " + WholeText(z.iNumReg03.ToDouble()) +
                                " trabajadores; el archivo trae " +
                                WholeText(z.iCantidadregistros3) + " registros de trabajador.");
      e.workers = z.iCantidadregistros3;
      return e;
    }
    case 310: {
      Explanation e = Count(z.iNumReg02_e21, z.SumaT15,
                            "Los trabajadores suman " + WholeText(z.SumaT15) +
                                " d\355as cotizados en el mes y " + WholeText(z.SumaT26) +
                                " en el bimestre; el total del encabezado debe ser uno de los "
                                "dos.");
      e.workers = z.iCantidadregistros3;
      return e;
    }
    default:
      return {};
  }
}

}  // namespace zav
