#include "platform/zip_library.hpp"

#include <dlfcn.h>

namespace zav {

namespace {

struct Loaded {
  ZipLibrary functions;
  bool ok = false;
  std::string error;
};

const Loaded& Load() {
  static const Loaded loaded = [] {
    Loaded l;
    // The handle stays open for the life of the process.
    void* handle = dlopen(ZAV_LIBZIP_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      l.error = why != nullptr ? why : "cannot load " ZAV_LIBZIP_SONAME;
      return l;
    }
#define ZAV_ZIP_RESOLVE(name)                                                   \
  l.functions.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name)); \
  if (l.functions.name == nullptr) {                                            \
    l.error = ZAV_LIBZIP_SONAME " has no " #name;                               \
    return l;                                                                   \
  }
    ZAV_ZIP_FUNCTIONS(ZAV_ZIP_RESOLVE)
#undef ZAV_ZIP_RESOLVE
    l.ok = true;
    return l;
  }();
  return loaded;
}

}  // namespace

const ZipLibrary* LoadZipLibrary() {
  const Loaded& l = Load();
  return l.ok ? &l.functions : nullptr;
}

const std::string& LoadZipLibraryError() { return Load().error; }

}  // namespace zav
