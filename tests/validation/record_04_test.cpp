#include "validation/record_04.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "validation/record_builder.hpp"
#include "validation/record_checks.hpp"

namespace zav {
namespace {

using namespace record04;
using testing::Put;

struct Entry {
  const char* nss;
  const char* tipo;
  const char* dias;
  const char* salario;
};

void PutEntry(std::string& r, int i, const Entry& e) {
  Put(r, EntryField(i, kSeguridadSocial), e.nss);
  Put(r, EntryField(i, kTipoMovimiento), e.tipo);
  Put(r, EntryField(i, kDiasIncidencia), e.dias);
  Put(r, EntryField(i, kSalarioDiario), e.salario);
}

// Two entries: a type-10 one with salary 123.45 and a type-07 one; the rest blank.
std::string ValidMovement() {
  std::string r = testing::BlankRecord();
  Put(r, kTipo, "04");
  Put(r, kRegistroPatronal, "A1234567890");
  PutEntry(r, 0, {"12345678901", "10", "00", "0012345"});
  PutEntry(r, 1, {"12345678902", "07", "03", "0010000"});
  return r;
}

struct Edit {
  Field field;
  const char* text;
};

struct MovementCase {
  const char* what;
  std::vector<Edit> edits;
  std::int16_t expected;
  double suma_m8;
  std::int32_t registro = 5;
  const char* header_registro = "A1234567890";
};

TEST(MovementRecordTest, LayoutCoversTheRecordAndTheEntry) {
  testing::ExpectCoversExactly(kMovementFields, static_cast<int>(kRecordLength));
  testing::ExpectCoversExactly(kMovementEntryFields, kMovementEntryLength);
  EXPECT_EQ(EntryField(6, kSalarioDiario).start, 273);
  EXPECT_EQ(kMovimiento7.start + kMovementEntryLength, kRelleno280.start);
}

TEST(MovementRecordTest, ChecksInOrder) {
  const Field nss1 = EntryField(1, kSeguridadSocial);
  const MovementCase cases[] = {
      {"valid", {}, 0, 123.45},
      {"record N", {}, 228, 0, 3},
      {"record N + 1", {}, 0, 123.45, 4},
      {"registro differs", {{kRegistroPatronal, "A1234567891"}}, 235, 0},
      {"registro lower case", {{kRegistroPatronal, "a1234567890"}}, 235, 0},
      {"first character a sign", {{kRegistroPatronal, "-1234567890"}}, 235, 0, 5, "-1234567890"},
      {"letter after the first", {{kRegistroPatronal, "A123456789X"}}, 235, 0, 5, "A123456789X"},
      {"blank and points", {{kRegistroPatronal, " 12.45 7890"}}, 0, 123.45, 5, " 12.45 7890"},
      {"lower-case first letter",
       {{kRegistroPatronal, "a1234567890"}},
       0,
       123.45,
       5,
       "a1234567890"},
      {"nss with a letter", {{EntryField(0, kSeguridadSocial), "1234567890A"}}, 236, 0},
      {"nss of digits and blank", {{EntryField(0, kSeguridadSocial), "1234567890"}}, 0, 123.45},
      {"tipo", {{EntryField(0, kTipoMovimiento), "1A"}}, 196, 0},
      {"dias blank", {{EntryField(0, kDiasIncidencia), " 1"}}, 198, 0},
      {"salario", {{EntryField(0, kSalarioDiario), "00123A5"}}, 400, 0},
      {"type 07 adds nothing", {{EntryField(0, kTipoMovimiento), "07"}}, 0, 0},
      {"earlier type-10 salary stays", {{nss1, "X"}}, 236, 123.45},
      {"blank nss ends the list", {{EntryField(0, kSeguridadSocial), ""}, {nss1, "X"}}, 0, 0},
      {"entry after blank unread", {{EntryField(3, kSeguridadSocial), "garbage"}}, 0, 123.45},
  };
  for (const auto& c : cases) {
    std::string r = ValidMovement();
    for (const auto& e : c.edits) Put(r, e.field, e.text);
    ZAV z;
    z.sgNoContrato = c.header_registro;
    z.iNumReg03 = Variant::Double(3);
    EXPECT_EQ(CheckMovementRecord(z, c.registro, r), c.expected) << c.what;
    EXPECT_EQ(z.iNumReg04, 1) << c.what;  // counted whatever the outcome
    EXPECT_DOUBLE_EQ(z.SumaM8, c.suma_m8) << c.what;
  }
}

TEST(MovementRecordTest, AllSevenEntriesAreExamined) {
  std::string r = ValidMovement();
  for (int i = 0; i < kMovementEntryCount; ++i) PutEntry(r, i, {"1", "10", "01", "0000100"});
  ZAV z;
  z.sgNoContrato = "A1234567890";
  z.SumaM8 = 0.5;  // the total carries over from earlier records
  EXPECT_EQ(CheckMovementRecord(z, 2, r), 0);
  EXPECT_DOUBLE_EQ(z.SumaM8, 7.5);

  Put(r, EntryField(6, kSalarioDiario), "X");
  EXPECT_EQ(CheckMovementRecord(z, 3, r), 400);
  EXPECT_DOUBLE_EQ(z.SumaM8, 13.5);
  EXPECT_EQ(z.iNumReg04, 2);
}

TEST(MovementRecordTest, ShortRecordFailsAtTheCutEntry) {
  ZAV z;
  z.sgNoContrato = "A1234567890";
  EXPECT_EQ(CheckMovementRecord(z, 2, ValidMovement().substr(0, 20)), 236);
}

TEST(MovementRecordTest, CounterOverflowIsARunTimeFailure) {
  ZAV z;
  z.sgNoContrato = "A1234567890";
  z.iNumReg04 = INT_MAX;
  try {
    CheckMovementRecord(z, 2, ValidMovement());
    ADD_FAILURE() << "no failure";
  } catch (const RuntimeFailure& f) {
    EXPECT_EQ(f.number(), err::kOverflow);
  }
}

}  // namespace
}  // namespace zav
