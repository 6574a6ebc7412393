// The drive table, control paths mapped to native ones, the file operations on them, and
// values read out of a settings file, and files read and written by record number.
#include "platform/file_system.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "basic/runtime_failure.hpp"
#include "platform/drives.hpp"
#include "platform/profile.hpp"
#include "platform/record_file.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadAll;
using testing::Record;
using testing::TempDrives;
using Names = std::vector<std::string>;

void MakeReadOnly(const fs::path& p) {
  fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

TEST(Drives, TableInLetterOrderDefaultAndMalformed) {
  TempDrives drives("D=fixed;A=removable;Z=ramdisk;C=cdrom;N=network");
  std::string seen;
  for (const Drive& d : Drives()) seen += d.DriveLetter() + std::to_string(d.drivetype());
  EXPECT_EQ(seen, "A1C4D2N3Z5");
  ::unsetenv("ZAV_DRIVES");  // the default: one fixed drive under the data home
  const std::vector<Drive> table = Drives();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(std::tie(table[0].letter, table[0].type, table[0].root),
            std::tuple('C', DriveType::kFixed, drives.base() / "data" / "zav" / "drive_c"));
  EXPECT_TRUE(fs::is_directory(table[0].root));
  for (const char* bad :
       {"C", "C=fixed", "C=floppy:/tmp", "1=fixed:/tmp", "C=fixed:/a;c=fixed:/b"}) {
    ::setenv("ZAV_DRIVES", bad, 1);
    EXPECT_RUNTIME_FAILURE(err::kInvalidCall, Drives());
  }
  ::setenv("ZAV_DRIVES", "", 1);
  EXPECT_TRUE(Drives().empty());
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, ResolvePath("C:\\x"));
}

TEST(ResolvePath, MapsPathsMatchingExistingNamesWithoutCase) {
  TempDrives drives("C=fixed;D=fixed;A=removable");
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
  fs::remove(drives.root('A'));  // no diskette in the drive
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, ResolvePath("Q:\\x"));
  EXPECT_RUNTIME_FAILURE(err::kDiskNotReady, ResolvePath("A:\\PAGO.ZA0"));
  EXPECT_RUNTIME_FAILURE(err::kBadFileName, ResolvePath(std::string_view("C:\\a\0b", 6)));
}

TEST(FileSystem, ListDirectoryFiltersByAttributeAndFileExistsMatchesWithoutCase) {
  TempDrives drives;
  drives.Write("C:/d/PAGO.ZA0", "0");
  drives.Write("C:/d/pago.za1", "1");
  drives.Write("C:/d/Otro.zav", "2");
  drives.Write("C:/d/.oculto.zav", "3");
  drives.Write("C:/d/SOLO.ZA2", "4");
  MakeReadOnly(drives.native("C:/d/SOLO.ZA2"));
  drives.MakeFolder("C:/d/Carpeta.za9");
  const struct {
    const char* pattern;
    int attributes;
    Names expected;
  } cases[] = {
      {"C:\\d\\p*.za?", attr::kNormal, {"PAGO.ZA0", "pago.za1"}},
      {"C:\\d\\*.za?",
       attr::kDirectory,
       {"Carpeta.za9", "Otro.zav", "PAGO.ZA0", "pago.za1", "SOLO.ZA2"}},
      {"C:\\d\\*.zav", attr::kNormal, {"Otro.zav"}},
      {"C:\\d\\*.zav", attr::kHidden, {".oculto.zav", "Otro.zav"}},
      {"C:\\d\\", attr::kNormal, {"Otro.zav", "PAGO.ZA0", "pago.za1", "SOLO.ZA2"}},
      {"c:\\D\\p?go.ZA0", attr::kNormal, {"PAGO.ZA0"}},
      {"C:\\d\\carpeta.za9", attr::kDirectory, {"Carpeta.za9"}},
      {"C:\\d", attr::kDirectory, {"d"}},
      {"C:\\nada\\*.*", attr::kNormal, {}},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(ListDirectory(k.pattern, k.attributes), k.expected) << k.pattern;
  }
  // FileExists counts hidden files, not folders nor patterns.
  EXPECT_EQ((std::vector{FileExists("c:\\D\\pago.ZA0"), FileExists("C:\\d\\.oculto.zav"),
                         FileExists("C:\\d\\Carpeta.za9"), FileExists("C:\\d\\*.zav"),
                         FileExists("Q:\\d\\Otro.zav")}),
            (std::vector{true, true, false, false, false}));
  EXPECT_EQ(FirstMatch("C:\\d\\*.ZA?") + "|" + FirstMatch("C:\\d\\*.txt"), "Otro.zav|");
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, FirstMatch("Q:\\*.*"));
}

