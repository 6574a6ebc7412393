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

TEST(Drives, EmptyTableHasNoDrives) {
  TempDrives drives("");
  EXPECT_TRUE(Drives().empty());
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, ResolvePath("C:\\x"));
}

TEST(Drives, MalformedTableIsAnInvalidCall) {
  TempDrives drives;
  for (const char* table :
       {"C", "C=fixed", "C=floppy:/tmp", "1=fixed:/tmp", "C=fixed:/a;c=fixed:/b"}) {
    ::setenv("ZAV_DRIVES", table, 1);
    EXPECT_RUNTIME_FAILURE(err::kInvalidCall, Drives());
  }
}

TEST(Drives, DefaultIsOneFixedDriveUnderTheDataHome) {
  TempDrives drives;
  ::unsetenv("ZAV_DRIVES");
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("XDG_DATA_HOME", drives.base().c_str(), 1);
  const std::vector<Drive> table = Drives();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].letter, 'C');
  EXPECT_EQ(table[0].type, DriveType::kFixed);
  EXPECT_EQ(table[0].root, drives.base() / "zav" / "drive_c");
  EXPECT_TRUE(fs::is_directory(table[0].root));
  if (old != nullptr) {
    ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
}

TEST(ResolvePath, MapsDriveLetterPathsMatchingExistingNamesWithoutCase) {
  TempDrives drives("C=fixed;D=fixed");
  drives.Write("C:/ZAV/temp/PAGO.ZA1", "x");
  drives.MakeFolder("D:/Datos");
  const fs::path c = drives.root('C');
  const struct {
    const char* path;
    fs::path expected;
  } cases[] = {
      {"C:\\ZAV\\temp\\PAGO.ZA1", c / "ZAV/temp/PAGO.ZA1"},
      {"c:\\zav\\TEMP\\pago.za1", c / "ZAV/temp/PAGO.ZA1"},
      {"C:/zav\\temp/pago.za1", c / "ZAV/temp/PAGO.ZA1"},
      {"C:\\zav\\temp\\Nuevo.Zav", c / "ZAV/temp/Nuevo.Zav"},  // a new name keeps its case
      {"C:\\zav\\Otra\\Sub\\", c / "ZAV/Otra/Sub"},
      {"C:", c},
      {"C:\\..\\..\\etc", c / "etc"},  // never above the drive's root
      {"C:\\ZAV\\.\\temp\\..\\x", c / "ZAV/x"},
      {"d:\\DATOS\\a", drives.root('D') / "Datos/a"},
      {"\\zav\\temp", c / "ZAV/temp"},  // the current drive
  };
  for (const auto& k : cases) EXPECT_EQ(ResolvePath(k.path), k.expected) << k.path;
}

TEST(ResolvePath, NativePathsAreNotMappedButStillMatchWithoutCase) {
  TempDrives drives;
  drives.Write("C:/Parts/PAGO.ZA1", "x");
  const fs::path parts = drives.root('C') / "Parts";
  EXPECT_EQ(ResolvePath(parts.native() + "/PAGO.ZA1"), parts / "PAGO.ZA1");
  EXPECT_EQ(ResolvePath(parts.native() + "/pago.za1"), parts / "PAGO.ZA1");
  EXPECT_EQ(ResolvePath(parts.native() + "/new.za2"), parts / "new.za2");
}

TEST(ResolvePath, ControlTextBecomesUtf8Names) {
  TempDrives drives;
  drives.Write("C:/A\xc3\x91O.ZAV", "x");  // "AÑO.ZAV" on disk
  EXPECT_EQ(ResolvePath("C:\\a\361o.zav"), drives.root('C') / "A\xc3\x91O.ZAV");
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
