// Records built from field texts for the record checks, and one consistent file for the
// closing records: the state the earlier records leave (employer A1234567890, RFC
// ABCD010101XY1, period 2005-06, folio 000123, two workers, one movement record) and a
// summary (record 5) and validation (record 6) that match it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "control/zav.hpp"
#include "records/layout.hpp"
#include "records/record_05.hpp"
#include "records/record_06.hpp"

namespace zav::testing {

struct Edit {
  Field field;
  std::string_view text;
};

// Writes `text` into the field, padded with blanks to the field's length.
inline void Put(std::string& record, const Field& f, std::string_view text) {
  if (text.size() > static_cast<std::size_t>(f.length)) {
    throw std::logic_error(std::string("text longer than field ") + f.name);
  }
  std::string padded(text);
  padded.resize(static_cast<std::size_t>(f.length), ' ');
  record.replace(static_cast<std::size_t>(f.start - 1), padded.size(), padded);
}

inline std::string Edited(std::string r, const std::vector<Edit>& edits) {
  for (const Edit& e : edits) Put(r, e.field, e.text);
  return r;
}

// A blank record holding the given field texts.
inline std::string Build(const std::vector<Edit>& edits) {
  return Edited(std::string(kRecordLength, ' '), edits);
}

inline constexpr std::int32_t kSummaryNumber = 5;
inline constexpr std::int32_t kValidationNumber = 6;

inline void SetUpBeforeSummary(ZAV& z) {
  z.sgNoContrato = "A1234567890";
  z.sRFCPatron = "ABCD010101XY1";
  z.igAno = "2005";
  z.igPer = "06";
  z.sgPerPago = "200506";
  z.sgFolioZAV = "000123";
  z.working().igNumPeriodo = 6;
  z.working().bgPeriodoPar = true;
  z.iNumReg03 = Variant::Double(2);
  z.iNumReg04 = 1;
  z.iTamArch = 6 * 295;
  z.NumDiscos = 1;
  // Worker totals (pesos); the seven insurances add up to 271.50.
  const std::pair<Variant ZAV::*, double> totals[] = {
      {&ZAV::SumaT18, 100.00}, {&ZAV::SumaT19, 20.50},  {&ZAV::SumaT20, 30.00},
      {&ZAV::SumaT21, 4.00},   {&ZAV::SumaT22, 50.00},  {&ZAV::SumaT23, 60.00},
      {&ZAV::SumaT24, 7.00},   {&ZAV::SumaT25, 3.00},   {&ZAV::SumaT30, 4.00},
      {&ZAV::SumaT31, 200.00}, {&ZAV::SumaT32, 100.00}, {&ZAV::SumaT33, 7.00},
      {&ZAV::SumaT34, 50.00},  {&ZAV::SumaT35, 100.00}};
  for (const auto& [total, pesos] : totals) z.*total = Variant::Double(pesos);
  z.SumaT29 = 400.00;
  z.SumaT36 = 90.00;
  z.SumaM8 = 12.34;
}

inline std::string ValidSummary() {
  using namespace record05;
  // clang-format off
  return Build({
      {kTipo, "05"}, {kRegistroPatronal, "A1234567890"}, {kRfc, "ABCD010101XY1"},
      {kPeriodo, "200506"}, {kFolio, "000123"}, {kTasaActualizacion, "0000100000"},
      {kTasaRecargos, "0000200000"}, {kCuotaFija, "000010000"}, {kCuotaExcedente, "000002050"},
      {kPrestacionesDinero, "000003000"}, {kGastosMedicos, "000000400"},
      {kRiesgosTrabajo, "000005000"}, {kInvalidezVida, "000006000"}, {kGuarderias, "000000700"},
      {kSubtotal4Seguros, "00000027150"}, {kActualizacion4Seguros, "000000100"},
      {kRecargos4Seguros, "000000200"}, {kRetiro, "000040000"}, {kCesantiaVejez, "000030000"},
      {kSubtotalRcv, "00000070000"}, {kActualizacionRcv, "000000500"}, {kRecargosRcv, "000000600"},
      {kVoluntarias, "00000005000"}, {kViviendaCuenta, "000008000"},
      {kViviendaAmortizacion, "000002000"}, {kAmortizacionCredito, "000009000"},
      {kActualizacionVivienda, "000000100"}, {kRecargosVivienda, "000000200"},
      {kComplementarias, "000001234"}, {kMultasInfonavit, "000000300"},
      {kDonativosFundemex, "000000400"}
  });
  // clang-format on
}

// The four totals: 271.50 + 1 + 2; 700 + 5 + 6 + 50 + 12.34; 80; 20 + 90 + 1 + 2 + 3 + 4.
inline std::string ValidValidation() {
  using namespace record06;
  // clang-format off
  return Build({
      {kTipo, "06"}, {kRegistroPatronal, "A1234567890"}, {kRfc, "ABCD010101XY1"},
      {kPeriodo, "200506"}, {kFolio, "000123"}, {kSumaTasas, "0000300000"},
      {kTamanoArchivo, "0000001770"}, {kFechaLimite, "20050717"}, {kDiscos, "01"},
      {kVersion, "W301"}, {kTotalImss4Seguros, "000000027450"}, {kTotalImssRcv, "000000077334"},
      {kTotalInfonavitAportacion, "000000008000"}, {kTotalInfonavitAmortizacion, "000000012000"},
      {kCheckSum, "ABCDEFGHIJKLMNOPQRS"}
  });
  // clang-format on
}

}  // namespace zav::testing
