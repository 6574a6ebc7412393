// The zip library, the deflate library under it and libdeflate (the fast deflate that packs
// on several threads), loaded when an archive is first written or read. Most runs never touch an
// archive (a check, a describe, a scripted host validating without packing), and the zip library
// brings a cryptography library whose start-up costs each process a few milliseconds: linked
// directly, every run would pay it.
#pragma once

#include <libdeflate.h>
#include <zip.h>
#include <zlib.h>

#include <string>

namespace zav {

#define ZAV_ZIP_FUNCTIONS(X)          \
  X(zip_close)                        \
  X(zip_compression_method_supported) \
  X(zip_discard)                      \
  X(zip_error_code_zip)               \
  X(zip_error_fini)                   \
  X(zip_error_init)                   \
  X(zip_error_set)                    \
  X(zip_error_to_data)                \
  X(zip_fclose)                       \
  X(zip_file_add)                     \
  X(zip_file_attributes_init)         \
  X(zip_file_get_external_attributes) \
  X(zip_file_strerror)                \
  X(zip_fopen_index)                  \
  X(zip_fread)                        \
  X(zip_get_error)                    \
  X(zip_get_num_entries)              \
  X(zip_open)                         \
  X(zip_open_from_source)             \
  X(zip_source_buffer_create)         \
  X(zip_source_free)                  \
  X(zip_source_function)              \
  X(zip_stat_index)                   \
  X(zip_stat_init)

// The library's functions, under their own names: `zip->zip_open(...)`.
struct ZipLibrary {
#define ZAV_ZIP_MEMBER(name) decltype(&::name) name = nullptr;
  ZAV_ZIP_FUNCTIONS(ZAV_ZIP_MEMBER)
#undef ZAV_ZIP_MEMBER
};

#define ZAV_ZLIB_FUNCTIONS(X) \
  X(crc32)                    \
  X(crc32_combine)            \
  X(deflate)                  \
  X(deflateBound)             \
  X(deflateEnd)               \
  X(deflateInit2_)            \
  X(deflateReset)             \
  X(deflateSetDictionary)

// The deflate library's functions, under their own names.
struct Zlib {
#define ZAV_ZLIB_MEMBER(name) decltype(&::name) name = nullptr;
  ZAV_ZLIB_FUNCTIONS(ZAV_ZLIB_MEMBER)
#undef ZAV_ZLIB_MEMBER
};

#define ZAV_LIBDEFLATE_FUNCTIONS(X)    \
  X(libdeflate_alloc_compressor)       \
  X(libdeflate_crc32)                  \
  X(libdeflate_deflate_compress)       \
  X(libdeflate_deflate_compress_bound) \
  X(libdeflate_free_compressor)

// libdeflate's functions, under their own names.
struct Libdeflate {
#define ZAV_LIBDEFLATE_MEMBER(name) decltype(&::name) name = nullptr;
  ZAV_LIBDEFLATE_FUNCTIONS(ZAV_LIBDEFLATE_MEMBER)
#undef ZAV_LIBDEFLATE_MEMBER
};

// The loaded library, or nullptr when it cannot be loaded (LoadZipLibraryError says why).
// Loaded once per process; safe to call from several threads. The environment variable
// ZAV_ZIP_LIBRARY, when set, names the zip library to load instead of the one the build
// was linked against (a library kept elsewhere, or a test of a missing one).
const ZipLibrary* LoadZipLibrary();
const std::string& LoadZipLibraryError();
// When the library could not be loaded: whether its files were found at all (false) or a
// function was missing in them (true).
bool ZipLibraryFound();

// The deflate library the zip library uses, or nullptr when it cannot be loaded (the
// reason is then LoadZipLibraryError's).
const Zlib* LoadZlib();

// libdeflate, or nullptr when it cannot be loaded (packing then keeps to one zlib stream).
// Loaded on its own, the first time it is asked for.
const Libdeflate* LoadLibdeflate();

}  // namespace zav
