// What a receipt tells of the payment besides the archive: read from the payment file the
// server's control accepted (its first record, the employer header, and its last, the
// validation record, whose totals the control held to the workers').
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>

namespace zavserve {

// {period (YYYYMM), folio, workers (a number), amount_imss, amount_rcv,
// amount_infonavit_contribution, amount_infonavit_amortization, total}: the amounts to pay
// in pesos with two decimals ("1234.56"), total their sum. Throws std::runtime_error when
// the file cannot be read as one.
nlohmann::ordered_json PaymentFacts(const std::filesystem::path& file);

}  // namespace zavserve
