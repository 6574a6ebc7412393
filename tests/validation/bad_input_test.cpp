// Bad input brought in from diskette A as a page brings it, then ValidaReg: the answer, and that
// nothing was lost (source, rejected work file, archive). At the command line: cli_test.cpp.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "control/zav.hpp"
#include "platform/temp_drives.hpp"
#include "records/layout.hpp"
#include "records/record_03.hpp"
#include "support/payment_run.hpp"
#include "writing/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::TempDrives;

constexpr char kName[] = "P0404268.ZAV";
constexpr char kOnTime[] = "17/05/2004";

std::string Sample() { return testing::FileOf(SamplePaymentPlan(2, 1)); }

// "0", "message N", or "5 (N)" with the run-time failure behind it.
std::string Answer(ZAV& z, const std::string& result) {
  if (result == "0") return "0";
  if (result == "5") return "5 (" + std::to_string(z.working().last_failure_number) + ")";
  EXPECT_EQ(result, z.Obtiene_Mensajes(z.working().last_message));
  return "message " + std::to_string(z.working().last_message);
}

// Makes a folder unwritable even for root (the immutable flag), or for others by its mode.
// False when neither binds here.
bool Unwritable(const fs::path& folder, bool on) {
  if (::geteuid() != 0) {
    std::error_code ec;
    fs::permissions(folder, on ? fs::perms(0555) : fs::perms(0755), ec);
    return !ec;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  int flags = 0;
  bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) ::close(fd);
  return done;
}

class BadInput : public ::testing::Test {
 protected:
  TempDrives drives_{"C=fixed;A=removable"};
  fs::path work_folder_ = drives_.root('C') / "ZAV" / "temp";
};

struct Case {
  const char* what;
  std::function<void(std::string&)> file;  // alters the sample's bytes
  const char* date = kOnTime;
  const char* expected = "0";
  // Before the file is brought in, and before ValidaReg; false skips the case here.
  std::function<bool(const TempDrives&)> before_copy = nullptr;
  std::function<bool(const TempDrives&)> after_copy = nullptr;
};

TEST_F(BadInput, AnswersAndNothingLost) {
  const Case cases[] = {
      {"a last record short by 100 bytes", [](std::string& b) { b.resize(b.size() - 100); },
       kOnTime, "message 48"},  // its size field no longer matches
      // The last record is lost in the rounding: the deadline is read from the summary.
      {"a last record short by 200 bytes", [](std::string& b) { b.resize(b.size() - 200); },
       kOnTime, "message 219"},
      {"an empty file", [](std::string& b) { b.clear(); }, kOnTime, "5 (13)"},
      {"a NUL in a worker's name",
       [](std::string& b) { b[kRecordLength + record03::kNombre.start] = '\0'; }, kOnTime,
       "message 144"},  // the check value catches what the name check lets through
      {"a high byte in an amount",
       [](std::string& b) { b[kRecordLength + record03::kCuotaFija.start] = '\377'; }, kOnTime,
       "message 177"},
      {"CR LF after every record", [](std::string& b) { b = testing::WithLineEnds(b, "\r\n"); },
       kOnTime, "message 219"},  // the last record, read 10 bytes off, has no deadline
      // The server date's parts are read by their leading numbers (as ObtenDifer reads them,
      // holidays_test.cpp): letters are day 0 of month 0 of year 0, so the payment is on time.
      {"a server date of letters", nullptr, "ab/cd/efgh", "0"},
      {"a server date of 31 February", nullptr, "31/02/2004", "0"},
      {"a server date past the deadline", nullptr, "18/05/2004", "message 253"},
      {"no work folder", nullptr, kOnTime, "message 2",
       [](const TempDrives& d) {
         fs::remove_all(d.root('C') / "ZAV" / "temp");
         return true;
       }},
      {"an unreadable source file", nullptr, kOnTime, "message 2",
       [](const TempDrives& d) {
         fs::permissions(d.root('A') / kName, fs::perms::none);
         return ::geteuid() != 0;  // root reads it all the same
       }},
      {"a work folder packing cannot write to", nullptr, kOnTime, "5 (70)", nullptr,
       [](const TempDrives& d) { return Unwritable(d.root('C') / "ZAV" / "temp", true); }},
      {"a read-only archive of the same name", nullptr, kOnTime, "0", nullptr,
       [](const TempDrives& d) {
         const fs::path archive = d.root('C') / "ZAV" / "temp" /
                                  "33501e01.m1.s0870.rA1234567890.f000001.p200404.e999.zip";
         d.Write("C:/ZAV/temp/" + archive.filename().string(), "old archive");
         fs::permissions(archive, fs::perms(0444));
         return true;
       }},
  };
  const std::string sample = Sample();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(drives_.root('A'));
    fs::remove_all(drives_.root('C'));
    fs::create_directories(drives_.root('A'));
    fs::create_directories(work_folder_);
    std::string bytes = sample;
    if (c.file) c.file(bytes);
    drives_.Write(std::string("A:/") + kName, bytes);
    ZAV z;
    z.inicio();
    z.OrigenArchi = "A:\\";
    z.FinalArchi = kName;
    z.NumDiscos = 1;
    if (c.before_copy && !c.before_copy(drives_)) continue;
    try {
      z.copiaArch(kName);
    } catch (const RuntimeFailure&) {  // nothing brought in: the run says so
    }
    if (c.after_copy && !c.after_copy(drives_)) continue;
    const std::string result = z.ValidaReg(c.date);
    Unwritable(work_folder_, false);
    std::error_code ec;
    fs::permissions(drives_.root('A') / kName, fs::perms(0644), ec);
    EXPECT_EQ(Answer(z, result), c.expected);
    EXPECT_EQ(ReadAll(drives_.root('A') / kName), bytes) << "the source changed";
    const fs::path work = work_folder_ / kName;
    if (result == "0") {
      EXPECT_EQ(testing::Unzipped((work_folder_ / z.sArchZAVZip()).string()), bytes);
      EXPECT_FALSE(fs::exists(work));
    } else if (fs::exists(work)) {
      EXPECT_EQ(ReadAll(work), bytes) << "the rejected work file changed";
    }
    for (const auto& e : fs::directory_iterator(drives_.root('A'))) {
      EXPECT_EQ(e.path().filename(), kName) << "left on the diskette";
    }
  }
}

