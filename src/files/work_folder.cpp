// The work folder and bringing a payment file into it.
//
// - inicio chooses the work folder X:\ZAV\temp\ on a fixed disk (UbicaUnidadTrabajo),
//   leaves management mode and records the system folder ("SystemRoot").
// - UbicaUnidadTrabajo: among the fixed disks, in letter order, the last one that holds
//   \ZAV\temp wins; when none does and DestinoArchi is still empty, the folder is created
//   on the first fixed disk. A listing or a folder creation that fails is passed over (a
//   failed listing counts as the test coming out true). With no fixed disk at all there
//   is no sound work folder: the call fails with "path not found" (76) and DestinoArchi
//   keeps its value.
// - copiaArch replaces the work file DestinoArchi & FinalArchi with a copy of
//   OrigenArchi & archivo (the old work file is deleted first, even when read-only; the
//   copy is put in place whole or not at all; the source is never changed).
// - ExisteArchivo: whether a listing of the path finds a normal file (not a folder, not
//   hidden). It never fails.
#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "platform/drives.hpp"
#include "platform/file_system.hpp"

namespace zav {

namespace {

// Whether a listing of `path` that includes folders finds an entry; `on_failure` when the
// listing itself fails.
bool ListingFinds(const std::string& path, bool on_failure) {
  try {
    return !FirstMatch(path, attr::kDirectory).empty();
  } catch (const std::exception&) {
    return on_failure;
  }
}

void UbicaUnidadTrabajo(ZAV& z) {
  std::string fixed;  // one letter per fixed disk, in drive order
  for (const Drive& d : Drives()) {
    if (d.drivetype() == static_cast<int>(DriveType::kFixed)) fixed += d.letter;
  }
  if (fixed.empty()) {
    throw RuntimeFailure(err::kPathNotFound, "Path not found: no fixed disk for the work folder");
  }
  for (const char letter : fixed) {
    const std::string folder = std::string(1, letter) + ":\\ZAV\\temp";
    if (ListingFinds(folder, true)) z.DestinoArchi = folder + "\\";
  }
  if (!z.DestinoArchi.empty()) return;
  const std::string root = std::string(1, fixed.front()) + ":\\ZAV";
  for (const std::string& folder : {root, root + "\\temp"}) {
    if (ListingFinds(folder, false)) continue;
    try {
      CreateFolder(folder);
    } catch (const std::exception&) {
      // Passed over: the failure shows when the work file is written or read.
    }
  }
  z.DestinoArchi = root + "\\temp\\";
}

}  // namespace

void ZAV::inicio() {
  UbicaUnidadTrabajo(*this);
  bgGerencia = false;
  sDirNT = EnvironmentVariable("SystemRoot");
}

void ZAV::copiaArch(std::string archivo) {
  OrigenNombre = archivo;
  const std::string work = DestinoArchi + FinalArchi;
  if (FileExists(work)) DeleteFile(work, true);
  CopyFile(OrigenArchi + archivo, work);
}

bool ZAV::ExisteArchivo(std::string& archivo) {
  try {
    return !FirstMatch(archivo, attr::kNormal).empty();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace zav
