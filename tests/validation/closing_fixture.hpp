// A consistent file for the closing-record tests: the control state the driver and the
// earlier records leave (header properties, worker and movement totals, counts, size,
// diskettes) and a summary (05) and validation (06) record that match it.
//
// Header: employer A1234567890, RFC ABCD010101XY1, period 2005-06 (even month), folio
// 000123, two workers. Records: 1 header, 2-3 workers, 4 movement, 5 summary, 6 validation.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "control/zav.hpp"
#include "validation/record_05.hpp"
#include "validation/record_06.hpp"
#include "validation/record_builder.hpp"

namespace zav::testing {

inline constexpr std::int32_t kSummaryNumber = 5;
inline constexpr std::int32_t kValidationNumber = 6;

struct Edit {
  Field field;
  const char* text;
};

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
  // Worker totals (pesos).
  z.SumaT18 = Variant::Double(100.00);
  z.SumaT19 = Variant::Double(20.50);
  z.SumaT20 = Variant::Double(30.00);
  z.SumaT21 = Variant::Double(4.00);
  z.SumaT22 = Variant::Double(50.00);
  z.SumaT23 = Variant::Double(60.00);
  z.SumaT24 = Variant::Double(7.00);  // the seven: 271.50
  z.SumaT25 = Variant::Double(3.00);
  z.SumaT29 = 400.00;
  z.SumaT30 = Variant::Double(4.00);
  z.SumaT31 = Variant::Double(200.00);
  z.SumaT32 = Variant::Double(100.00);
  z.SumaT33 = Variant::Double(7.00);
  z.SumaT34 = Variant::Double(50.00);
  z.SumaT35 = Variant::Double(100.00);
  z.SumaT36 = 90.00;
  z.SumaM8 = 12.34;
}

inline std::string ValidSummary() {
  using namespace record05;
  std::string r = BlankRecord();
  Put(r, kTipo, "05");
  Put(r, kRegistroPatronal, "A1234567890");
  Put(r, kRfc, "ABCD010101XY1");
  Put(r, kPeriodo, "200506");
  Put(r, kFolio, "000123");
  Put(r, kTasaActualizacion, "0000100000");
  Put(r, kTasaRecargos, "0000200000");
  Put(r, kCuotaFija, "000010000");
  Put(r, kCuotaExcedente, "000002050");
  Put(r, kPrestacionesDinero, "000003000");
  Put(r, kGastosMedicos, "000000400");
  Put(r, kRiesgosTrabajo, "000005000");
  Put(r, kInvalidezVida, "000006000");
  Put(r, kGuarderias, "000000700");
  Put(r, kSubtotal4Seguros, "00000027150");
  Put(r, kActualizacion4Seguros, "000000100");
  Put(r, kRecargos4Seguros, "000000200");
  Put(r, kRetiro, "000040000");
  Put(r, kCesantiaVejez, "000030000");
  Put(r, kSubtotalRcv, "00000070000");
  Put(r, kActualizacionRcv, "000000500");
  Put(r, kRecargosRcv, "000000600");
  Put(r, kVoluntarias, "00000005000");
  Put(r, kViviendaCuenta, "000008000");
  Put(r, kViviendaAmortizacion, "000002000");
  Put(r, kAmortizacionCredito, "000009000");
  Put(r, kActualizacionVivienda, "000000100");
  Put(r, kRecargosVivienda, "000000200");
  Put(r, kComplementarias, "000001234");
  Put(r, kMultasInfonavit, "000000300");
  Put(r, kDonativosFundemex, "000000400");
  return r;
}

inline std::string ValidValidation() {
  using namespace record06;
  std::string r = BlankRecord();
  Put(r, kTipo, "06");
  Put(r, kRegistroPatronal, "A1234567890");
  Put(r, kRfc, "ABCD010101XY1");
  Put(r, kPeriodo, "200506");
  Put(r, kFolio, "000123");
  Put(r, kSumaTasas, "0000300000");
  Put(r, kTamanoArchivo, "0000001770");
  Put(r, kFechaLimite, "20050717");
  Put(r, kDiscos, "01");
  Put(r, kVersion, "W301");
  Put(r, kTotalImss4Seguros, "000000027450");           // 271.50 + 1.00 + 2.00
  Put(r, kTotalImssRcv, "000000077334");                // 700 + 5 + 6 + 50 + 12.34
  Put(r, kTotalInfonavitAportacion, "000000008000");    // 80.00
  Put(r, kTotalInfonavitAmortizacion, "000000012000");  // 20 + 90 + 1 + 2 + 3 + 4
  Put(r, kCheckSum, "ABCDEFGHIJKLMNOPQRS");
  return r;
}

// An amount field's text: `cents` zero-padded to `length`, a leading minus when negative.
inline std::string Digits(long long cents, int length) {
  std::string digits = std::to_string(cents < 0 ? -cents : cents);
  const int width = cents < 0 ? length - 1 : length;
  digits.insert(0, static_cast<std::size_t>(std::max(0, width - static_cast<int>(digits.size()))),
                '0');
  return cents < 0 ? "-" + digits : digits;
}

inline std::string Edited(std::string r, const std::vector<Edit>& edits) {
  for (const auto& e : edits) Put(r, e.field, e.text);
  return r;
}

}  // namespace zav::testing
