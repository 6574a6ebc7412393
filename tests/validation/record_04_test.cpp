#include "records/record_04.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "basic/expect_failure.hpp"
#include "control/zav.hpp"
#include "validation/record_builder.hpp"
#include "validation/record_checks.hpp"

namespace zav {
namespace {

using namespace record04;
using testing::Edit;

std::vector<Edit> Entry(int i, const char* nss, const char* tipo, const char* dias,
                        const char* salario) {
  return {{EntryField(i, kSeguridadSocial), nss},
          {EntryField(i, kTipoMovimiento), tipo},
          {EntryField(i, kDiasIncidencia), dias},
          {EntryField(i, kSalarioDiario), salario}};
}

// Two entries: a type-10 one with salary 123.45 and a type-07 one; the rest blank.
std::string ValidMovement(const std::vector<Edit>& edits = {}) {
  std::string r = testing::Build({{kTipo, "04"}, {kRegistroPatronal, "A1234567890"}});
  r = testing::Edited(r, Entry(0, "12345678901", "10", "00", "0012345"));
  r = testing::Edited(r, Entry(1, "12345678902", "07", "03", "0010000"));
  return testing::Edited(r, edits);
}

TEST(MovementRecordTest, ChecksInOrder) {
  const Field nss0 = EntryField(0, kSeguridadSocial), nss1 = EntryField(1, kSeguridadSocial);
  const struct {
    const char* what;
    std::vector<Edit> edits;
    std::int16_t expected;
    double suma_m8;
    std::int32_t registro = 5;
    const char* header_registro = "A1234567890";
  } cases[] = {
      {"valid", {}, 0, 123.45},
      {"record N", {}, 228, 0, 3},
      {"record N + 1", {}, 0, 123.45, 4},
      {"registro differs", {{kRegistroPatronal, "A1234567891"}}, 235, 0},
      {"first character a sign", {{kRegistroPatronal, "-1234567890"}}, 235, 0, 5, "-1234567890"},
      {"letter after the first", {{kRegistroPatronal, "A123456789X"}}, 235, 0, 5, "A123456789X"},
      {"blank and points", {{kRegistroPatronal, " 12.45 7890"}}, 0, 123.45, 5, " 12.45 7890"},
      {"lower case", {{kRegistroPatronal, "a1234567890"}}, 0, 123.45, 5, "a1234567890"},
      {"nss with a letter", {{nss0, "1234567890A"}}, 236, 0},
      {"nss of digits and blank", {{nss0, "1234567890"}}, 0, 123.45},
      {"tipo", {{EntryField(0, kTipoMovimiento), "1A"}}, 196, 0},
      {"dias blank", {{EntryField(0, kDiasIncidencia), " 1"}}, 198, 0},
      {"salario", {{EntryField(0, kSalarioDiario), "00123A5"}}, 400, 0},
      {"type 07 adds nothing", {{EntryField(0, kTipoMovimiento), "07"}}, 0, 0},
      {"earlier type-10 salary stays", {{nss1, "X"}}, 236, 123.45},
      {"blank nss ends the list", {{nss0, ""}, {nss1, "X"}}, 0, 0},
      {"entry after blank unread", {{EntryField(3, kSeguridadSocial), "garbage"}}, 0, 123.45},
  };
  for (const auto& c : cases) {
    ZAV z;
    z.sgNoContrato = c.header_registro;
    z.iNumReg03 = Variant::Double(3);
    EXPECT_EQ(CheckMovementRecord(z, c.registro, ValidMovement(c.edits)), c.expected) << c.what;
    EXPECT_EQ(z.iNumReg04, 1) << c.what;  // counted whatever the outcome
    EXPECT_DOUBLE_EQ(z.SumaM8, c.suma_m8) << c.what;
  }
  ZAV z;  // a short record fails at the entry it cuts short
  z.sgNoContrato = "A1234567890";
  EXPECT_EQ(CheckMovementRecord(z, 2, ValidMovement().substr(0, 20)), 236);
}

TEST(MovementRecordTest, AllSevenEntriesAreExamined) {
  std::string r = ValidMovement();
  for (int i = 0; i < kMovementEntryCount; ++i) {
    r = testing::Edited(r, Entry(i, "1", "10", "01", "0000100"));
  }
  ZAV z;
  z.sgNoContrato = "A1234567890";
  z.SumaM8 = 0.5;  // the total carries over from earlier records
  EXPECT_EQ(CheckMovementRecord(z, 2, r), 0);
  EXPECT_DOUBLE_EQ(z.SumaM8, 7.5);

  r = testing::Edited(r, {{EntryField(6, kSalarioDiario), "X"}});
  EXPECT_EQ(CheckMovementRecord(z, 3, r), 400);
  EXPECT_DOUBLE_EQ(z.SumaM8, 13.5);
  EXPECT_EQ(z.iNumReg04, 2);

  z.iNumReg04 = INT_MAX;
  EXPECT_RUNTIME_FAILURE(err::kOverflow, CheckMovementRecord(z, 4, r));
}

}  // namespace
}  // namespace zav
