// The work folder, bringing a payment file into it whole (copiaArch) or diskette by diskette
// (IntegraDisco, ChecaUltimoDisco), and splitting a file over diskettes that join back.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <iterator>
#include <set>
#include <sstream>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "files/split.hpp"
#include "platform/temp_drives.hpp"
#include "records/checksum.hpp"
#include "records/record_06.hpp"
#include "validation/file_driver.hpp"
#include "writing/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadAll;
using testing::Record;
using testing::TempDrives;
using Names = std::vector<std::string>;

std::string Records(std::initializer_list<int> types, char fill) {
  std::string s;
  for (int t : types) s += Record(t, fill);
  return s;
}

// Every folder under the drives, as "C:/ZAV/temp".
std::set<std::string> Folders(const TempDrives& drives) {
  std::set<std::string> folders;
  for (const auto& e : fs::recursive_directory_iterator(drives.base())) {
    if (!e.is_directory()) continue;
    const std::string rel = fs::relative(e.path(), drives.base()).generic_string();
    if (rel.size() > 8) folders.insert(rel.substr(6, 1) + ":" + rel.substr(7));  // drive_C/..
  }
  return folders;
}

// The names in `text`, separated by spaces.
std::vector<std::string> Split(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

TEST(Inicio, ChoosesTheWorkFolderOnTheFixedDisks) {
  const struct {
    const char *drives, *folders, *expected, *created;  // folders there before, folders made
    const char* before = "";                            // the work folder of an earlier call
  } cases[] = {
      {"C=fixed;D=fixed", "D:/ZAV D:/ZAV/temp", "D:\\ZAV\\temp\\", ""},
      {"C=fixed;D=fixed", "C:/ZAV C:/ZAV/temp D:/zav D:/zav/TEMP", "D:\\ZAV\\temp\\", ""},
      {"C=fixed;D=fixed", "C:/ZAV", "C:\\ZAV\\temp\\", "C:/ZAV/temp"},
      {"C=fixed;D=fixed", "", "C:\\ZAV\\temp\\", "C:/ZAV C:/ZAV/temp"},
      {"A=removable;C=fixed;E=cdrom;N=network",
       "A:/ZAV A:/ZAV/temp E:/ZAV E:/ZAV/temp N:/ZAV N:/ZAV/temp", "C:\\ZAV\\temp\\",
       "C:/ZAV C:/ZAV/temp"},
      {"A=removable;D=fixed", "", "D:\\ZAV\\temp\\", "D:/ZAV D:/ZAV/temp"},
      {"C=fixed", "", "C:\\otro\\", "", "C:\\otro\\"},  // kept when no disk holds one
  };
  for (const auto& k : cases) {
    TempDrives drives(k.drives);
    for (const std::string& f : Split(k.folders)) drives.MakeFolder(f);
    std::set<std::string> expected = Folders(drives);
    for (const std::string& f : Split(k.created)) expected.insert(f);
    ZAV z;
    z.bgGerencia = true;
    z.DestinoArchi = k.before;
    z.inicio();
    EXPECT_EQ(z.DestinoArchi, k.expected) << k.drives;
    EXPECT_FALSE(z.bgGerencia);
    EXPECT_EQ(Folders(drives), expected) << k.drives;
  }
  // Without a fixed disk there is no sound work folder: the call fails and changes nothing.
  for (const char* table : {"", "A=removable;E=cdrom"}) {
    TempDrives drives(table);
    ZAV z;
    z.DestinoArchi = "X:\\antes\\";
    z.bgGerencia = true;
    EXPECT_RUNTIME_FAILURE(err::kPathNotFound, z.inicio());
    EXPECT_EQ(z.DestinoArchi, "X:\\antes\\");
    EXPECT_TRUE(z.bgGerencia);
  }
}

// A listing of the path finds a normal file; the listing's own rules (case, wildcards,
// hidden files) are tested with ListDirectory.
TEST(ExisteArchivo, FindsNormalFilesOnly) {
  TempDrives drives("C=fixed;A=removable");
  drives.Write("C:/d/PAGO.ZAV", "p");
  drives.Write("C:/solo_oculto/.x", "h");
  drives.MakeFolder("C:/d/sub");
  fs::remove(drives.root('A'));
  const std::pair<std::string, bool> cases[] = {
      {"C:\\d\\PAGO.ZAV", true},    {"C:\\d\\\\", true},     {"C:\\d\\", true},
      {"C:\\solo_oculto\\", false}, {"C:\\d\\sub", false},   {"C:\\d", false},
      {"A:\\PAGO.ZAV", false},      {"Q:\\PAGO.ZAV", false},
  };
  ZAV z;
  for (auto [path, expected] : cases) EXPECT_EQ(z.ExisteArchivo(path), expected) << path;
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
  Names InTemp() const { return Listing(drives_.native("C:/ZAV/temp")); }

  TempDrives drives_{"A=removable;C=fixed"};
  ZAV z_;
};

TEST_F(Diskettes, CopiaArchReplacesTheWorkFileEvenWhenReadOnly) {
  drives_.Write("A:/PAGO.ZAV", "new payment");
  drives_.Write("C:/ZAV/temp/a0501x.zav", "an older and longer work file");
  fs::permissions(drives_.native("C:/ZAV/temp/a0501x.zav"), fs::perms::owner_write,
                  fs::perm_options::remove);
  z_.copiaArch("pago.zav");
  EXPECT_EQ(z_.OrigenNombre, "pago.zav");
  EXPECT_EQ(Work(), "new payment");
  EXPECT_EQ(ReadAll(drives_.native("A:/PAGO.ZAV")), "new payment");
  EXPECT_EQ(InTemp().size(), 1u);
  // A missing source fails after deleting the old work file.
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, z_.copiaArch("NADA.ZAV"));
  EXPECT_EQ(z_.OrigenNombre, "NADA.ZAV");
  EXPECT_TRUE(InTemp().empty());
  fs::remove_all(drives_.root('A'));
  EXPECT_RUNTIME_FAILURE(err::kDiskNotReady, z_.copiaArch("PAGO.ZAV"));
}

