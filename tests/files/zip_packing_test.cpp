#include "files/zip_packing.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadAll;
using testing::TempDrives;

std::uint32_t At(const ZipNumericRecord& r, std::size_t offset, std::size_t width) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint32_t>(r[offset + i]) << (8 * i);
  return v;
}

// The command records start from scratch on every call: leftovers of an earlier packing go.
TEST(EmpacaArchivo, CommandRecordsStartFromScratchOnEveryCall) {
  TempDrives drives;
  drives.Write("C:/ZAV/temp/A.zav", "data");
  const auto& r = ZipCommand();
  const_cast<ZipCommandRecords&>(r).numeric.fill(0x5A);
  EXPECT_EQ(EmpacaArchivo("C:\\ZAV\\temp\\A.zip", "C:\\ZAV\\temp\\A.zav"), 0);
  EXPECT_EQ((std::vector{At(r.numeric, 0, 4), At(r.numeric, 4, 4), At(r.numeric, 40, 4),
                         At(r.numeric, 158, 2)}),
            (std::vector<std::uint32_t>{188, 4, 5, 12}));
  for (std::size_t i = 0; i < r.numeric.size(); ++i) {
    if ((i >= 8 && i < 40) || (i >= 44 && i < 158) || i >= 160) {
      ASSERT_EQ(r.numeric[i], 0) << "byte " << i;
    }
  }
  EXPECT_EQ(r.text[0], "C:\\ZAV\\temp\\A.zip" + std::string(260 - 17, ' '));
  EXPECT_EQ(r.text[1], "C:\\ZAV\\temp\\A.zav" + std::string(5120 - 17, ' '));
  EXPECT_EQ(r.text[9], "Performing ZIP Operation" + std::string(260 - 24, ' '));
  for (std::size_t f = 2; f < 9; ++f) {
    EXPECT_EQ(r.text[f], std::string(kZipTextFieldLengths[f], ' ')) << "field " << f + 1;
  }
}

TEST(EmpacaArchivo, WritesAStandardArchiveHoldingTheFile) {
  TempDrives drives;
  std::string content;
  for (int i = 0; i < 5000; ++i) content += static_cast<char>(i * 7 % 251);
  drives.Write("C:/ZAV/temp/A0501X12.zav", content);
  drives.Write("C:/ZAV/temp/A0501X12.zip", "an older archive");
  ASSERT_EQ(EmpacaArchivo("c:\\zav\\temp\\A0501X12.zip", "C:\\ZAV\\TEMP\\A0501X12.zav"), 0);
  const std::string archive = "'" + drives.native("C:/ZAV/temp/A0501X12.zip").native() + "'";
  const fs::path out = drives.base() / "out";
  ASSERT_EQ(std::system(("unzip -tq " + archive + " >/dev/null && unzip -q -d '" + out.native() +
                         "' " + archive)
                            .c_str()),
            0);
  EXPECT_EQ(Listing(out), std::vector<std::string>{"A0501X12.zav"});  // bare name only
  EXPECT_EQ(ReadAll(out / "A0501X12.zav"), content);
  EXPECT_EQ(Listing(drives.native("C:/ZAV/temp")).size(), 2u);  // the file and its archive
}

// A failure leaves no archive; a path the packer would have to cut is refused whole, so that
// no archive is made under a cut name.
TEST(EmpacaArchivo, FailureLeavesNoArchive) {
  TempDrives drives;
  drives.MakeFolder("C:/ZAV/temp");
  EXPECT_NE(EmpacaArchivo("C:\\ZAV\\temp\\X.zip", "C:\\ZAV\\temp\\X.zav"), 0);
  drives.Write("C:/ZAV/temp/X.zav", "x");
  EXPECT_NE(EmpacaArchivo("C:\\nada\\X.zip", "C:\\ZAV\\temp\\X.zav"), 0);
  EXPECT_NE(EmpacaArchivo("Q:\\X.zip", "C:\\ZAV\\temp\\X.zav"), 0);
  EXPECT_EQ(Listing(drives.native("C:/ZAV/temp")).size(), 1u);

  const std::string d(240, 'd'), folder = "C:\\ZAV\\temp\\" + d + "\\";
  drives.Write("C:/ZAV/temp/" + d + "/A.zav", "data");
  EXPECT_EQ(EmpacaArchivo(folder + "A0501X12.zip", folder + "A.zav"),  // 265 characters
            dzip::kBadCommand);
  EXPECT_EQ(EmpacaArchivo(folder + "A.zip", "C:\\ZAV\\temp\\" + std::string(5120, 'f')),
            dzip::kBadCommand);
  EXPECT_EQ(EmpacaArchivo(folder + "A.zip", folder + "A.zav"), 0);  // 258 characters
  EXPECT_EQ(Listing(drives.native("C:/ZAV/temp/" + d)),
            (std::vector<std::string>{"A.zav", "A.zip"}));
}

TEST(DzipVB, RefusesAnUnknownCommand) {
  TempDrives drives;
  drives.Write("C:/a.zav", "a");
  ZipNumericRecord numeric{};
  std::string text(kZipTextRecordSize, ' ');
  text.replace(0, 8, "C:\\a.zip");
  text.replace(ZipTextFieldOffset(2), 8, "C:\\a.zav");
  std::int32_t status = -1;
  EXPECT_EQ(dzipVB(numeric.data(), text.data(), &status), dzip::kBadCommand);  // no size
  numeric[0] = 188;
  numeric[4] = 5;  // not the packing operation
  EXPECT_EQ(dzipVB(numeric.data(), text.data(), &status), dzip::kBadCommand);
  numeric[4] = 4;
  EXPECT_EQ(dzipVB(numeric.data(), text.data(), &status), 0);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(fs::exists(drives.native("C:/a.zip")));
}

}  // namespace
}  // namespace zav
