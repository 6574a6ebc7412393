#include "files/zip_packing.hpp"

#include <algorithm>

#include "basic/conversions.hpp"

namespace zav {

namespace {

ZipCommandRecords& Records() {
  static ZipCommandRecords records;
  return records;
}

void Put32(ZipNumericRecord& r, std::size_t offset, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) r[offset + i] = static_cast<unsigned char>(v >> (8 * i));
}

void Put16(ZipNumericRecord& r, std::size_t offset, std::int16_t v) {
  const auto u = static_cast<std::uint16_t>(v);
  r[offset] = static_cast<unsigned char>(u);
  r[offset + 1] = static_cast<unsigned char>(u >> 8);
}

std::int16_t Get16(const ZipNumericRecord& r, std::size_t offset) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(r[offset] | r[offset + 1] << 8));
}

// Text field `field` (1 to 10) := `value`, blank-padded or cut to the field's length.
void SetField(int field, const std::string& value) {
  const std::size_t length = kZipTextFieldLengths[static_cast<std::size_t>(field - 1)];
  std::string& text = Records().text[static_cast<std::size_t>(field - 1)];
  text = value.substr(0, length);
  text.resize(length, ' ');
}

constexpr std::size_t kFlagsOffset = 158;

}  // namespace

const ZipCommandRecords& ZipCommand() { return Records(); }

void IniciaComandoZip(ZipNumericRecord& numeric) {
  numeric.fill(0);
  Put32(numeric, 0, kZipNumericRecordSize);
  Put32(numeric, 4, 0);
  Put32(numeric, 40, 5);
  Put16(numeric, 156, 0);
  Put16(numeric, kFlagsOffset, 0);
  Records().status = 0;
  Records().after_status = 0;
  for (int field = 1; field <= 10; ++field) SetField(field, "");
}

bool PackerTakes(const std::string& archive_path, const std::string& file_path) {
  return archive_path.size() <= kZipTextFieldLengths[0] &&
         file_path.size() <= kZipTextFieldLengths[1];
}

std::int16_t EmpacaArchivo(const std::string& archive_path, const std::string& file_path) {
  if (!PackerTakes(archive_path, file_path)) return static_cast<std::int16_t>(dzip::kBadCommand);
  ZipCommandRecords& r = Records();
  r.numeric.fill(0);
  IniciaComandoZip(r.numeric);
  Put16(r.numeric, kFlagsOffset, ToInteger(Get16(r.numeric, kFlagsOffset) + 4.0));
  Put16(r.numeric, kFlagsOffset, ToInteger(Get16(r.numeric, kFlagsOffset) + 8.0));
  SetField(10, "Performing ZIP Operation");
  Put32(r.numeric, 4, static_cast<std::uint32_t>(kZipOperationPack));
  SetField(1, archive_path);
  SetField(2, file_path);

  // The library gets one block of the ten fields, and the fields come back from it.
  std::string block;
  block.reserve(kZipTextRecordSize);
  for (const std::string& field : r.text) block += field;
  const std::int32_t answer = dzipVB(r.numeric.data(), block.data(), &r.status);
  std::size_t offset = 0;
  for (std::string& field : r.text) {
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(offset), field.size(), field.begin());
    offset += field.size();
  }
  return ToInteger(answer);
}

}  // namespace zav
