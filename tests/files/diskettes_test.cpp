// The diskette methods, part by part; whole sets are joined in split_test.cpp.
#include <gtest/gtest.h>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadAll;
using testing::Record;
using testing::TempDrives;

std::string Records(std::initializer_list<int> types, char fill) {
  std::string s;
  for (int t : types) s += Record(t, fill);
  return s;
}

class Diskettes : public ::testing::Test {
 protected:
  Diskettes() {
    drives_.MakeFolder("C:/ZAV/temp");
    z_.inicio();
    z_.OrigenArchi = "A:\\";
    z_.FinalArchi = "A0501X.ZAV";
  }
  std::string Work() const { return ReadAll(drives_.native("C:/ZAV/temp/A0501X.ZAV")); }
  std::vector<std::string> OnTheMedium() const { return Listing(drives_.root('A')); }

  TempDrives drives_{"A=removable;C=fixed"};
  ZAV z_;
};

TEST_F(Diskettes, OnePieceFileIsItsOwnLastDiskette) {
  const std::string file = Records({2, 3, 4, 5, 6}, 'z');
  drives_.Write("A:/A0501XYZ.zav", file);
  EXPECT_EQ(z_.IntegraDisco("A0501XYZ.ZAV", 0), 0);
  EXPECT_EQ(z_.ChecaUltimoDisco("A0501XYZ.ZAV"), 1);
  EXPECT_EQ(z_.NumDiscos, 1);
  EXPECT_EQ(Work(), file);
}

TEST_F(Diskettes, PartNumberComesFromNdiscoNotFromTheName) {
  drives_.Write("A:/PAGO0501.ZA2", Record(6, '2'));
  drives_.Write("A:/PAGO0501.ZA7", Record(6, '7'));
  EXPECT_EQ(z_.IntegraDisco("PAGO0501.ZA7", 0), 0);  // reads ...za0: missing, so nothing
  EXPECT_EQ(Work(), "");
  EXPECT_EQ(z_.IntegraDisco("pago0501.za7", 2), 0);
  EXPECT_EQ(Work(), Record(6, '2'));
  EXPECT_EQ(z_.ChecaUltimoDisco("PAGO0501.ZA7"), 8);  // the last diskette's own name counts
}

TEST_F(Diskettes, LastRecordTypeDecides) {
  const struct {
    std::string last;
    std::uint8_t expected;
  } cases[] = {
      {Record(3), 0},
      {Record(2), 2},
      {Record(6), 2},
      {Record(0), 2},
      {Record(35), 2},
      {" 4" + Record(0).substr(2), 0},
      {"4x" + Record(0).substr(2), 0},
      {"02" + std::string(148, 'x'), 2},  // a short last record still counts
      {"06" + std::string(145, 'x'), 0},  // too short to count: record 1 (03) is the last
  };
  for (const auto& k : cases) {
    drives_.Write("A:/PAGO0501.ZA1", Record(3) + k.last);
    EXPECT_EQ(z_.ChecaUltimoDisco("PAGO0501.ZA1"), k.expected) << k.last.substr(0, 6);
  }
}

// Malformed names answer 234 and open nothing; a drive not ready fails the call.
TEST_F(Diskettes, FailuresLeaveTheWorkFile) {
  drives_.Write("C:/ZAV/temp/A0501X.ZAV", "work");
  for (const char* name : {"PAGO0501.ZA", "PAGO0501.ZB1", "PAGO0501.XA1", "", "PAGO05.ZA01"}) {
    EXPECT_EQ(z_.IntegraDisco(name, 1), 234) << name;
  }
  fs::remove_all(drives_.root('A'));
  EXPECT_RUNTIME_FAILURE(err::kDiskNotReady, z_.IntegraDisco("PAGO0501.ZA0", 0));
  EXPECT_EQ(z_.ChecaUltimoDisco("PAGO0501.ZA0"), 255);
  EXPECT_EQ(Work(), "work");
}

// The diskettes are only read: a missing part reads as empty and is never created.
TEST_F(Diskettes, MissingPartCreatesNothingOnTheMedium) {
  drives_.Write("A:/OTRO.TXT", "x");
  z_.NumDiscos = 4;
  EXPECT_EQ(z_.IntegraDisco("PAGO0501.ZA0", 0), 0);
  EXPECT_EQ(z_.ChecaUltimoDisco("PAGO0501.ZA0"), 255);
  EXPECT_EQ(z_.NumDiscos, 4);
  EXPECT_EQ(OnTheMedium(), std::vector<std::string>{"OTRO.TXT"});
  EXPECT_EQ(Work(), "");
  drives_.Write("A:/VACIO000.ZA1", "");  // an empty part has no last record
  EXPECT_EQ(z_.ChecaUltimoDisco("VACIO000.ZA1"), 255);
}

// A first diskette starts the work file afresh, whatever an older work file held.
TEST_F(Diskettes, FirstPartReplacesALongerWorkFile) {
  drives_.Write("C:/ZAV/temp/A0501X.ZAV", Records({2, 3, 3, 3, 3, 3, 3, 3, 5, 6}, 'o'));
  drives_.Write("A:/PAGO0501.ZA0", Records({2, 3, 3, 3}, 'n'));
  EXPECT_EQ(z_.IntegraDisco("PAGO0501.ZA0", 0), 0);
  EXPECT_EQ(Work(), Records({2, 3, 3, 3}, 'n'));
  drives_.Write("A:/PAGO0501.ZA1", Records({5, 6}, 'm'));
  EXPECT_EQ(z_.IntegraDisco("PAGO0501.ZA1", 1), 0);
  EXPECT_EQ(Work(), Records({2, 3, 3, 3}, 'n') + Records({5, 6}, 'm'));
  EXPECT_EQ(Listing(drives_.native("C:/ZAV/temp")).size(), 1u);
}

TEST_F(Diskettes, FailedCopyDeletesTheWorkFile) {
  drives_.Write("C:/ZAV/temp/A0501X.ZAV", Record(2));
  fs::permissions(drives_.native("C:/ZAV/temp/A0501X.ZAV"), fs::perms::owner_write,
                  fs::perm_options::remove);  // opens for reading only: every write fails
  drives_.Write("A:/PAGO0501.ZA1", Record(3));
  EXPECT_EQ(z_.IntegraDisco("PAGO0501.ZA1", 1), 5);
  EXPECT_FALSE(fs::exists(drives_.native("C:/ZAV/temp/A0501X.ZAV")));
  EXPECT_EQ(OnTheMedium(), std::vector<std::string>{"PAGO0501.ZA1"});
}

}  // namespace
}  // namespace zav