// The part number is IntegraDisco's argument, not the name's; a missing part reads as empty
// and is never created; a first part starts the work file afresh, whatever an older one held;
// a one-piece file is its own last diskette. Later parts joining is SplitIntoDiskettes'.
TEST_F(Diskettes, PartsJoinIntoTheWorkFile) {
  drives_.Write("A:/OTRO.TXT", "x");
  z_.NumDiscos = 4;
  EXPECT_EQ(z_.IntegraDisco("PAGO0501.ZA0", 0), 0);
  EXPECT_EQ(z_.ChecaUltimoDisco("PAGO0501.ZA0"), 255);
  EXPECT_EQ(z_.NumDiscos, 4);
  EXPECT_EQ(Listing(drives_.root('A')), Names{"OTRO.TXT"});
  EXPECT_EQ(Work(), "");
  drives_.Write("A:/VACIO000.ZA1", "");  // an empty part has no last record
  EXPECT_EQ(z_.ChecaUltimoDisco("VACIO000.ZA1"), 255);

  drives_.Write("A:/PAGO0501.ZA2", Record(6, '2'));
  drives_.Write("A:/PAGO0501.ZA7", Record(6, '7'));
  EXPECT_EQ(z_.IntegraDisco("PAGO0501.ZA7", 0), 0);  // reads ...za0: missing, so nothing
  EXPECT_EQ(Work(), "");
  EXPECT_EQ(z_.IntegraDisco("pago0501.za7", 2), 0);
  EXPECT_EQ(Work(), Record(6, '2'));
  EXPECT_EQ(z_.ChecaUltimoDisco("PAGO0501.ZA7"), 8);  // the last diskette's own name counts

  drives_.Write("C:/ZAV/temp/A0501X.ZAV", Records({2, 3, 3, 3, 3, 3, 3, 3, 5, 6}, 'o'));
  drives_.Write("A:/PAGO0501.ZA0", Records({2, 3, 3, 3}, 'n'));
  EXPECT_EQ(z_.IntegraDisco("PAGO0501.ZA0", 0), 0);
  EXPECT_EQ(Work(), Records({2, 3, 3, 3}, 'n'));
  EXPECT_EQ(InTemp().size(), 1u);

  drives_.Write("A:/A0501XYZ.zav", Records({2, 3, 4, 5, 6}, 'z'));
  EXPECT_EQ(z_.IntegraDisco("A0501XYZ.ZAV", 0), 0);
  EXPECT_EQ(z_.ChecaUltimoDisco("A0501XYZ.ZAV"), 1);
  EXPECT_EQ(z_.NumDiscos, 1);
  EXPECT_EQ(Work(), Records({2, 3, 4, 5, 6}, 'z'));
}

