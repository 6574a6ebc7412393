#include "platform/file_system.hpp"

#include <gtest/gtest.h>

#include "basic/runtime_failure.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadAll;
using testing::TempDrives;

void MakeReadOnly(const fs::path& p) {
  fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
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
    std::vector<std::string> expected;
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
  EXPECT_TRUE(FileExists("c:\\D\\pago.ZA0"));
  EXPECT_TRUE(FileExists("C:\\d\\.oculto.zav"));
  EXPECT_FALSE(FileExists("C:\\d\\Carpeta.za9"));
  EXPECT_FALSE(FileExists("C:\\d\\*.zav"));
  EXPECT_FALSE(FileExists("Q:\\d\\Otro.zav"));
  EXPECT_EQ(FirstMatch("C:\\d\\*.ZA?"), "Otro.zav");
  EXPECT_EQ(FirstMatch("C:\\d\\*.txt"), "");
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, FirstMatch("Q:\\*.*"));
}

TEST(FileSystem, DeleteFileNeedsForceForReadOnlyFiles) {
  TempDrives drives;
  drives.Write("C:/d/ro.zav", "r");
  drives.Write("C:/d/x1.tmp", "1");
  drives.Write("C:/d/x2.tmp", "2");
  MakeReadOnly(drives.native("C:/d/ro.zav"));
  EXPECT_RUNTIME_FAILURE(err::kPermissionDenied, DeleteFile("C:\\d\\RO.ZAV"));
  EXPECT_TRUE(fs::exists(drives.native("C:/d/ro.zav")));
  DeleteFile("C:\\d\\RO.ZAV", true);
  EXPECT_FALSE(fs::exists(drives.native("C:/d/ro.zav")));
  DeleteFile("C:\\d\\*.TMP");
  EXPECT_TRUE(Listing(drives.native("C:/d")).empty());
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, DeleteFile("C:\\d\\ro.zav", true));
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, DeleteFile("C:\\d\\*.tmp"));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, DeleteFile("C:\\nada\\x.tmp"));
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
  EXPECT_EQ(Listing(drives.native("C:/w")), (std::vector<std::string>{"PAGO.ZAV", "old.zav"}));
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
  EXPECT_EQ(Listing(drives.native("C:/w")), (std::vector<std::string>{"PAGO.ZAV", "old.zav", "x"}));
}

TEST(FileSystem, MoveFileRenamesOnlyOntoAFreeName) {
  TempDrives drives;
  drives.Write("C:/w/a.zav", "a");
  drives.Write("C:/w/b.zav", "b");
  EXPECT_RUNTIME_FAILURE(err::kPathFileAccess, MoveFile("C:\\w\\A.ZAV", "C:\\w\\B.zav"));
  MoveFile("C:\\w\\A.ZAV", "C:\\w\\C.zav");
  EXPECT_EQ(Listing(drives.native("C:/w")), (std::vector<std::string>{"C.zav", "b.zav"}));
  EXPECT_EQ(ReadAll(drives.native("C:/w/C.zav")), "a");
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, MoveFile("C:\\w\\a.zav", "C:\\w\\d.zav"));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, MoveFile("C:\\w\\b.zav", "C:\\x\\d.zav"));
}

TEST(FileSystem, CreateFolderOnlyUnderAnExistingOne) {
  TempDrives drives;
  CreateFolder("C:\\ZAV");
  CreateFolder("C:\\zav\\temp");
  EXPECT_TRUE(fs::is_directory(drives.native("C:/ZAV/temp")));
  EXPECT_RUNTIME_FAILURE(err::kPathFileAccess, CreateFolder("C:\\ZAV\\TEMP"));
  EXPECT_RUNTIME_FAILURE(err::kPathNotFound, CreateFolder("C:\\a\\b"));
}

TEST(FileSystem, ExtensionNames) {
  const struct {
    const char* path;
    const char* extension;
  } cases[] = {{"C:\\ZAV\\temp\\PAGO.ZA0", "ZA0"},
               {"A:PAGO", ""},
               {"C:\\a.b\\c", ""},
               {"x.tar.gz", "gz"},
               {"pago.", ""},
               {"", ""}};
  for (const auto& k : cases) EXPECT_EQ(GetExtensionName(k.path), k.extension) << k.path;
}

}  // namespace
}  // namespace zav