// Deleting needs force for a read-only file; a move only goes onto a free name; a folder is
// made only under an existing one.
TEST(FileSystem, DeleteMoveAndCreateFolder) {
  TempDrives drives;
  drives.Write("C:/d/ro.zav", "r");
  drives.Write("C:/d/x1.tmp", "1");
  drives.Write("C:/d/x2.tmp", "2");
  MakeReadOnly(drives.native("C:/d/ro.zav"));
  EXPECT_RUNTIME_FAILURE(err::kPermissionDenied, DeleteFile("C:\\d\\RO.ZAV"));
  EXPECT_TRUE(fs::exists(drives.native("C:/d/ro.zav")));
  DeleteFile("C:\\d\\RO.ZAV", true);
  DeleteFile("C:\\d\\*.TMP");
  EXPECT_TRUE(Listing(drives.native("C:/d")).empty());
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, DeleteFile("C:\\d\\ro.zav", true));
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, DeleteFile("C:\\d\\*.tmp"));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, DeleteFile("C:\\nada\\x.tmp"));

  drives.Write("C:/w/a.zav", "a");
  drives.Write("C:/w/b.zav", "b");
  EXPECT_RUNTIME_FAILURE(err::kPathFileAccess, MoveFile("C:\\w\\A.ZAV", "C:\\w\\B.zav"));
  MoveFile("C:\\w\\A.ZAV", "C:\\w\\C.zav");
  EXPECT_EQ(Listing(drives.native("C:/w")), (Names{"C.zav", "b.zav"}));
  EXPECT_EQ(ReadAll(drives.native("C:/w/C.zav")), "a");
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, MoveFile("C:\\w\\a.zav", "C:\\w\\d.zav"));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, MoveFile("C:\\w\\b.zav", "C:\\x\\d.zav"));

  CreateFolder("C:\\ZAV");
  CreateFolder("C:\\zav\\temp");
  EXPECT_TRUE(fs::is_directory(drives.native("C:/ZAV/temp")));
  EXPECT_RUNTIME_FAILURE(err::kPathFileAccess, CreateFolder("C:\\ZAV\\TEMP"));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, CreateFolder("C:\\a\\b"));
}

TEST(FileSystem, CopyFileReplacesWholeAndLeavesTheSourceAlone) {
  TempDrives drives("C=fixed;A=removable");
  drives.Write("A:/PAGO.ZAV", "payment");
  MakeReadOnly(drives.native("A:/PAGO.ZAV"));
  drives.Write("C:/w/old.zav", "old content, longer than the new one");
  CopyFile("A:\\pago.zav", "C:\\W\\OLD.ZAV");
  EXPECT_EQ(ReadAll(drives.native("C:/w/old.zav")), "payment");
  CopyFile("A:\\PAGO.ZAV", "C:\\w\\");
  EXPECT_EQ(ReadAll(drives.native("C:/w/PAGO.ZAV")), "payment");
  EXPECT_EQ(Listing(drives.native("C:/w")), (Names{"PAGO.ZAV", "old.zav"}));
  EXPECT_EQ(ReadAll(drives.native("A:/PAGO.ZAV")), "payment");

  // The copy of a read-only file is read-only too, and will not be overwritten.
  EXPECT_RUNTIME_FAILURE(err::kPermissionDenied, CopyFile("A:\\PAGO.ZAV", "C:\\w\\old.zav"));
  CopyFile("A:\\PAGO.ZAV", "C:\\w\\x", false);
  EXPECT_RUNTIME_FAILURE(err::kPathFileAccess, CopyFile("A:\\PAGO.ZAV", "C:\\w\\x", false));
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, CopyFile("A:\\OTRO.ZAV", "C:\\w\\y"));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, CopyFile("A:\\PAGO.ZAV", "C:\\nada\\y"));
  EXPECT_RUNTIME_FAILURE(err::kPermissionDenied, CopyFile("A:\\PAGO.ZAV", "C:\\w"));
  fs::remove(drives.native("A:/PAGO.ZAV"));
  fs::remove(drives.root('A'));
  EXPECT_RUNTIME_FAILURE(err::kDiskNotReady, CopyFile("A:\\PAGO.ZAV", "C:\\w\\z"));
  EXPECT_EQ(Listing(drives.native("C:/w")), (Names{"PAGO.ZAV", "old.zav", "x"}));
}

