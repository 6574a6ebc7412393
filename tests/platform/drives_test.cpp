#include "platform/drives.hpp"

#include <gtest/gtest.h>

#include "basic/runtime_failure.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::TempDrives;

TEST(Drives, EnumeratedInLetterOrderWithTheirTypes) {
  TempDrives drives("D=fixed;A=removable;Z=ramdisk;C=cdrom;N=network");
  std::string seen;
  for (const Drive& d : Drives()) seen += d.DriveLetter() + std::to_string(d.drivetype());
  EXPECT_EQ(seen, "A1C4D2N3Z5");
}

TEST(Drives, EmptyOrMalformedTables) {
  TempDrives drives("");
  EXPECT_TRUE(Drives().empty());
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, ResolvePath("C:\\x"));
  for (const char* table :
       {"C", "C=fixed", "C=floppy:/tmp", "1=fixed:/tmp", "C=fixed:/a;c=fixed:/b"}) {
    ::setenv("ZAV_DRIVES", table, 1);
    EXPECT_RUNTIME_FAILURE(err::kInvalidCall, Drives());
  }
}

TEST(Drives, DefaultIsOneFixedDriveUnderTheDataHome) {
  TempDrives drives;
  ::unsetenv("ZAV_DRIVES");
  const std::vector<Drive> table = Drives();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].letter, 'C');
  EXPECT_EQ(table[0].type, DriveType::kFixed);
  EXPECT_EQ(table[0].root, drives.base() / "data" / "zav" / "drive_c");
  EXPECT_TRUE(fs::is_directory(table[0].root));
}

TEST(ResolvePath, MapsPathsMatchingExistingNamesWithoutCase) {
  TempDrives drives("C=fixed;D=fixed");
  drives.Write("C:/ZAV/temp/PAGO.ZA1", "x");
  drives.Write("C:/A\xc3\x91O.ZAV", "x");  // "AÑO.ZAV" on disk
  drives.MakeFolder("D:/Datos");
  const fs::path c = drives.root('C'), temp = c / "ZAV/temp";
  const struct {
    std::string path;
    fs::path expected;
  } cases[] = {
      {"C:\\ZAV\\temp\\PAGO.ZA1", temp / "PAGO.ZA1"},
      {"c:\\zav\\TEMP\\pago.za1", temp / "PAGO.ZA1"},
      {"C:/zav\\temp/pago.za1", temp / "PAGO.ZA1"},
      {"C:\\zav\\temp\\Nuevo.Zav", temp / "Nuevo.Zav"},  // a new name keeps its case
      {"C:\\zav\\Otra\\Sub\\", c / "ZAV/Otra/Sub"},
      {"C:", c},
      {"C:\\..\\..\\etc", c / "etc"},  // never above the drive's root
      {"C:\\ZAV\\.\\temp\\..\\x", c / "ZAV/x"},
      {"d:\\DATOS\\a", drives.root('D') / "Datos/a"},
      {"\\zav\\temp", temp},                             // the current drive
      {"C:\\a\361o.zav", c / "A\xc3\x91O.ZAV"},          // control text to UTF-8 names
      {temp.native() + "/PAGO.ZA1", temp / "PAGO.ZA1"},  // native paths are not mapped
      {temp.native() + "/pago.za1", temp / "PAGO.ZA1"},  // but still match without case
      {temp.native() + "/new.za2", temp / "new.za2"},
  };
  for (const auto& k : cases) EXPECT_EQ(ResolvePath(k.path), k.expected) << k.path;
}

TEST(ResolvePath, UnknownDriveIsPathNotFoundAndEmptyDriveIsNotReady) {
  TempDrives drives("C=fixed;A=removable");
  fs::remove(drives.root('A'));  // no diskette in the drive
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, ResolvePath("Q:\\x"));
  EXPECT_RUNTIME_FAILURE(err::kDiskNotReady, ResolvePath("A:\\PAGO.ZA0"));
  EXPECT_RUNTIME_FAILURE(err::kBadFileName, ResolvePath(std::string_view("C:\\a\0b", 6)));
}

}  // namespace
}  // namespace zav