TEST_F(Diskettes, LastRecordTypeDecides) {
  const std::pair<std::string, std::uint8_t> cases[] = {
      {Record(3), 0},
      {Record(2), 2},
      {Record(6), 2},
      {" 4" + Record(0).substr(2), 0},
      {"4x" + Record(0).substr(2), 0},
      {"02" + std::string(148, 'x'), 2},  // a short last record still counts
      {"06" + std::string(145, 'x'), 0},  // too short to count: record 1 (03) is the last
  };
  for (const auto& [last, expected] : cases) {
    drives_.Write("A:/PAGO0501.ZA1", Record(3) + last);
    EXPECT_EQ(z_.ChecaUltimoDisco("PAGO0501.ZA1"), expected) << last.substr(0, 6);
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
  EXPECT_TRUE(InTemp().empty());
  fs::remove_all(drives_.root('A'));
  fs::remove_all(drives_.native("C:/ZAV"));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, z_.IntegraDisco("PAGO0501.ZA0", 0));
  drives_.Write("C:/ZAV/temp/A0501X.ZAV", "work");
  EXPECT_RUNTIME_FAILURE(err::kDiskNotReady, z_.IntegraDisco("PAGO0501.ZA0", 0));
  EXPECT_EQ(Work(), "work");
  fs::remove(drives_.native("C:/ZAV/temp/A0501X.ZAV"));
  EXPECT_RUNTIME_FAILURE(err::kDiskNotReady, z_.IntegraDisco("PAGO0501.ZA1", 1));
  EXPECT_EQ(z_.ChecaUltimoDisco("PAGO0501.ZA1"), 255);
  EXPECT_TRUE(InTemp().empty());
  z_.OrigenNombre = "PAGO0501.ZA0";
  EXPECT_EQ(z_.ValidaReg("10/05/2004").substr(0, 10), z_.Obtiene_Mensajes(2).substr(0, 10));
}

// While the process may write no more than `bytes` to a file, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : old_signal_(std::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
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
  void (*old_signal_)(int);
};

