#include "receipt/libcrypto.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace zav::receipt {

namespace {

struct Loaded {
  Libcrypto functions;
  std::string error;
};

#define ZAV_RESOLVE(name)                                                       \
  l.functions.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name)); \
  if (l.functions.name == nullptr) {                                            \
    l.error = std::string(ZAV_LIBCRYPTO_SONAME) + " has no " #name;             \
    return l;                                                                   \
  }

Loaded Open() {
  Loaded l;
  void* handle = dlopen(ZAV_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    l.error = why != nullptr ? why : std::string("cannot load ") + ZAV_LIBCRYPTO_SONAME;
    return l;
  }
  ZAV_LIBCRYPTO_FUNCTIONS(ZAV_RESOLVE)
  return l;
}

#undef ZAV_RESOLVE

}  // namespace

const Libcrypto& LoadLibcrypto() {
  static const Loaded loaded = Open();
  if (!loaded.error.empty()) {
    throw std::runtime_error("the cryptography library cannot be used: " + loaded.error);
  }
  return loaded.functions;
}

}  // namespace zav::receipt
