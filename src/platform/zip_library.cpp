#include "platform/zip_library.hpp"

#include <dlfcn.h>

#include <cstdlib>

namespace zav {

namespace {

// The deflate library's run-time name: its interface number has been 1 since its start.
constexpr const char* kZlibSoname = "libz.so.1";

struct Loaded {
  ZipLibrary functions;
  Zlib zlib;
  bool ok = false;
  bool loaded = false;  // the library files were found (a function may still be missing)
  std::string error;
};

// Resolves every function of `list` from `handle` into `into`; false (and `error` says
// which) when one is missing.
#define ZAV_RESOLVE(name)                                                \
  into.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name)); \
  if (into.name == nullptr) {                                            \
    error = std::string(library) + " has no " #name;                     \
    return false;                                                        \
  }

bool Resolve(void* handle, const char* library, ZipLibrary& into, std::string& error) {
  ZAV_ZIP_FUNCTIONS(ZAV_RESOLVE)
  return true;
}

bool Resolve(void* handle, const char* library, Zlib& into, std::string& error) {
  ZAV_ZLIB_FUNCTIONS(ZAV_RESOLVE)
  return true;
}

bool Resolve(void* handle, const char* library, Libdeflate& into, std::string& error) {
  ZAV_LIBDEFLATE_FUNCTIONS(ZAV_RESOLVE)
  return true;
}

#undef ZAV_RESOLVE

// Opens `library` (the handle stays open for the life of the process) and resolves `into`.
// `loaded` is false when the library itself could not be opened.
template <typename Functions>
bool Open(const char* library, Functions& into, std::string& error, bool& loaded) {
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  loaded = handle != nullptr;
  if (handle == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : std::string("cannot load ") + library;
    return false;
  }
  return Resolve(handle, library, into, error);
}

const Loaded& Load() {
  static const Loaded loaded = [] {
    Loaded l;
    const char* named = std::getenv("ZAV_ZIP_LIBRARY");
    const char* library = named != nullptr && *named != '\0' ? named : ZAV_LIBZIP_SONAME;
    l.ok = Open(library, l.functions, l.error, l.loaded) &&
           Open(kZlibSoname, l.zlib, l.error, l.loaded);
    return l;
  }();
  return loaded;
}

}  // namespace

const ZipLibrary* LoadZipLibrary() {
  const Loaded& l = Load();
  return l.ok ? &l.functions : nullptr;
}

const Zlib* LoadZlib() {
  const Loaded& l = Load();
  return l.ok ? &l.zlib : nullptr;
}

const std::string& LoadZipLibraryError() { return Load().error; }

bool ZipLibraryFound() { return Load().loaded; }

const Libdeflate* LoadLibdeflate() {
  static const Libdeflate* const loaded = []() -> const Libdeflate* {
    static Libdeflate functions;
    std::string error;
    bool found = false;
    return Open(ZAV_LIBDEFLATE_SONAME, functions, error, found) ? &functions : nullptr;
  }();
  return loaded;
}

}  // namespace zav
