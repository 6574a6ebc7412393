#include "receipt_facts.hpp"

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>

#include "records/layout.hpp"
#include "records/record_02.hpp"
#include "records/record_06.hpp"

namespace zavserve {

namespace {

constexpr std::streamoff kRecord = 295;

std::string Digits(std::string_view record, const zav::Field& f) {
  const std::string_view text = zav::Cut(record, f);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    throw std::runtime_error("the payment file's field at " + std::to_string(f.start) +
                             " is not a number");
  }
  return std::string(text);
}

std::string Pesos(std::uint64_t cents) {
  const std::string c = std::to_string(cents % 100);
  return std::to_string(cents / 100) + "." + (c.size() < 2 ? "0" : "") + c;
}

}  // namespace

nlohmann::ordered_json PaymentFacts(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string header(kRecord, '\0'), last(kRecord, '\0');
  in.read(header.data(), kRecord);
  in.seekg(-kRecord, std::ios::end);
  in.read(last.data(), kRecord);
  if (!in || zav::Cut(header, zav::record02::kTipo) != "02" ||
      zav::Cut(last, zav::record06::kTipo) != "06") {
    throw std::runtime_error("the payment file cannot be read for its receipt");
  }
  nlohmann::ordered_json facts = {
      {"period", Digits(header, zav::record02::kPeriodo)},
      {"folio", Digits(header, zav::record02::kFolio)},
      {"workers", std::stoull(Digits(header, zav::record02::kTotalTrabajadores))},
  };
  std::uint64_t total = 0;
  const std::pair<const char*, zav::Field> amounts[] = {
      {"amount_imss", zav::record06::kTotalImss4Seguros},
      {"amount_rcv", zav::record06::kTotalImssRcv},
      {"amount_infonavit_contribution", zav::record06::kTotalInfonavitAportacion},
      {"amount_infonavit_amortization", zav::record06::kTotalInfonavitAmortizacion},
  };
  for (const auto& [name, field] : amounts) {
    const std::uint64_t cents = std::stoull(Digits(last, field));  // 12 digits: no overflow
    facts[name] = Pesos(cents);
    total += cents;
  }
  facts["total"] = Pesos(total);
  return facts;
}

}  // namespace zavserve
