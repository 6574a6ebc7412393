// The steps of a validation run around its record walk. The fixed-width date buffers pad
// a shorter text with blanks on the right and cut a longer one.
#include "validation/file_checks.hpp"

#include "basic/conversions.hpp"
#include "basic/cp1252.hpp"
#include "basic/number_text.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "platform/file_system.hpp"
#include "records/layout.hpp"

namespace zav {

namespace {

std::string Fixed(std::string_view text, std::size_t width) {
  std::string out(text.substr(0, width));
  out.resize(width, ' ');
  return out;
}

// The classic Mid$: characters from a 1-based start, fewer or none past the end.
std::string_view Mid(std::string_view s, std::size_t start, std::size_t length) {
  if (start - 1 >= s.size()) return {};
  return s.substr(start - 1, length);
}

// The character code of the first character, upper-cased; an empty text has none.
unsigned char UpperCode(std::string_view s) {
  if (s.empty()) throw RuntimeFailure(err::kInvalidCall);
  return static_cast<unsigned char>(UpperCase1252(s.front()));
}

bool IsUpperLetter(unsigned char c) { return c >= 'A' && c <= 'Z'; }

bool WellFormedVersion(std::string_view v) {
  if (!IsUpperLetter(UpperCode(v))) return false;
  if (Mid(v, 2, 1) != "3") return false;
  return IsNumeric(Mid(v, 2, 2));
}

struct DeadlineBuffers {
  std::string year, month, day;
};

DeadlineBuffers DeadlineOf(std::string_view last) {
  return {Fixed(Cut(last, 59, 4), 4), Fixed(Cut(last, 63, 2), 2), Fixed(Cut(last, 65, 2), 2)};
}

}  // namespace

std::string FileToRead(const ZAV& z, const std::string& in_place) {
  return in_place.empty() ? z.DestinoArchi + z.FinalArchi : in_place;
}

bool FileToReadExists(ZAV& z, const std::string& path, const std::string& in_place) {
  if (in_place.empty()) {
    std::string work = path;
    return z.ExisteArchivo(work);
  }
  return FileExists(path) && !GetFileName(z.FinalArchi).starts_with('.');
}

void ResetTotals(ZAV& z) {
  for (Variant* v :
       {&z.SumaT18, &z.SumaT19, &z.SumaT20, &z.SumaT21, &z.SumaT22, &z.SumaT23, &z.SumaT24,
        &z.SumaT25, &z.SumaT30, &z.SumaT31, &z.SumaT32, &z.SumaT33, &z.SumaT34, &z.SumaT35,
        &z.SumaS6,  &z.SumaS7,  &z.SumaS8,  &z.SumaS9,  &z.SumaS10, &z.SumaS11, &z.SumaS12,
        &z.SumaS13, &z.SumaS15, &z.SumaS16, &z.SumaS17, &z.SumaS18, &z.SumaS19, &z.SumaS20,
        &z.SumaS21, &z.SumaS22, &z.SumaS24, &z.SumaS25, &z.SumaS26, &z.SumaS27, &z.SumaV6,
        &z.SumaV11, &z.SumaV12, &z.SumaV13}) {
    *v = Variant::Double(0);
  }
  for (double* d : {&z.SumaT29, &z.SumaT36, &z.SumaS14, &z.SumaS23, &z.SumaS28, &z.SumaS29,
                    &z.SumaS30, &z.SumaS31, &z.SumaS8S14, &z.SumaV14, &z.SumaM8}) {
    *d = 0;
  }
  z.iNumReg03 = Variant::Integer(0);
  z.iNumReg04 = 0;
  z.iNumReg02_e21 = 0;
  z.SumaT15 = 0;
  z.SumaT26 = 0;
  z.posicion = 0;
  z.iNumTrabViv = 0;
  z.iCantidadregistros3 = 0;
}

void CopyHeader(ZAV& z, std::string_view r) {
  z.igAno = Cut(r, 27, 4);
  z.igPer = Cut(r, 31, 2);
  z.sgPerPago = Cut(r, 27, 6);
  z.sgNoContrato = Cut(r, 3, 11);
  z.sRFCPatron = Cut(r, 14, 13);
  z.sgFolioZAV = Cut(r, 33, 6);
  z.sNombrePatron = Cut(r, 39, 50);
  z.sDireccion = Cut(r, 89, 40);
  z.sDelegacion = Cut(r, 129, 40);
  z.sEntFed = Cut(r, 169, 2);
  z.sCodPost = Cut(r, 171, 5);
  z.sNumPhone = Cut(r, 176, 15);
}

void DerivePeriod(ZAV& z) {
  auto& w = z.working();
  w.igNumPeriodo = ToInteger(LeadingValue(z.igPer));
  if (w.igNumPeriodo % 2 == 0) {
    z.sgBim = Variant::String(GeneralNumberText(StrictNumber(z.igPer) / 2));
    z.sgBimAno = GeneralNumberText(StrictNumber(z.igAno));
    w.bgPeriodoPar = true;
  } else {
    w.bgPeriodoPar = false;
  }
}

std::int16_t ExtensionCheck(const ZAV& z) {
  const std::string e = GetExtensionName(z.OrigenNombre);
  // A name without three characters of extension has no third character to test.
  if (e.size() < 3) throw RuntimeFailure(err::kInvalidCall);
  const std::string head = UpperCase1252(std::string_view(e).substr(0, 3));
  const bool digit = head[2] >= '0' && head[2] <= '9';
  return head == "ZAV" || (head.compare(0, 2, "ZA") == 0 && digit) ? 0 : 406;
}

std::int16_t WorkNameCheck(const ZAV& z, std::string_view first_record) {
  const std::string_view name = z.FinalArchi;
  if (!IsUpperLetter(UpperCode(name))) return 234;
  if (Mid(name, 2, 4) != Mid(first_record, 29, 4)) return 234;
  const std::string_view reg = z.sgNoContrato;
  if (Mid(name, 6, 1) != Mid(reg, 3, 1) || Mid(name, 7, 1) != Mid(reg, 7, 1) ||
      Mid(name, 8, 1) != Mid(reg, 9, 1)) {
    return 234;
  }
  return 0;
}

void ReadLastRecord(ZAV& z, std::string_view last) {
  z.sVersion = Cut(last, 69, 4);
  z.sCheckSum = Cut(last, 121, 19);
}

std::int16_t DeadlineCheck(std::string_view last) {
  const DeadlineBuffers b = DeadlineOf(last);
  const double y = LeadingValue(b.year), m = LeadingValue(b.month), d = LeadingValue(b.day);
  if (y < 1997 || m < 1 || m > 12 || (y == 1997 && m < 6) || d < 1 || d > 31) return 219;
  return 0;
}

std::int16_t VersionCheck(const ZAV& z) {
  if (WellFormedVersion(z.sVersion)) return 0;
  static constexpr std::string_view kOlder[] = {"D200", "W200", "E200", "D100", "W100", "E100"};
  bool older = false;
  for (std::string_view v : kOlder) older = older || z.sVersion == v;
  return z.bgGerencia && older ? 0 : 49;
}

std::int16_t LatenessCheck(ZAV& z, std::string_view last, const std::string& server_date) {
  const std::string server_day = Fixed(Mid(server_date, 1, 2), 2);
  const std::string server_month = Fixed(Mid(server_date, 4, 2), 2);
  const std::string server_year = Fixed(Mid(server_date, 7, 4), 4);
  DeadlineBuffers b = DeadlineOf(last);
  z.CalculaDiaHabil(b.year, b.month, b.day);
  b.year = Fixed(b.year, 4);
  b.month = Fixed(b.month, 2);
  b.day = Fixed(b.day, 2);

  auto& w = z.working();
  if (z.bgGerencia) {
    w.lgDiasAtraso = 0;
    return 0;
  }
  w.lgDiasAtraso =
      z.ObtenDifer(server_day, b.day, server_month, b.month, server_year, b.year).ToLong();
  return w.lgDiasAtraso > 0 ? 253 : 0;
}

std::int16_t WorkerCountCheck(const ZAV& z) {
  return Compare(Variant::Long(z.iCantidadregistros3), z.iNumReg03) != 0 ? 405 : 0;
}

std::int16_t DaysTotalCheck(const ZAV& z) {
  return z.iNumReg02_e21 != z.SumaT15 && z.iNumReg02_e21 != z.SumaT26 ? 310 : 0;
}

std::int16_t RecordTypesCheck(const std::array<bool, 7>& seen) {
  std::int16_t missing = 0;
  if (!seen[2]) missing = 80;
  if (!seen[3]) missing = 81;
  if (!seen[4]) missing = 82;
  if (!seen[5]) missing = 83;
  if (!seen[6]) missing = 84;
  if (!seen[3] && !seen[4]) missing = 85;
  return missing;
}

}  // namespace zav
