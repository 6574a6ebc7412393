#include "validation/file_driver.hpp"

#include <optional>
#include <string_view>

#include "basic/conversions.hpp"
#include "basic/cp1252.hpp"
#include "basic/number_text.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "files/zip_packing.hpp"
#include "platform/file_system.hpp"
#include "platform/record_file.hpp"
#include "validation/checksum.hpp"
#include "validation/layout.hpp"

namespace zav {

namespace {

// A message number that ends the run.
struct Stop {
  std::int16_t message;
};

// The fixed-width buffers of the dates: a shorter text is padded with blanks on the
// right, a longer one is cut.
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

void ResetTotals(ZAV& z) {
  for (Variant* v : {&z.SumaT18, &z.SumaT19, &z.SumaT20, &z.SumaT21, &z.SumaT22, &z.SumaT23,
                     &z.SumaT24, &z.SumaT25, &z.SumaT30, &z.SumaT31, &z.SumaT32, &z.SumaT33,
                     &z.SumaT34, &z.SumaT35, &z.SumaS6,  &z.SumaS7,  &z.SumaS8,  &z.SumaS9,
                     &z.SumaS10, &z.SumaS11, &z.SumaS12, &z.SumaS13, &z.SumaS15, &z.SumaS16,
                     &z.SumaS17, &z.SumaS18, &z.SumaS19, &z.SumaS20, &z.SumaS21, &z.SumaS22,
                     &z.SumaS24, &z.SumaS25, &z.SumaS26, &z.SumaS27, &z.SumaV6,  &z.SumaV11,
                     &z.SumaV12, &z.SumaV13}) {
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

// The period month and, for an even month, the bimester and its year.
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

// The source file must carry a payment file's extension: ZAV, or ZA and a digit.
void CheckExtension(const ZAV& z) {
  const std::string e = GetExtensionName(z.OrigenNombre);
  // A name without three characters of extension has no third character to test.
  if (e.size() < 3) throw RuntimeFailure(err::kInvalidCall);
  const std::string head = UpperCase1252(std::string_view(e).substr(0, 3));
  const bool digit = head[2] >= '0' && head[2] <= '9';
  if (!(head == "ZAV" || (head.compare(0, 2, "ZA") == 0 && digit))) throw Stop{406};
}

// The work name is made from the period and the employer registration.
void CheckWorkName(const ZAV& z, std::string_view first_record) {
  const std::string_view name = z.FinalArchi;
  if (!IsUpperLetter(UpperCode(name))) throw Stop{234};
  if (Mid(name, 2, 4) != Mid(first_record, 29, 4)) throw Stop{234};
  const std::string_view reg = z.sgNoContrato;
  if (Mid(name, 6, 1) != Mid(reg, 3, 1) || Mid(name, 7, 1) != Mid(reg, 7, 1) ||
      Mid(name, 8, 1) != Mid(reg, 9, 1))
    throw Stop{234};
}

bool WellFormedVersion(std::string_view v) {
  if (!IsUpperLetter(UpperCode(v))) return false;
  if (Mid(v, 2, 1) != "3") return false;
  return IsNumeric(Mid(v, 2, 2));
}

// The deadline, the version and the lateness, all from the last record.
void CheckLastRecord(ZAV& z, std::string_view last, const std::string& server_date) {
  std::string server_day = Fixed(Mid(server_date, 1, 2), 2);
  std::string server_month = Fixed(Mid(server_date, 4, 2), 2);
  std::string server_year = Fixed(Mid(server_date, 7, 4), 4);
  std::string year = Fixed(Cut(last, 59, 4), 4);
  std::string month = Fixed(Cut(last, 63, 2), 2);
  std::string day = Fixed(Cut(last, 65, 2), 2);
  z.sVersion = Cut(last, 69, 4);
  z.sCheckSum = Cut(last, 121, 19);

  const double y = LeadingValue(year), m = LeadingValue(month), d = LeadingValue(day);
  if (y < 1997 || m < 1 || m > 12 || (y == 1997 && m < 6) || d < 1 || d > 31) throw Stop{219};

  if (!WellFormedVersion(z.sVersion)) {
    static constexpr std::string_view kOlder[] = {"D200", "W200", "E200", "D100", "W100", "E100"};
    bool older = false;
    for (std::string_view v : kOlder) older = older || z.sVersion == v;
    if (!z.bgGerencia || !older) throw Stop{49};
  }

  z.CalculaDiaHabil(year, month, day);
  year = Fixed(year, 4);
  month = Fixed(month, 2);
  day = Fixed(day, 2);

  auto& w = z.working();
  if (z.bgGerencia) {
    w.lgDiasAtraso = 0;
    return;
  }
  w.lgDiasAtraso =
      z.ObtenDifer(server_day, day, server_month, month, server_year, year).ToLong();
  if (w.lgDiasAtraso > 0) throw Stop{253};
}

// Renames the validated file to its packing name and packs it beside.
void RenameAndPack(ZAV& z) {
  const std::string archive = z.sArchZAVZip();
  if (archive.size() < 3) throw RuntimeFailure(err::kInvalidCall);
  const std::string packed = z.DestinoArchi + archive.substr(0, archive.size() - 3) + "zav";
  if (FileExists(packed)) DeleteFile(packed, true);
  MoveFile(z.DestinoArchi + z.FinalArchi, packed);
  if (EmpacaArchivo(z.DestinoArchi + archive, packed) != 0) throw Stop{303};
}

enum Type : std::uint8_t { k02 = 2, k03, k04, k05, k06 };

}  // namespace

std::string RunValidation(ZAV& z, const std::string& sDateServ, const RunOptions& options) {
  auto& w = z.working();
  w.last_message = 0;
  w.last_failure_number = 0;
  w.last_failure_description.clear();
  std::optional<RecordFile> file;
  const auto close_quietly = [&file] {
    try {
      if (file) file->Close();
    } catch (const RuntimeFailure&) {
      // The file was only read; a failure to close it changes nothing.
    }
  };
  try {
    ResetTotals(z);
    std::string work = z.DestinoArchi + z.FinalArchi;
    if (!z.ExisteArchivo(work)) throw Stop{2};
    z.posicion = 1;

    CheckExtension(z);

    const std::string work_path = z.DestinoArchi + z.FinalArchi;
    file.emplace(std::string_view(work_path), RecordFile::Mode::kRead);
    const std::int32_t n = file->RecordCount();
    z.iTamArch = ToLong(static_cast<double>(file->Length()));

    std::string record;
    file->Read(1, record);
    CopyHeader(z, record);
    DerivePeriod(z);
    CheckWorkName(z, record);

    file->Read(n, record);  // an empty file has no record 0: a run-time failure
    CheckLastRecord(z, record, sDateServ);

    RunningCheck check;
    bool seen[7] = {};
    for (z.posicion = 1; z.posicion <= n; ++z.posicion) {
      file->Read(z.posicion, record);
      check.Fold(record);
      const std::uint8_t t = ToByte(LeadingValue(Cut(record, 1, 2)));
      if (t >= k02 && t <= k06) seen[t] = true;
      if (t == k03) {
        if (z.iCantidadregistros3 == INT32_MAX) throw RuntimeFailure(err::kOverflow);
        ++z.iCantidadregistros3;
      }
      const std::int16_t r = z.ChecaRegistro(t, z.posicion, record);
      if (r != 0) throw Stop{r};
    }

    if (!check.Matches(z.sCheckSum)) throw Stop{144};
    if (Compare(Variant::Long(z.iCantidadregistros3), z.iNumReg03) != 0) throw Stop{405};
    if (z.iNumReg02_e21 != z.SumaT15 && z.iNumReg02_e21 != z.SumaT26) throw Stop{310};

    // Missing record types: each later finding replaces an earlier one.
    std::int16_t missing = 0;
    if (!seen[k02]) missing = 80;
    if (!seen[k03]) missing = 81;
    if (!seen[k04]) missing = 82;
    if (!seen[k05]) missing = 83;
    if (!seen[k06]) missing = 84;
    if (!seen[k03] && !seen[k04]) missing = 85;
    if (missing != 0) throw Stop{missing};

    file->Close();
    if (options.pack) RenameAndPack(z);
    return "0";
  } catch (const Stop& stop) {
    close_quietly();
    w.last_message = stop.message;
    return z.Obtiene_Mensajes(stop.message);
  } catch (const RuntimeFailure& failure) {
    close_quietly();
    w.last_failure_number = failure.number();
    w.last_failure_description = failure.description();
    return "5";
  }
}

std::string ZAV::ValidaReg(std::string sDateServ) { return RunValidation(*this, sDateServ, {}); }

}  // namespace zav
