// End-to-end runs over files from the payment writer: a small plan whose totals are worked
// out by hand, edits of a file held in memory (a field of record k; the size field and the
// stored check value brought back in line), and a fixture that brings a file in from a
// diskette drive A to the work folder on drive C the way a page does (inicio, copiaArch,
// NumDiscos).
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>

#include "control/zav.hpp"
#include "platform/temp_drives.hpp"
#include "validation/checksum.hpp"
#include "validation/layout.hpp"
#include "validation/payment_writer.hpp"
#include "validation/record_06.hpp"

namespace zav::testing {

inline constexpr char kOnTime[] = "18/07/2005";  // the deadline, Sunday 17 July, moves to 18

// Two workers with round amounts: records 1 header, 2-3 workers, 4 movement (the first
// worker's, type 10), 5 summary, 6 validation.
inline PaymentPlan Small() {
  PaymentPlan s;
  s.folio = "000123";
  s.nombre = "PATRON DE PRUEBA";
  s.year = 2005;
  s.month = 6;
  s.deadline_year = 2005;
  s.deadline_month = 7;
  s.deadline_day = 17;
  s.multas = 300;
  s.donativos = 400;
  PaymentWorker a;
  a.nss = "12345678901";
  a.name = "JUAN PEREZ";
  a.days = 30;
  a.bimester_days = 61;
  a.cuota_fija = 10000;
  a.cuota_excedente = 2050;
  a.prestaciones_dinero = 3000;
  a.gastos_medicos = 400;
  a.riesgos_trabajo = 5000;
  a.invalidez_vida = 6000;
  a.guarderias = 700;
  a.retiro = 40000;
  a.cesantia_patronal = 20000;
  a.cesantia_trabajador = 10000;
  a.aportacion_voluntaria = 5000;
  a.aportacion_vivienda = 8000;
  a.movements = {{10, 0, 1234}};
  PaymentWorker b;
  b.nss = "10987654321";
  b.name = "MARIA LOPEZ";
  b.housing_credit = "1234567890";
  b.days = 15;
  b.bimester_days = 45;
  b.cuota_fija = 5000;
  b.recargos_seguros = 300;
  b.aportacion_vivienda = 2000;
  b.amortizacion_credito = 9000;
  s.workers = {a, b};
  return s;
}

inline std::string FileOf(const PaymentPlan& plan) {
  std::ostringstream out;
  WritePaymentFile(plan, out);
  return out.str();
}

inline std::size_t Records(const std::string& bytes) { return bytes.size() / kRecordLength; }

// Writes `text` over the start of field f of record k (1-based).
inline void Put(std::string& bytes, std::size_t k, const Field& f, std::string_view text) {
  ASSERT_LE(text.size(), static_cast<std::size_t>(f.length)) << f.name;
  bytes.replace((k - 1) * kRecordLength + static_cast<std::size_t>(f.start - 1), text.size(), text);
}

// The size field and the stored check value of the validation record (the last record)
// brought in line with the file as it now is.
inline void Reseal(std::string& bytes) {
  const std::size_t n = Records(bytes);
  const std::string size = std::to_string(bytes.size());
  Put(bytes, n, record06::kTamanoArchivo, std::string(10 - size.size(), '0') + size);
  RunningCheck check;
  for (std::size_t k = 0; k < n; ++k) {
    check.Fold(std::string_view(bytes).substr(k * kRecordLength, kRecordLength));
  }
  Put(bytes, n, record06::kCheckSum, check.value());
}

class PaymentRun : public ::testing::Test {
 protected:
  // Puts the file on the diskette as `source` and brings it in under `work`.
  void Bring(const std::string& bytes, const std::string& source = "P0506268.ZAV",
             const std::string& work = "P0506268.ZAV") {
    drives_.Write("A:/" + source, bytes);
    z_.inicio();
    z_.OrigenArchi = "A:\\";
    z_.FinalArchi = work;
    z_.copiaArch(source);
    z_.NumDiscos = 1;
  }

  TempDrives drives_{"C=fixed;A=removable"};
  ZAV z_;
};

}  // namespace zav::testing
