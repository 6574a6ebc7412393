#include "platform/record_file.hpp"

#include <gtest/gtest.h>

#include "basic/runtime_failure.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::Record;
using testing::TempDrives;

TEST(RecordFile, CountRoundsToTheNearestRecordHalvesToEven) {
  const struct {
    std::int64_t length;
    std::int32_t count;
  } cases[] = {{0, 0},           {147, 0},           {148, 1},
               {295, 1},         {442, 1},           {443, 2},
               {295 * 7 - 2, 7}, {295 * 7 + 148, 8}, {295LL * 100000 + 147, 100000}};
  for (const auto& k : cases) EXPECT_EQ(RecordCountOf(k.length), k.count) << k.length;
  EXPECT_RUNTIME_FAILURE(err::kOverflow, RecordCountOf(295LL * 3000000000LL));
}

TEST(RecordFile, ReadsAndWritesByRecordNumberPaddingPastTheEndWithNuls) {
  TempDrives drives;
  drives.Write("C:/f.zav", Record(2) + Record(3) + "06short");
  RecordFile file("C:\\F.ZAV", RecordFile::Mode::kReadWrite);
  EXPECT_EQ(file.Length(), 2 * 295 + 7);
  EXPECT_EQ(file.RecordCount(), 2);
  std::string r;
  file.Read(2, r);
  EXPECT_EQ(r, Record(3));
  file.Read(3, r);
  EXPECT_EQ(r, "06short" + std::string(288, '\0'));
  file.Read(9, r);
  EXPECT_EQ(r, std::string(295, '\0'));
  EXPECT_RUNTIME_FAILURE(63, file.Read(0, r));
  std::string block(3 * 295, 'x');
  file.ReadRecords(2, 3, block.data());
  EXPECT_EQ(block, Record(3) + "06short" + std::string(288 + 295, '\0'));

  file.Write(1, Record(5));
  file.Write(4, "04");  // padded with NULs; the gap before it reads as NULs
  file.Read(1, r);
  EXPECT_EQ(r, Record(5));
  EXPECT_EQ(file.RecordCount(), 4);
  file.Close();
  EXPECT_EQ(
      ReadAll(drives.native("C:/f.zav")),
      Record(5) + Record(3) + "06short" + std::string(288, '\0') + "04" + std::string(293, '\0'));
}

TEST(RecordFile, OnlyCreateModeCreatesAFile) {
  TempDrives drives;
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, RecordFile("C:\\x.za0", RecordFile::Mode::kRead));
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, RecordFile("C:\\x.za0", RecordFile::Mode::kReadWrite));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound,
                         RecordFile("C:\\no\\x.za0", RecordFile::Mode::kCreate));
  EXPECT_FALSE(fs::exists(drives.native("C:/x.za0")));
  RecordFile("C:\\x.za0", RecordFile::Mode::kCreate);
  EXPECT_TRUE(fs::exists(drives.native("C:/x.za0")));
}

}  // namespace
}  // namespace zav
