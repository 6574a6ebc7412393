// The diagnosis lists every problem of a payment file, while the validation run on the same
// file still stops at, and reports, the first. The problems of the file as a whole are in
// file_driver_test.cpp, next to the run's.
#include "validation/diagnosis.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "control/messages.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "records/record_04.hpp"
#include "validation/file_driver.hpp"
#include "validation/payment_run.hpp"

namespace zav {
namespace {

using namespace testing;

// A problem as (record, field start, message).
using Seen = std::tuple<std::int32_t, int, std::int16_t>;

std::vector<Seen> Summary(const std::vector<Problem>& problems) {
  std::vector<Seen> out;
  for (const Problem& p : problems) out.push_back({p.record, p.start, p.message});
  return out;
}

class Diagnosis : public PaymentRun {
 protected:
  // The run's message on a copy of the control (0 for "0", -1 for "5").
  std::int16_t RunMessage() {
    ZAV run = z_;
    const std::string result = RunValidation(run, kOnTime, RunOptions{false});
    return result == "5" ? -1 : run.working().last_message;
  }
};

TEST_F(Diagnosis, ListsEveryFaultWhileTheRunReportsTheFirst) {
  std::string bytes = FileOf(Small());
  Bring(bytes);
  EXPECT_EQ(RunMessage(), 0);
  EXPECT_TRUE(DiagnoseFile(z_, kOnTime).empty());

  using namespace record03;
  Put(bytes, 1, record02::kCodigoPostal, "0660X");                          // 2100
  Put(bytes, 2, kSeguridadSocial, "1234567890X");                           // 225
  Put(bytes, 2, kTipoTrabajador, "X");                                      // 172, same record
  Put(bytes, 2, kDiasCotizadosBimestre, "6X");                              // 185, same record
  Put(bytes, 3, kNombre, "MARIA \245");                                     // 3113
  Put(bytes, 4, EntryField(0, record04::kSeguridadSocial), "ABCDEFGHIJK");  // 236
  Put(bytes, 6, record06::kVersion, "W201");                                // 49, the file's
  Reseal(bytes);
  Bring(bytes);

  const std::vector<Problem> problems = DiagnoseFile(z_, kOnTime);
  const std::vector<Seen> expected = {
      {6, 69, 49},   {1, 171, 2100}, {2, 33, 225}, {2, 152, 172},
      {2, 216, 185}, {3, 95, 3113},  {4, 14, 236},
  };
  EXPECT_EQ(Summary(problems), expected);
  EXPECT_EQ(RunMessage(), 49);  // the run stops at the first
  ASSERT_EQ(problems.size(), expected.size());
  EXPECT_EQ(problems[2].type, 3);
  EXPECT_EQ(problems[2].length, 11);
  EXPECT_EQ(problems[2].field, "n\372mero de seguridad social");
  EXPECT_EQ(problems[2].text, CatalogText(225));
  EXPECT_EQ(problems[6].field, "movimiento 1: n\372mero de seguridad social");

  // With the version mended, the run's verdict moves on to the next problem in the list.
  Put(bytes, 6, record06::kVersion, "W301");
  Reseal(bytes);
  Bring(bytes);
  EXPECT_EQ(RunMessage(), 2100);
  EXPECT_EQ(Summary(DiagnoseFile(z_, kOnTime)),
            std::vector<Seen>(expected.begin() + 1, expected.end()));
}

// A run-time failure ends the run with "5"; the diagnosis notes it against its record and
// goes on to the problems after it.
TEST_F(Diagnosis, RunTimeFailureIsNotedAndTheWalkGoesOn) {
  std::string bytes = FileOf(Small());
  Put(bytes, 5, record02::kTipo, "-5");  // the summary's type is not a byte
  Put(bytes, 6, record06::kFolio, "999999");
  Reseal(bytes);
  Bring(bytes);
  EXPECT_EQ(RunMessage(), -1);
  const std::vector<Problem> problems = DiagnoseFile(z_, kOnTime);
  ASSERT_GE(problems.size(), 2u);
  EXPECT_EQ(problems[0].record, 5);
  EXPECT_NE(problems[0].failure, 0);
  EXPECT_EQ(Summary({problems[1]}).front(), (Seen{6, 33, 252}));
  // The work file stays where it was, unchanged.
  EXPECT_EQ(ReadAll(drives_.native("C:/ZAV/temp/P0506268.ZAV")), bytes);
}

}  // namespace
}  // namespace zav
