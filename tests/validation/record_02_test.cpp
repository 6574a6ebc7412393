#include "records/record_02.hpp"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "basic/expect_failure.hpp"
#include "control/zav.hpp"
#include "records/record_03.hpp"
#include "records/record_04.hpp"
#include "validation/record_builder.hpp"
#include "validation/record_checks.hpp"

namespace zav {
namespace {

using namespace record02;
using testing::Edit;

std::string ValidHeader(const std::vector<Edit>& edits = {}) {
  // clang-format off
  const std::string r = testing::Build({
      {kTipo, "02"}, {kRegistroPatronal, "A1234567890"}, {kRfc, "ABCD010101XY1"}, {kAno, "2005"},
      {kMes, "06"}, {kFolio, "000123"}, {kRazonSocial, "EMPRESA DE PRUEBA SA DE CV"},
      {kEntidadFederativa, "09"}, {kCodigoPostal, "06000"}, {kTelefono, "5555555555"},
      {kPrimaRiesgo, "0025000"}, {kDelegacion, "09"}, {kSubdelegacion, "01"},
      {kAreaGeografica, "A"}, {kPorcentajeAportacion, "05"}, {kConvenioReembolso, "N"},
      {kTipoCotizacion, "1"}, {kTotalDias, "0000060"}, {kTotalTrabajadores, "000000002"}
  });
  // clang-format on
  return testing::Edited(r, edits);
}

// What the driver copies from record 1 before the record loop.
void LoadHeaderProperties(ZAV& z, const std::string& r) {
  z.igAno = std::string(Cut(r, kAno));
  z.igPer = std::string(Cut(r, kMes));
  z.sgPerPago = std::string(Cut(r, kPeriodo));
  z.sgNoContrato = std::string(Cut(r, kRegistroPatronal));
  z.sRFCPatron = std::string(Cut(r, kRfc));
  z.sgFolioZAV = std::string(Cut(r, kFolio));
}

// Each layout table covers its record (or movement entry) without gap or overlap: the
// same tables check, describe and write files.
TEST(RecordLayouts, CoverTheirRecordsExactly) {
  const std::pair<std::span<const Field>, int> tables[] = {
      {kHeaderFields, 295},   {kWorkerFields, 295},
      {kMovementFields, 295}, {kMovementEntryFields, kMovementEntryLength},
      {kSummaryFields, 295},  {kValidationFields, 295}};
  for (const auto& [fields, length] : tables) {
    int next = 1;
    for (const Field& f : fields) {
      EXPECT_EQ(f.start, next) << f.name;
      EXPECT_GT(f.length, 0) << f.name;
      next = f.start + f.length;
    }
    EXPECT_EQ(next, length + 1) << fields.front().name;
  }
  EXPECT_EQ(EntryField(6, record04::kSalarioDiario).start, 273);
  EXPECT_EQ(record04::kMovimiento7.start + kMovementEntryLength, record04::kRelleno280.start);
}

// The check on a control loaded from the record: `z`, or a fresh one.
std::int16_t Check(ZAV& z, const std::string& r, std::int32_t registro = 1) {
  LoadHeaderProperties(z, r);
  return CheckHeaderRecord(z, registro, r);
}
std::int16_t Check(const std::string& r, std::int32_t registro = 1) {
  ZAV z;
  return Check(z, r, registro);
}

TEST(HeaderRecordTest, ChecksInOrderFirstFailureWins) {
  // One field of the valid header changed; 0: the text passes.
  // clang-format off
  const struct {
    Field field;
    const char* text;
    std::int16_t expected;
  } cases[] = {
      {kRegistroPatronal, " 1234567890", 10}, {kRegistroPatronal, "a-b.c/d%e&f", 0},
      {kMes, "00", 11}, {kMes, "15", 11}, {kAno, "205", 11}, {kMes, "6", 11},
      {kFolio, "00 123", 132}, {kEntidadFederativa, "0A", 133}, {kCodigoPostal, "0600 ", 2100},
      {kPrimaRiesgo, "00250A0", 2120}, {kDelegacion, " 9", 2150}, {kSubdelegacion, "X1", 2160},
      {kAreaGeografica, "a", 140}, {kAreaGeografica, "D", 140}, {kAreaGeografica, "C", 0},
      {kPorcentajeAportacion, "--", 159}, {kConvenioReembolso, "s", 160},
      {kConvenioReembolso, "S", 0}, {kTipoCotizacion, " ", 161}, {kTotalDias, "00012 4", 162},
      {kTotalTrabajadores, "00000000X", 163},
  };
  // clang-format on
  EXPECT_EQ(Check(ValidHeader()), 0);
  for (const auto& c : cases) {
    EXPECT_EQ(Check(ValidHeader({{c.field, c.text}})), c.expected) << c.field.name << " " << c.text;
  }
  // Periods run from July 1997, months 1 to 14.
  EXPECT_EQ(Check(ValidHeader({{kAno, "1997"}, {kMes, "06"}})), 11);
  EXPECT_EQ(Check(ValidHeader({{kAno, "1997"}, {kMes, "07"}})), 0);
  EXPECT_EQ(Check(ValidHeader({{kAno, "2030"}, {kMes, "14"}})), 0);
  // The position first, whatever the record holds; the registration before the period.
  EXPECT_EQ(Check(ValidHeader(), 0), 226);
  EXPECT_EQ(Check(ValidHeader({{kAreaGeografica, "x"}}), 2), 226);
  EXPECT_EQ(Check(ValidHeader({{kRegistroPatronal, ""}, {kMes, "99"}})), 10);
  EXPECT_EQ(Check(ValidHeader().substr(0, 200)), 2150);  // cut short
}

TEST(HeaderRecordTest, StoresDeclaredTotalsAndTrimsProperties) {
  ZAV z;
  ASSERT_EQ(Check(z, ValidHeader()), 0);
  EXPECT_EQ(z.iNumReg02_e21, 60);
  EXPECT_EQ(z.iNumReg03, Variant::Double(2));

  // The days are stored before the workers field fails; the workers keep their value.
  ZAV failing;
  failing.iNumReg03 = Variant::Integer(7);
  EXPECT_EQ(
      Check(failing, ValidHeader({{kTotalDias, "0001234"}, {kTotalTrabajadores, "0000 0002"}})),
      163);
  EXPECT_EQ(failing.iNumReg02_e21, 1234);
  EXPECT_EQ(failing.iNumReg03, Variant::Integer(7));

  // The trimming of year, month and folio stays, whatever the outcome.
  const std::string r = ValidHeader({{kAno, " 205"}, {kMes, " 6"}, {kFolio, " 00123"}});
  ZAV trimmed;
  EXPECT_EQ(Check(trimmed, r), 11);
  EXPECT_EQ(trimmed.igAno, "205");
  EXPECT_EQ(trimmed.igPer, "6");
  EXPECT_EQ(trimmed.sgFolioZAV, " 00123");  // not reached
  trimmed.igAno = "2005";
  trimmed.igPer = "06";
  EXPECT_EQ(CheckHeaderRecord(trimmed, 1, r), 132);
  EXPECT_EQ(trimmed.sgFolioZAV, "00123");
}

TEST(HeaderRecordTest, NonNumberPeriodOrTotalIsARunTimeFailure) {
  const std::pair<Edit, int> cases[] = {{{kAno, "20X5"}, err::kTypeMismatch},
                                        {{kMes, "  "}, err::kTypeMismatch},
                                        {{kTotalDias, "1.0E+10"}, err::kOverflow}};
  for (const auto& [edit, error] : cases) EXPECT_RUNTIME_FAILURE(error, Check(ValidHeader({edit})));
}

// Types 2 to 6 go to their checks (here each refuses its position); any other type ending
// in 6 means an altered file (6000); the rest are invalid types (35).
TEST(ChecaRegistroTest, DispatchesByType) {
  const std::pair<std::uint8_t, std::int16_t> cases[] = {
      {2, 226},    {3, 227}, {4, 228}, {5, 229}, {6, 230}, {16, 6000},
      {246, 6000}, {0, 35},  {1, 35},  {7, 35},  {255, 35}};
  for (const auto& [tipo, expected] : cases) {
    ZAV z;
    z.iNumReg03 = Variant::Double(3);
    std::string record = std::string(kRecordLength, ' ');
    EXPECT_EQ(z.ChecaRegistro(tipo, tipo == 2 ? 2 : 1, record), expected) << int{tipo};
  }
}

}  // namespace
}  // namespace zav
