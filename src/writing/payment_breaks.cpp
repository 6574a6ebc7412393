// The breaks of FileBreaks: found by writing over each field of a valid file with blanks,
// letters, nines, zeros and a few telling texts, and keeping, for each message the control
// answered, an edit that gives it whatever the period.
#include <algorithm>
#include <array>
#include <utility>

#include "records/checksum.hpp"
#include "records/layout.hpp"
#include "records/record_06.hpp"
#include "writing/payment_writer.hpp"

namespace zav {

namespace {

constexpr std::size_t kLength = 295;

constexpr std::array<char, kLength> Filled(char c) {
  std::array<char, kLength> a{};
  a.fill(c);
  return a;
}
constexpr std::array<char, kLength> kZeros = Filled('0'), kBlanks = Filled(' ');
constexpr std::string_view Zeros(std::size_t n) { return {kZeros.data(), n}; }
constexpr std::string_view Blanks(std::size_t n) { return {kBlanks.data(), n}; }

// Nothing to pay: every amount of the workers, the summary and the validation record
// zeroed, and the movements blanked, as when nobody moved (their type-10 salaries are
// complementary contributions). The summary's rates stay.
constexpr BreakEdit kNothingToPay[] = {
    {BreakRecord::kWorker, 160, Zeros(56), true},     // the four insurances
    {BreakRecord::kWorker, 222, Zeros(56), true},     // retirement to housing
    {BreakRecord::kMovement, 14, Blanks(266), true},  // the seven entries
    {BreakRecord::kValidation, 73, Zeros(48)},        // the totals to deposit
};

// A whole first movement entry, of the first worker and type 11 (a file where nobody moved
// has none): its days, then its salary, not a number.
constexpr std::string_view kDaysNotNumeric = "0000000000111                  0000000";
constexpr std::string_view kSalaryNotNumeric = "0000000000111                01       ";
static_assert(kDaysNotNumeric.size() == 38 && kSalaryNotNumeric.size() == 38);

// clang-format off
constexpr FileBreak kBreaks[] = {
    {9, BreakRecord::kMovement, 1, "05", true},
    {10, BreakRecord::kHeader, 13, " ", true},
    {11, BreakRecord::kHeader, 27, "19", true},
    {27, BreakRecord::kHeader, 14, "             ", true},
    {34, BreakRecord::kWorker, 3, "           ", true},
    {35, BreakRecord::kHeader, 1, "  ", true},
    {39, BreakRecord::kMovement, 1, "06", true},
    {48, BreakRecord::kSummary, 1, "06", true},
    {49, BreakRecord::kValidation, 69, "    ", true},
    {132, BreakRecord::kHeader, 33, "      ", true},
    {133, BreakRecord::kHeader, 169, "  ", true},
    {140, BreakRecord::kHeader, 248, " ", true},
    {144, BreakRecord::kHeader, 129, "                                        ", false},
    // 147 cannot be reached: a late payment is refused with 253 before any record is read.
    {159, BreakRecord::kHeader, 249, "  ", true},
    {160, BreakRecord::kHeader, 251, " ", true},
    {161, BreakRecord::kHeader, 252, " ", true},
    {162, BreakRecord::kHeader, 253, "       ", true},
    {163, BreakRecord::kHeader, 260, "         ", true},
    {165, BreakRecord::kSummary, 59, Zeros(222), true, kNothingToPay},
    {170, BreakRecord::kWorker, 93, "  ", true},
    {171, BreakRecord::kValidation, 1, "03", true},
    {172, BreakRecord::kWorker, 152, " ", true},
    {173, BreakRecord::kWorker, 153, "9", true},
    {174, BreakRecord::kWorker, 154, "  ", true},
    {175, BreakRecord::kWorker, 156, "  ", true},
    {176, BreakRecord::kWorker, 158, "  ", true},
    {177, BreakRecord::kSummary, 59, "         ", true},
    {178, BreakRecord::kSummary, 68, "         ", true},
    {179, BreakRecord::kSummary, 77, "         ", true},
    {180, BreakRecord::kSummary, 86, "         ", true},
    {181, BreakRecord::kSummary, 95, "         ", true},
    {182, BreakRecord::kSummary, 104, "         ", true},
    {183, BreakRecord::kSummary, 113, "         ", true},
    {184, BreakRecord::kWorker, 209, "       ", true},
    {185, BreakRecord::kWorker, 216, "  ", true},
    {186, BreakRecord::kWorker, 218, "  ", true},
    {187, BreakRecord::kWorker, 220, "  ", true},
    {188, BreakRecord::kSummary, 151, "         ", true},
    {189, BreakRecord::kWorker, 229, "       ", true},
    {190, BreakRecord::kWorker, 236, "       ", true},
    {191, BreakRecord::kWorker, 243, "       ", true},
    {192, BreakRecord::kWorker, 250, "       ", true},
    {193, BreakRecord::kWorker, 257, "       ", true},
    {194, BreakRecord::kWorker, 264, "       ", true},
    {195, BreakRecord::kSummary, 227, "         ", true},
    {196, BreakRecord::kMovement, 14, "......................................", true},
    {198, BreakRecord::kMovement, 14, kDaysNotNumeric, true},
    {200, BreakRecord::kWorker, 27, "      ", true},
    {202, BreakRecord::kHeader, 1, "05", true},
    {203, BreakRecord::kSummary, 49, "          ", true},
    {205, BreakRecord::kSummary, 122, "           ", true},
    {206, BreakRecord::kSummary, 133, "         ", true},
    {207, BreakRecord::kSummary, 142, "         ", true},
    {208, BreakRecord::kSummary, 160, "         ", true},
    {209, BreakRecord::kSummary, 169, "           ", true},
    {210, BreakRecord::kSummary, 180, "         ", true},
    {211, BreakRecord::kSummary, 189, "         ", true},
    {212, BreakRecord::kSummary, 198, "           ", true},
    {213, BreakRecord::kSummary, 209, "         ", true},
    {214, BreakRecord::kSummary, 218, "         ", true},
    {215, BreakRecord::kSummary, 236, "         ", true},
    {216, BreakRecord::kSummary, 245, "         ", true},
    {217, BreakRecord::kValidation, 39, "          ", true},
    {218, BreakRecord::kValidation, 49, "          ", false},
    {219, BreakRecord::kValidation, 59, "        ", true},
    {220, BreakRecord::kValidation, 73, "            ", true},
    {221, BreakRecord::kValidation, 85, "            ", true},
    {222, BreakRecord::kValidation, 97, "            ", true},
    {223, BreakRecord::kValidation, 109, "            ", true},
    {225, BreakRecord::kWorker, 33, "           ", true},
    {226, BreakRecord::kMovement, 1, "02", true},
    {227, BreakRecord::kHeader, 1, "03", true},
    {228, BreakRecord::kHeader, 260, "020304050", true},
    {229, BreakRecord::kWorker, 1, "05", true},
    {230, BreakRecord::kHeader, 1, "06", true},
    {234, BreakRecord::kHeader, 27, "   1", true},
    {235, BreakRecord::kMovement, 3, "           ", true},
    {236, BreakRecord::kHeader, 1, "04", true},
    {237, BreakRecord::kSummary, 3, "           ", true},
    {238, BreakRecord::kSummary, 27, "      ", true},
    {239, BreakRecord::kHeader, 33, "-11111", true},
    {240, BreakRecord::kSummary, 104, "-11111111", true},
    {241, BreakRecord::kSummary, 133, "-11111111", true},
    {242, BreakRecord::kSummary, 122, "-1111111111", true},
    {243, BreakRecord::kSummary, 151, "-11111111", true},
    {244, BreakRecord::kSummary, 160, "-11111111", true},
    {245, BreakRecord::kSummary, 169, "-1111111111", true},
    {246, BreakRecord::kSummary, 180, "-11111111", true},
    {247, BreakRecord::kSummary, 198, "-1111111111", true},
    {248, BreakRecord::kSummary, 209, "-11111111", true},
    {249, BreakRecord::kSummary, 227, "-11111111", true},
    {250, BreakRecord::kValidation, 3, "           ", true},
    {251, BreakRecord::kValidation, 27, "      ", true},
    {252, BreakRecord::kValidation, 33, "      ", true},
    {253, BreakRecord::kValidation, 59, "19970601", true},
    {254, BreakRecord::kSummary, 1, "03", true},
    {255, BreakRecord::kValidation, 85, "-11111111111", true},
    {256, BreakRecord::kValidation, 97, "-11111111111", true},
    {257, BreakRecord::kSummary, 236, "-11111111", true},
    {258, BreakRecord::kValidation, 67, "  ", true},
    {260, BreakRecord::kValidation, 67, "-1", true},
    {261, BreakRecord::kWorker, 222, "0000001", true},
    {262, BreakRecord::kWorker, 257, "0000001", true},
    {263, BreakRecord::kSummary, 151, "000000001", true},
    {264, BreakRecord::kSummary, 198, "00000000001", true},
    {310, BreakRecord::kHeader, 253, "-111111", true},
    // 321 cannot be reached: a late payment is refused with 253 before any record is read.
    {400, BreakRecord::kMovement, 14, kSalaryNotNumeric, true},
    {401, BreakRecord::kSummary, 263, "         ", true},
    {402, BreakRecord::kSummary, 272, "         ", true},
    {403, BreakRecord::kSummary, 254, "         ", true},
    {404, BreakRecord::kSummary, 254, "-11111111", true},
    {405, BreakRecord::kHeader, 260, "-11111111", true},
    {2100, BreakRecord::kHeader, 171, "     ", true},
    {2120, BreakRecord::kHeader, 191, "       ", true},
    {2150, BreakRecord::kHeader, 244, "  ", true},
    {2160, BreakRecord::kHeader, 246, "  ", true},
    {3113, BreakRecord::kWorker, 95, "\245", true},
};
// clang-format on

void Put(std::string& bytes, std::size_t record, int start, std::string_view text) {
  const std::size_t at = (record - 1) * kLength + static_cast<std::size_t>(start - 1);
  if (at + text.size() <= bytes.size()) bytes.replace(at, text.size(), text);
}

}  // namespace

std::span<const FileBreak> FileBreaks() { return kBreaks; }

std::vector<std::int16_t> BreakableMessages() {
  std::vector<std::int16_t> out;
  for (const FileBreak& b : kBreaks) {
    if (out.empty() || out.back() != b.message) out.push_back(b.message);
  }
  return out;
}

void ApplyBreak(const FileBreak& b, const PaymentPlan& plan, std::string& bytes) {
  const std::size_t records = bytes.size() / kLength;
  if (records < 5) return;
  const std::size_t workers =
      plan.workers.size() + static_cast<std::size_t>(plan.generated_workers);
  // The records of a kind, first to last.
  const auto span = [&](BreakRecord kind) -> std::pair<std::size_t, std::size_t> {
    switch (kind) {
      case BreakRecord::kHeader:
        return {1, 1};
      case BreakRecord::kWorker:
        return {2, workers + 1};
      case BreakRecord::kMovement:
        return {workers + 2, records - 2};
      case BreakRecord::kSummary:
        return {records - 1, records - 1};
      case BreakRecord::kValidation:
        break;
    }
    return {records, records};
  };
  const auto edit = [&](const BreakEdit& e) {
    const auto [first, last] = span(e.record);
    for (std::size_t k = first; k <= (e.every ? last : first); ++k) {
      Put(bytes, std::min(k, records), e.start, e.text);
    }
  };
  edit({b.record, b.start, b.text});
  for (const BreakEdit& e : b.more) edit(e);
  if (!b.reseal) return;
  const std::string size = std::to_string(bytes.size());
  Put(bytes, records, record06::kTamanoArchivo.start,
      std::string(size.size() < 10 ? 10 - size.size() : 0, '0') + size);
  RunningCheck check;
  for (std::size_t r = 0; r < records; ++r) {
    check.Fold(std::string_view(bytes).substr(r * kLength, kLength));
  }
  Put(bytes, records, record06::kCheckSum.start, check.value());
}

}  // namespace zav