TEST(FileSystem, ExtensionNames) {
  const std::pair<const char*, const char*> cases[] = {{"C:\\ZAV\\temp\\PAGO.ZA0", "ZA0"},
                                                       {"A:PAGO", ""},
                                                       {"C:\\a.b\\c", ""},
                                                       {"x.tar.gz", "gz"},
                                                       {"pago.", ""},
                                                       {"", ""}};
  for (const auto& [path, extension] : cases) EXPECT_EQ(GetExtensionName(path), extension) << path;
}

TEST(Profile, FindsTrimsAndCuts) {
  TempDrives drives;
  const fs::path file = drives.base() / "kiv.ini";
  std::ofstream(file) << "[Inhabiles]\r\n  3 =  1,21  \r\nLargo=12345678901234567890123\n"
                         "Citado=\"  5  \"\nVacio=\nSinIgual\n;4=comment\n[ Otros ]\n3=99\n";
  const struct {
    const char *section, *key, *expected;
  } cases[] = {
      {" inhabiles ", " 3", "1,21"},
      {"Inhabiles", "LARGO", "1234567890123456789"},  // 19 characters fit the buffer of 20
      {"Inhabiles", "citado", "  5  "},               // the quotes go, what they enclose stays
      {"Inhabiles", "Vacio", ""},
      {"Inhabiles", "SinIgual", "dflt"},
      {"Inhabiles", "4", "dflt"},
      {"otros", "3", "99"},
      {"Nada", "3", "dflt"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadProfileString(file, c.section, c.key, "dflt", 20), c.expected)
        << c.section << "/" << c.key;
  }
  EXPECT_EQ(ReadProfileString(file, "Inhabiles", "Largo", "", 5), "1234");
  EXPECT_EQ(ReadProfileString(file, "Inhabiles", "3", "", 1), "");
  fs::remove(file);
  EXPECT_EQ(ReadProfileString(file, "Inhabiles", "3", "", 20), "");
  EXPECT_EQ(ReadProfileString(file, "Inhabiles", "3", "dflt  ", 20), "dflt");
  EXPECT_EQ(ReadProfileString(drives.base(), "Inhabiles", "3", "d", 20), "d");
}

TEST(RecordFile, CountRoundsToTheNearestRecordHalvesToEven) {
  const std::pair<std::int64_t, std::int32_t> cases[] = {
      {0, 0}, {147, 0}, {148, 1}, {442, 1}, {443, 2}, {295LL * 100000 + 147, 100000}};
  for (const auto& [length, count] : cases) EXPECT_EQ(RecordCountOf(length), count) << length;
  EXPECT_RUNTIME_FAILURE(err::kOverflow, RecordCountOf(295LL * 3000000000LL));
}

TEST(RecordFile, ReadsAndWritesByRecordNumberPaddingPastTheEndWithNuls) {
  TempDrives drives;
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, RecordFile("C:\\x.za0", RecordFile::Mode::kRead));
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, RecordFile("C:\\x.za0", RecordFile::Mode::kReadWrite));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound,
                         RecordFile("C:\\no\\x.za0", RecordFile::Mode::kCreate));
  EXPECT_FALSE(fs::exists(drives.native("C:/x.za0")));  // only the create mode makes a file
  RecordFile("C:\\x.za0", RecordFile::Mode::kCreate);
  EXPECT_TRUE(fs::exists(drives.native("C:/x.za0")));

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

}  // namespace
}  // namespace zav
