// The diskette methods, part by part; whole sets are joined in split_test.cpp.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

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

// Malformed names answer 234 and open nothing. Then the work file is opened, and created
// when missing, before the part: without the work folder the call fails with 76 whatever the
// diskette; with the diskette not ready (71) the work file is as it was: an empty one
// is not made for it, and the run then finds no work file (2).
TEST_F(Diskettes, WorkFileIsOpenedBeforeThePart) {
  for (const char* name : {"PAGO0501.ZA", "PAGO0501.ZB1", "PAGO0501.XA1", "", "PAGO05.ZA01"}) {
    EXPECT_EQ(z_.IntegraDisco(name, 1), 234) << name;
  }
  EXPECT_TRUE(Listing(drives_.native("C:/ZAV/temp")).empty());
  fs::remove_all(drives_.root('A'));
  fs::remove_all(drives_.native("C:/ZAV"));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, z_.IntegraDisco("PAGO0501.ZA0", 0));
  drives_.Write("C:/ZAV/temp/A0501X.ZAV", "work");
  EXPECT_RUNTIME_FAILURE(err::kDiskNotReady, z_.IntegraDisco("PAGO0501.ZA0", 0));
  EXPECT_EQ(Work(), "work");
  fs::remove(drives_.native("C:/ZAV/temp/A0501X.ZAV"));
  EXPECT_RUNTIME_FAILURE(err::kDiskNotReady, z_.IntegraDisco("PAGO0501.ZA1", 1));
  EXPECT_EQ(z_.ChecaUltimoDisco("PAGO0501.ZA1"), 255);
  EXPECT_TRUE(Listing(drives_.native("C:/ZAV/temp")).empty());
  z_.OrigenNombre = "PAGO0501.ZA0";
  EXPECT_EQ(z_.ValidaReg("10/05/2004").substr(0, 10), z_.Obtiene_Mensajes(2).substr(0, 10));
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

// A work file the copy may not write, the same for every part: a read-only one ends the
// copy with 5 and stays as it was; a work path that names a folder cannot be opened (75).
TEST_F(Diskettes, WorkFileThatCannotBeWritten) {
  const fs::path work = drives_.native("C:/ZAV/temp/A0501X.ZAV");
  for (std::uint8_t k : {0, 1}) {
    const std::string name = "PAGO0501.ZA" + std::to_string(k);
    drives_.Write("A:/" + name, Record(3));
    drives_.Write("C:/ZAV/temp/A0501X.ZAV", "old");
    fs::permissions(work, fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_EQ(z_.IntegraDisco(name, k), 5) << name;
    EXPECT_EQ(Work(), "old") << name;
    EXPECT_EQ(fs::status(work).permissions() & fs::perms::owner_write, fs::perms::none);
    fs::remove(work);
    fs::create_directory(work);
    EXPECT_RUNTIME_FAILURE(err::kPathFileAccess, z_.IntegraDisco(name, k));
    EXPECT_TRUE(fs::is_directory(work)) << name;
    fs::remove(work);
  }
  EXPECT_EQ(OnTheMedium(), (std::vector<std::string>{"PAGO0501.ZA0", "PAGO0501.ZA1"}));
}

// While the process may write no more than `bytes` to a file, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    old_signal_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_signal_);
  }

 private:
  rlimit old_{};
  void (*old_signal_)(int) = nullptr;
};

// A write that fails half-way ends the copy with 5 and deletes the work file, whatever the
// part; the diskette keeps its part.
TEST_F(Diskettes, FailedCopyDeletesTheWorkFile) {
  drives_.Write("A:/PAGO0501.ZA0", Records({2, 3, 3}, 'p'));
  drives_.Write("A:/PAGO0501.ZA1", Records({3, 3, 3}, 'q'));
  std::int16_t answers[2];
  bool left[2];
  {
    FileSizeLimit limit(2 * 295);
    for (std::uint8_t k : {0, 1}) {
      drives_.Write("C:/ZAV/temp/A0501X.ZAV", Record(2));
      answers[k] = z_.IntegraDisco("PAGO0501.ZA" + std::to_string(k), k);
      left[k] = fs::exists(drives_.native("C:/ZAV/temp/A0501X.ZAV"));
    }
  }
  EXPECT_EQ(answers[0], 5);
  EXPECT_EQ(answers[1], 5);
  EXPECT_FALSE(left[0]);
  EXPECT_FALSE(left[1]);
  EXPECT_TRUE(Listing(drives_.native("C:/ZAV/temp")).empty());
  EXPECT_EQ(ReadAll(drives_.root('A') / "PAGO0501.ZA0"), Records({2, 3, 3}, 'p'));
}

}  // namespace
}  // namespace zav
