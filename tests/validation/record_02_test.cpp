#include "validation/record_02.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "host/dispatch.hpp"
#include "validation/record_builder.hpp"
#include "validation/record_checks.hpp"

namespace zav {
namespace {

using namespace record02;
using testing::Put;

struct Edit {
  Field field;
  const char* text;
};

std::string ValidHeader() {
  std::string r = testing::BlankRecord();
  const Edit fields[] = {
      {kTipo, "02"},
      {kRegistroPatronal, "A1234567890"},
      {kRfc, "ABCD010101XY1"},
      {kAno, "2005"},
      {kMes, "06"},
      {kFolio, "000123"},
      {kRazonSocial, "EMPRESA DE PRUEBA SA DE CV"},
      {kEntidadFederativa, "09"},
      {kCodigoPostal, "06000"},
      {kTelefono, "5555555555"},
      {kPrimaRiesgo, "0025000"},
      {kDelegacion, "09"},
      {kSubdelegacion, "01"},
      {kAreaGeografica, "A"},
      {kPorcentajeAportacion, "05"},
      {kConvenioReembolso, "N"},
      {kTipoCotizacion, "1"},
      {kTotalDias, "0000060"},
      {kTotalTrabajadores, "000000002"},
  };
  for (const auto& f : fields) Put(r, f.field, f.text);
  return r;
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

struct HeaderCase {
  const char* what;
  std::vector<Edit> edits;
  std::int16_t expected;
  std::int32_t registro = 1;
};

TEST(HeaderRecordTest, LayoutCoversTheRecord) {
  testing::ExpectCoversExactly(kHeaderFields, static_cast<int>(kRecordLength));
}

TEST(HeaderRecordTest, ChecksInOrderFirstFailureWins) {
  const HeaderCase cases[] = {
      {"valid", {}, 0},
      {"record 2", {}, 226, 2},
      {"record 0", {}, 226, 0},
      {"fails as record 2 whatever it holds", {{kAreaGeografica, "x"}}, 226, 2},
      {"registro with leading blank", {{kRegistroPatronal, " 1234567890"}}, 10},
      {"registro with trailing blank", {{kRegistroPatronal, "A123456789 "}}, 10},
      {"registro of any characters", {{kRegistroPatronal, "a-b.c/d%e&f"}}, 0},
      {"registro checked before period", {{kRegistroPatronal, ""}, {kMes, "99"}}, 10},
      {"1997-06", {{kAno, "1997"}, {kMes, "06"}}, 11},
      {"1997-07", {{kAno, "1997"}, {kMes, "07"}}, 0},
      {"1996-12", {{kAno, "1996"}, {kMes, "12"}}, 11},
      {"1997-13", {{kAno, "1997"}, {kMes, "13"}}, 0},
      {"2030-14", {{kAno, "2030"}, {kMes, "14"}}, 0},
      {"month 00", {{kMes, "00"}}, 11},
      {"month 15", {{kMes, "15"}}, 11},
      {"3-digit year", {{kAno, "205"}}, 11},
      {"1-digit month", {{kMes, "6"}}, 11},
      {"period checked before folio", {{kMes, "15"}, {kFolio, "X"}}, 11},
      {"folio with blank", {{kFolio, "00 123"}}, 132},
      {"entidad", {{kEntidadFederativa, "0A"}}, 133},
      {"codigo postal", {{kCodigoPostal, "0600 "}}, 2100},
      {"prima", {{kPrimaRiesgo, "00250A0"}}, 2120},
      {"delegacion", {{kDelegacion, " 9"}}, 2150},
      {"subdelegacion", {{kSubdelegacion, "X1"}}, 2160},
      {"area lower case", {{kAreaGeografica, "a"}}, 140},
      {"area D", {{kAreaGeografica, "D"}}, 140},
      {"area C", {{kAreaGeografica, "C"}}, 0},
      {"porcentaje", {{kPorcentajeAportacion, "--"}}, 159},
      {"convenio lower case", {{kConvenioReembolso, "s"}}, 160},
      {"convenio S", {{kConvenioReembolso, "S"}}, 0},
      {"tipo de cotizacion blank", {{kTipoCotizacion, " "}}, 161},
      {"dias", {{kTotalDias, "00012 4"}}, 162},
      {"trabajadores", {{kTotalTrabajadores, "00000000X"}}, 163},
  };
  for (const auto& c : cases) {
    std::string r = ValidHeader();
    for (const auto& e : c.edits) Put(r, e.field, e.text);
    ZAV z;
    LoadHeaderProperties(z, r);
    EXPECT_EQ(CheckHeaderRecord(z, c.registro, r), c.expected) << c.what;
  }
}

TEST(HeaderRecordTest, StoresDeclaredTotalsAndTrimsProperties) {
  std::string r = ValidHeader();
  ZAV z;
  LoadHeaderProperties(z, r);
  ASSERT_EQ(CheckHeaderRecord(z, 1, r), 0);
  EXPECT_EQ(z.iNumReg02_e21, 60);
  EXPECT_EQ(z.iNumReg03, Variant::Double(2));

  // The days are stored before the workers field fails; the workers keep their value.
  Put(r, kTotalDias, "0001234");
  Put(r, kTotalTrabajadores, "0000 0002");
  ZAV failing;
  LoadHeaderProperties(failing, r);
  failing.iNumReg03 = Variant::Integer(7);
  EXPECT_EQ(CheckHeaderRecord(failing, 1, r), 163);
  EXPECT_EQ(failing.iNumReg02_e21, 1234);
  EXPECT_EQ(failing.iNumReg03, Variant::Integer(7));

  // The trimming of year, month and folio stays, whatever the outcome.
  r = ValidHeader();
  Put(r, kAno, " 205");
  ZAV trimmed;
  LoadHeaderProperties(trimmed, r);
  trimmed.igPer = " 6 ";
  trimmed.sgFolioZAV = " 00123";
  EXPECT_EQ(CheckHeaderRecord(trimmed, 1, r), 11);
  EXPECT_EQ(trimmed.igAno, "205");
  EXPECT_EQ(trimmed.igPer, "6");
  EXPECT_EQ(trimmed.sgFolioZAV, " 00123");  // not reached
  trimmed.igAno = "2005";
  trimmed.igPer = "06";
  EXPECT_EQ(CheckHeaderRecord(trimmed, 1, r), 132);
  EXPECT_EQ(trimmed.sgFolioZAV, "00123");
}

TEST(HeaderRecordTest, ShortRecordFailsAtFirstFieldCutShort) {
  const std::string r = ValidHeader().substr(0, 200);
  ZAV z;
  LoadHeaderProperties(z, r);
  EXPECT_EQ(CheckHeaderRecord(z, 1, r), 2150);
}

TEST(HeaderRecordTest, NonNumberPeriodOrTotalIsARunTimeFailure) {
  struct Case {
    const char* what;
    Field field;
    const char* text;
    int error;
  };
  const Case cases[] = {
      {"year with a letter", kAno, "20X5", err::kTypeMismatch},
      {"blank month", kMes, "  ", err::kTypeMismatch},
      {"days beyond 32 bits", kTotalDias, "1.0E+10", err::kOverflow},
  };
  for (const auto& c : cases) {
    std::string r = ValidHeader();
    Put(r, c.field, c.text);
    ZAV z;
    LoadHeaderProperties(z, r);
    try {
      CheckHeaderRecord(z, 1, r);
      ADD_FAILURE() << c.what << ": no failure";
    } catch (const RuntimeFailure& f) {
      EXPECT_EQ(f.number(), c.error) << c.what;
    }
  }
}

TEST(ChecaRegistroTest, DispatchesByType) {
  struct Case {
    std::uint8_t tipo;
    std::int32_t registro;
    std::int16_t expected;
  };
  const Case cases[] = {
      {2, 2, 226},  // the header check: a header that is not record 1
      {3, 1, 227},  // the worker check: a worker before the header
      {4, 1, 228},  // the movement check: before the declared workers
      {16, 1, 6000}, {26, 1, 6000}, {96, 1, 6000}, {106, 1, 6000}, {246, 1, 6000}, {0, 1, 35},
      {1, 1, 35},    {7, 1, 35},    {12, 1, 35},   {15, 1, 35},    {17, 1, 35},    {255, 1, 35},
  };
  for (const auto& c : cases) {
    ZAV z;
    z.iNumReg03 = Variant::Double(3);
    std::string record = testing::BlankRecord();
    EXPECT_EQ(z.ChecaRegistro(c.tipo, c.registro, record), c.expected) << int{c.tipo};
  }
}

TEST(ChecaRegistroTest, HostCallsItByName) {
  const std::string record = ValidHeader();
  ZAV z;
  LoadHeaderProperties(z, record);
  std::vector<Variant> args{Variant::Long(2), Variant::Long(1), Variant::String(record)};
  EXPECT_EQ(Invoke(z, "ChecaRegistro", args), Variant::Integer(0));
  EXPECT_EQ(args[2], Variant::String(record));  // read, never written
  EXPECT_EQ(z.iNumReg03, Variant::Double(2));

  args = {Variant::Long(16), Variant::Long(1), Variant::String(record)};
  EXPECT_EQ(Invoke(z, "ChecaRegistro", args), Variant::Integer(6000));
}

}  // namespace
}  // namespace zav
