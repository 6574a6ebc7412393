// The fuzzing entry points. Each takes arbitrary bytes, drives one part of the control the
// way a host does, on drives in a private temporary folder (A removable, C fixed; the
// current folder is moved there too), and checks what must hold whatever the bytes: the
// source files are never changed, a rejected work file keeps its bytes, an accepted one is
// packed with exactly its bytes. A broken promise prints "zav fuzz: ..." and aborts, so the
// fuzzer keeps the input; a crash or a sanitizer report does the same by itself.
//
// The fuzz targets (fuzz/fuzz_main.cpp) call them from LLVMFuzzerTestOneInput; the test
// suite replays the inputs kept in fuzz/regressions/<target>/ and fuzz/corpus/<target>/
// through the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zav::fuzz {

using Entry = void (*)(const std::uint8_t* data, std::size_t size);

// valida_reg: 10 bytes of server date, one option byte (bit 0 management mode, bits 1-2 the
// tolerance, bits 3-4 NumDiscos - 1, bit 5 bring the file from diskette A with copiaArch
// rather than writing it into the work folder), then the work file. The work name is the
// one the header asks for, where it makes a plain file name.
void ValidaRegInput(const std::uint8_t* data, std::size_t size);

// checa_registro: one option byte (bit 0 management mode, bit 1 a late payment, bits 2-3 the
// period: 4, 5, 13 or 14), then up to 64 calls, each a type byte, a 4-byte little-endian
// record number, a 2-byte little-endian length and that many bytes of record text. The
// header of a sample file of that period is checked first.
void ChecaRegistroInput(const std::uint8_t* data, std::size_t size);

// profile: the buffer size byte, a month byte, then "section\0key\0" when the first 64
// bytes hold two NULs (else section "Inhabiles" and the month as key), then the settings
// file. Read directly and as the holiday file through CargaDiasInhabiles and
// CalculaDiaHabil.
void ProfileInput(const std::uint8_t* data, std::size_t size);

// json_host: up to 64 request lines, one JsonHost. A valid sample file (A:\P0404268.ZAV) and
// its three diskette parts (A:\P0404268.ZA0 to ZA2) lie on drive A. Requests holding a '/'
// anywhere are skipped: such a path would be a native one, outside the drives.
void JsonHostInput(const std::uint8_t* data, std::size_t size);

// diskettes: one option byte (bits 0-1 the naming: ZA<k>, a ZAV name, lower case, a bad
// extension; bit 2 the part vanishes between IntegraDisco and ChecaUltimoDisco; bit 3
// validate the joined file), then up to 6 parts, each a 2-byte little-endian length and its
// bytes, joined the way a host joins diskettes.
void DiskettesInput(const std::uint8_t* data, std::size_t size);

// upload: one option byte (bit 0 the bytes are the upload itself; else they are a payment
// file the entry packs into a zip under the inner name, bit 1 stored rather than deflated),
// the 55-byte archive name, then the bytes. Unpacked and checked as `zav serve` does, dated
// 10/05/2004: whenever the check says to store, the archive it packed holds exactly the
// file it received, which a control of its own accepts; a refusal leaves no archive.
void UploadInput(const std::uint8_t* data, std::size_t size);

// deflate_join: one option byte, then the bytes. Bit 0 clear: the bytes are taken as a
// deflate stream and made to go on (platform/deflate_join.hpp): refused, they are left as
// they were; taken, the stream ended by an empty final block inflates (by zlib) exactly as
// the stream itself does, or fails as it does. Bit 0 set: the bytes are deflated twice by
// libdeflate at level 1 + (option >> 1) % 12, the first stream made to go on: the two
// joined inflate to the bytes twice.
void DeflateJoinInput(const std::uint8_t* data, std::size_t size);

// The entry of a target by its name ("valida_reg", ...), nullptr when unknown.
Entry EntryNamed(std::string_view target);

}  // namespace zav::fuzz