// A work file the copy may not write, for every part: a read-only one ends the copy with 5 and
// stays as it was; a work path naming a folder cannot be opened (75); a write that fails
// half-way ends the copy with 5 and deletes the work file. The diskettes keep their parts.
TEST_F(Diskettes, WorkFileThatCannotBeWritten) {
  const fs::path work = drives_.native("C:/ZAV/temp/A0501X.ZAV");
  drives_.Write("A:/PAGO0501.ZA0", Records({2, 3, 3}, 'p'));
  drives_.Write("A:/PAGO0501.ZA1", Records({3, 3, 3}, 'q'));
  for (std::uint8_t k : {0, 1}) {
    const std::string name = "PAGO0501.ZA" + std::to_string(k);
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
  std::vector<std::pair<std::int16_t, bool>> answers;  // checked once the limit is gone
  {
    FileSizeLimit limit(2 * 295);
    for (std::uint8_t k : {0, 1}) {
      drives_.Write("C:/ZAV/temp/A0501X.ZAV", Record(2));
      const std::int16_t answer = z_.IntegraDisco("PAGO0501.ZA" + std::to_string(k), k);
      answers.emplace_back(answer, fs::exists(work));
    }
  }
  EXPECT_EQ(answers, (std::vector<std::pair<std::int16_t, bool>>{{5, false}, {5, false}}));
  EXPECT_TRUE(InTemp().empty());
  EXPECT_EQ(Listing(drives_.root('A')), (Names{"PAGO0501.ZA0", "PAGO0501.ZA1"}));
  EXPECT_EQ(ReadAll(drives_.root('A') / "PAGO0501.ZA0"), Records({2, 3, 3}, 'p'));
}

// The file with the validation record's diskette count and check value taken from `from`.
std::string WithSealOf(std::string bytes, const std::string& from) {
  const std::size_t last = bytes.size() - kRecordLength;
  for (const Field& f : {record06::kDiscos, record06::kCheckSum}) {
    const std::size_t at = last + static_cast<std::size_t>(f.start - 1);
    bytes.replace(at, static_cast<std::size_t>(f.length), from, at,
                  static_cast<std::size_t>(f.length));
  }
  return bytes;
}

TEST(SplitIntoDiskettes, PartsJoinBackIntoAFileThatValidates) {
  const PaymentPlan plan = SamplePaymentPlan(12, 4);  // 12 workers: 14 places to cut
  for (const int parts : {1, 2, 3, 10}) {
    SCOPED_TRACE(std::to_string(parts) + " parts");
    TempDrives drives("C=fixed;A=removable");
    const fs::path input = drives.root('A') / "in" / WorkFileName(plan);
    fs::create_directories(input.parent_path());
    WritePaymentFile(plan, input);
    const std::string original = ReadAll(input);
    const auto written = SplitIntoDiskettes(input, parts, drives.root('A'));
    ASSERT_EQ(written.size(), static_cast<std::size_t>(parts));
    EXPECT_EQ(ReadAll(input), original) << "the input is never changed";

    ZAV z;
    z.inicio();
    z.OrigenArchi = "A:\\";
    z.FinalArchi = WorkFileName(plan);
    z.OrigenNombre = written.front().filename().string();
    std::vector<int> answers, expected(static_cast<std::size_t>(parts), 0);
    expected.back() = parts;
    for (int k = 0; k < parts; ++k) {
      const std::string name = written[static_cast<std::size_t>(k)].filename().string();
      EXPECT_EQ(name, fs::path(WorkFileName(plan)).stem().string() + ".ZA" + std::to_string(k));
      ASSERT_EQ(z.IntegraDisco(name, static_cast<std::uint8_t>(k)), 0);
      answers.push_back(z.ChecaUltimoDisco(name));
    }
    EXPECT_EQ(answers, expected);
    const std::string joined = ReadAll(drives.native("C:/ZAV/temp/" + z.FinalArchi));
    EXPECT_EQ(WithSealOf(joined, original), original);
    EXPECT_EQ(RunValidation(z, "17/05/2004", RunOptions{false}), "0") << z.working().last_message;
  }
}

TEST(SplitIntoDiskettes, RefusesWhatCannotBeSplitAndWritesNothing) {
  struct Case {
    const char* what;
    int parts;
    void (*edit)(std::string& bytes);
    const char* name = "P0404268.ZAV";
    const char* existing = nullptr;  // a file there before, kept as it was
  };
  const Case cases[] = {
      {"no parts", 0, nullptr},
      {"eleven parts", 11, nullptr},
      {"more parts than places to cut (3 workers, 1 movement and 1 summary record)", 7, nullptr},
      {"a base name of 7 characters", 2, nullptr, "P040426.ZAV"},
      {"a partial record", 2, [](std::string& b) { b.pop_back(); }},
      {"a check value that no longer matches", 2,
       [](std::string& b) { b[kRecordLength + 100] = 'Q'; }},
      {"no validation record last", 2, [](std::string& b) { b.resize(b.size() - kRecordLength); }},
      {"an output that is the input", 2, nullptr, "P0404268.ZA1"},
      {"a part that exists already", 2, nullptr, "P0404268.ZAV", "P0404268.ZA1"},
  };
  const PaymentPlan plan = SamplePaymentPlan(3, 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDrives drives("");
    const fs::path input = drives.base() / c.name;
    WritePaymentFile(plan, input);
    std::string bytes = ReadAll(input);
    if (c.edit) {
      c.edit(bytes);
      std::ofstream(input, std::ios::binary | std::ios::trunc) << bytes;
    }
    Names listing{c.name};
    if (c.existing) {
      std::ofstream(drives.base() / c.existing) << "earlier";
      listing.insert(listing.begin(), c.existing);  // in name order
    }
    EXPECT_RUNTIME_FAILURE(err::kInvalidCall, SplitIntoDiskettes(input, c.parts, drives.base()));
    EXPECT_EQ(Listing(drives.base()), listing);
    if (c.existing) {
      EXPECT_EQ(ReadAll(drives.base() / c.existing), "earlier");
    }
    EXPECT_EQ(ReadAll(input), bytes);
  }
}

}  // namespace
}  // namespace zav
