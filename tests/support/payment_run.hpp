// A plan worked out by hand, file edits in memory, shell commands, a file brought in as a page.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>

#include "control/zav.hpp"
#include "platform/temp_drives.hpp"
#include "records/checksum.hpp"
#include "records/layout.hpp"
#include "records/record_06.hpp"
#include "writing/payment_writer.hpp"

namespace zav::testing {

inline constexpr char kOnTime[] = "18/07/2005";  // the deadline, Sunday 17 July, moves to 18

// Two workers with round amounts: records 1 header, 2-3 workers, 4 movement (the first
// worker's, type 10), 5 summary, 6 validation.
inline PaymentPlan Small() {
  // clang-format off
  PaymentPlan s{.folio = "000123", .nombre = "PATRON DE PRUEBA", .year = 2005, .month = 6,
                .deadline_year = 2005, .deadline_month = 7, .deadline_day = 17, .workers = {
      {.nss = "12345678901", .name = "JUAN PEREZ", .housing_credit = "", .days = 30,
       .bimester_days = 61,
       .cuota_fija = 10000, .cuota_excedente = 2050, .prestaciones_dinero = 3000,
       .gastos_medicos = 400, .riesgos_trabajo = 5000, .invalidez_vida = 6000, .guarderias = 700,
       .retiro = 40000, .cesantia_patronal = 20000, .cesantia_trabajador = 10000,
       .aportacion_voluntaria = 5000, .aportacion_vivienda = 8000, .movements = {{10, 0, 1234}}},
      {.nss = "10987654321", .name = "MARIA LOPEZ", .housing_credit = "1234567890", .days = 15,
       .bimester_days = 45, .cuota_fija = 5000, .recargos_seguros = 300,
       .aportacion_vivienda = 2000, .amortizacion_credito = 9000, .movements = {}}},
      .multas = 300, .donativos = 400};
  // clang-format on
  return s;
}

// A command's exit status and its output, standard error included.
struct Ran {
  int status = -1;
  std::string out;
};
inline Ran Shell(const std::string& command) {
  Ran ran;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (std::size_t got; p != nullptr && (got = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
    ran.out.append(buffer, got);
  const int raw = p != nullptr ? ::pclose(p) : -1;
  ran.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return ran;
}
inline std::string Unzipped(const std::string& archive) {
  return Shell("unzip -p '" + archive + "'").out;
}

inline std::string FileOf(const PaymentPlan& plan) {
  std::ostringstream out;
  WritePaymentFile(plan, out);
  return out.str();
}

inline std::size_t Records(const std::string& bytes) { return bytes.size() / kRecordLength; }

// `bytes` with `end` after every record (but the last when not `last`), as an editor saves it.
inline std::string WithLineEnds(const std::string& bytes, const std::string& end,
                                bool last = true) {
  std::string out;
  for (std::size_t at = 0; at < bytes.size(); at += kRecordLength) {
    out += bytes.substr(at, kRecordLength);
    if (last || at + kRecordLength < bytes.size()) out += end;
  }
  return out;
}

// Writes `text` over the start of field f of record k (1-based).
inline void Put(std::string& bytes, std::size_t k, const Field& f, std::string_view text) {
  ASSERT_LE(text.size(), static_cast<std::size_t>(f.length)) << f.name;
  bytes.replace((k - 1) * kRecordLength + static_cast<std::size_t>(f.start - 1), text.size(), text);
}

// The validation record's size field and stored check value brought in line with the file.
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
