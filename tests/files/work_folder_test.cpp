#include <gtest/gtest.h>

#include <set>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::TempDrives;

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

TEST(Inicio, ChoosesTheWorkFolderOnTheFixedDisks) {
  const struct {
    const char* drives;
    std::vector<std::string> folders;  // present before the call
    const char* expected;
    std::vector<std::string> created;  // every folder the call makes
    const char* before = "";           // the work folder of an earlier call
  } cases[] = {
      {"C=fixed;D=fixed", {"D:/ZAV", "D:/ZAV/temp"}, "D:\\ZAV\\temp\\", {}},
      {"C=fixed;D=fixed",
       {"C:/ZAV", "C:/ZAV/temp", "D:/zav", "D:/zav/TEMP"},
       "D:\\ZAV\\temp\\",
       {}},
      {"C=fixed;D=fixed", {"C:/ZAV"}, "C:\\ZAV\\temp\\", {"C:/ZAV/temp"}},
      {"C=fixed;D=fixed", {}, "C:\\ZAV\\temp\\", {"C:/ZAV", "C:/ZAV/temp"}},
      {"A=removable;C=fixed;E=cdrom;N=network",
       {"A:/ZAV", "A:/ZAV/temp", "E:/ZAV", "E:/ZAV/temp", "N:/ZAV", "N:/ZAV/temp"},
       "C:\\ZAV\\temp\\",
       {"C:/ZAV", "C:/ZAV/temp"}},
      {"A=removable;D=fixed", {}, "D:\\ZAV\\temp\\", {"D:/ZAV", "D:/ZAV/temp"}},
      // An earlier work folder stays when no disk holds one.
      {"C=fixed", {}, "C:\\otro\\", {}, "C:\\otro\\"},
  };
  for (const auto& k : cases) {
    TempDrives drives(k.drives);
    for (const std::string& f : k.folders) drives.MakeFolder(f);
    std::set<std::string> expected = Folders(drives);
    expected.insert(k.created.begin(), k.created.end());
    ZAV z;
    z.bgGerencia = true;
    z.DestinoArchi = k.before;
    z.inicio();
    EXPECT_EQ(z.DestinoArchi, k.expected) << k.drives;
    EXPECT_FALSE(z.bgGerencia);
    EXPECT_EQ(Folders(drives), expected) << k.drives;
  }
}

// Without a fixed disk there is no sound work folder: the call fails and changes nothing.
TEST(Inicio, FailsWithoutAFixedDisk) {
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

class CopiaArch : public ::testing::Test {
 protected:
  CopiaArch() {
    drives_.MakeFolder("C:/ZAV/temp");
    z_.inicio();
    z_.OrigenArchi = "A:\\";
    z_.FinalArchi = "A0501X.ZAV";
  }
  TempDrives drives_{"A=removable;C=fixed"};
  ZAV z_;
};

TEST_F(CopiaArch, ReplacesTheWorkFileEvenWhenReadOnly) {
  drives_.Write("A:/PAGO.ZAV", "new payment");
  drives_.Write("C:/ZAV/temp/a0501x.zav", "an older and longer work file");
  fs::permissions(drives_.native("C:/ZAV/temp/a0501x.zav"), fs::perms::owner_write,
                  fs::perm_options::remove);
  z_.copiaArch("pago.zav");
  EXPECT_EQ(z_.OrigenNombre, "pago.zav");
  EXPECT_EQ(ReadAll(drives_.native("C:/ZAV/temp/A0501X.ZAV")), "new payment");
  EXPECT_EQ(ReadAll(drives_.native("A:/PAGO.ZAV")), "new payment");
  EXPECT_EQ(testing::Listing(drives_.native("C:/ZAV/temp")).size(), 1u);
}

TEST_F(CopiaArch, MissingSourceFailsAfterDeletingTheOldWorkFile) {
  drives_.Write("C:/ZAV/temp/A0501X.ZAV", "old");
  EXPECT_RUNTIME_FAILURE(err::kFileNotFound, z_.copiaArch("NADA.ZAV"));
  EXPECT_EQ(z_.OrigenNombre, "NADA.ZAV");
  EXPECT_TRUE(fs::is_empty(drives_.native("C:/ZAV/temp")));
  fs::remove(drives_.root('A'));
  EXPECT_RUNTIME_FAILURE(err::kDiskNotReady, z_.copiaArch("PAGO.ZAV"));
}

// A listing of the path finds a normal file; the listing's own rules (case, wildcards,
// hidden files) are tested with ListDirectory.
TEST(ExisteArchivo, FindsNormalFilesOnly) {
  TempDrives drives("C=fixed;A=removable");
  drives.Write("C:/d/PAGO.ZAV", "p");
  drives.Write("C:/solo_oculto/.x", "h");
  drives.MakeFolder("C:/d/sub");
  fs::remove(drives.root('A'));
  const struct {
    std::string path;
    bool expected;
  } cases[] = {
      {"C:\\d\\PAGO.ZAV", true},    {"C:\\d\\\\", true},     {"C:\\d\\", true},
      {"C:\\solo_oculto\\", false}, {"C:\\d\\sub", false},   {"C:\\d", false},
      {"A:\\PAGO.ZAV", false},      {"Q:\\PAGO.ZAV", false},
  };
  ZAV z;
  for (auto k : cases) EXPECT_EQ(z.ExisteArchivo(k.path), k.expected) << k.path;
}

}  // namespace
}  // namespace zav
