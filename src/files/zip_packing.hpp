// Packing a validated file into its zip archive through the zip library's entry dzipVB
// (platform/dzip.hpp), with the library's two command records.
//
// The records are library-wide, one copy for every control, and refilled from scratch on
// every packing: the numeric record holds 188 (its size) at offset 0, the operation 4 at
// offset 4, 5 at offset 40, the flag sum 12 at offset 158 and zeros everywhere else; the
// text record holds the archive path in field 1, the file's path in field 2 and
// "Performing ZIP Operation" in field 10, every field blank-padded to its length. Packings may not
// overlap; the control packs only from within ValidaReg.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/dzip.hpp"

namespace zav {

using ZipNumericRecord = std::array<unsigned char, kZipNumericRecordSize>;

struct ZipCommandRecords {
  ZipNumericRecord numeric{};
  std::array<std::string, 10> text;  // each field exactly its length, blank-padded
  std::int32_t status = 0;           // the library's status value
  std::int32_t after_status = 0;     // the value stored after it
};

// The library-wide records, as the last packing left them.
const ZipCommandRecords& ZipCommand();

// Fills `numeric` with its starting values and resets the text record and status value.
void IniciaComandoZip(ZipNumericRecord& numeric);

// Whether both paths fit their text fields whole (260 and 5120 characters). A path cut to
// its field would have the archive written somewhere else than where it is looked for.
bool PackerTakes(const std::string& archive_path, const std::string& file_path);

// Packs the file at `file_path` into a zip archive at `archive_path` (control paths) and
// returns the library's answer: 0 when the archive was written. Paths the packer does not
// take whole are refused (dzip::kBadCommand) without calling it. An answer outside the
// 16-bit range is an overflow (6).
std::int16_t EmpacaArchivo(const std::string& archive_path, const std::string& file_path);

}  // namespace zav