// A file past 2 GiB: its length does not fit the 32-bit size property, which is an overflow
// and so "5". The file lies sparse in the work folder (a copy would write 2 GiB) and stays
// as it was, with nothing written beside it.
TEST_F(BadInput, FileOverTwoGibibytesIsAnOverflow) {
  const std::string sample = Sample();
  const fs::path work = work_folder_ / kName;
  fs::create_directories(work_folder_);
  drives_.Write(std::string("C:/ZAV/temp/") + kName, sample);
  const std::uintmax_t size = (std::uintmax_t{1} << 31) + 295;
  fs::resize_file(work, size);
  ZAV z;
  z.inicio();
  z.FinalArchi = kName;
  z.OrigenNombre = kName;
  z.NumDiscos = 1;
  EXPECT_EQ(Answer(z, z.ValidaReg(kOnTime)), "5 (6)");
  EXPECT_EQ(fs::file_size(work), size);
  std::ifstream in(work, std::ios::binary);
  std::string head(sample.size(), '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  EXPECT_EQ(head, sample);
  int entries = 0;
  for (const auto& e : fs::directory_iterator(work_folder_)) entries += e.exists() ? 1 : 0;
  EXPECT_EQ(entries, 1);
}

// A diskette taken out between calls: the part reads as empty, the host hears 255 and stops;
// the work file holds the parts joined before, and nothing is written on the diskette.
TEST_F(BadInput, DiskettePartVanishingBetweenCalls) {
  const PaymentPlan plan = SamplePaymentPlan(4, 1);
  const auto parts = WriteDiskettes(plan, drives_.root('A'), "P0404268", 3);
  const std::string first = ReadAll(parts[0]), last = ReadAll(parts[2]);
  ZAV z;
  z.inicio();
  z.OrigenArchi = "A:\\";
  z.FinalArchi = kName;
  z.OrigenNombre = "P0404268.ZA0";
  EXPECT_EQ(z.IntegraDisco("P0404268.ZA0", 0), 0);
  EXPECT_EQ(z.ChecaUltimoDisco("P0404268.ZA0"), 0);
  fs::remove(parts[1]);
  EXPECT_EQ(z.IntegraDisco("P0404268.ZA1", 1), 0);
  EXPECT_EQ(z.ChecaUltimoDisco("P0404268.ZA1"), 255);
  EXPECT_EQ((std::vector{ReadAll(work_folder_ / kName), ReadAll(parts[0]), ReadAll(parts[2])}),
            (std::vector{first, first, last}));
  EXPECT_FALSE(fs::exists(parts[1]));
  // A host that validates what it has gets a verdict, and the work file stays.
  EXPECT_EQ(Answer(z, z.ValidaReg(kOnTime)), "message 219");
  EXPECT_EQ(ReadAll(work_folder_ / kName), first);
}

}  // namespace
}  // namespace zav
