#include "control/safety.hpp"

#include <cctype>
#include <cstdio>

namespace zav {

namespace {

enum class Group { kScripting, kInitialising, kUnknown };

Group GroupOf(const Guid& id) {
  const std::string text = GuidText(id);
  if (text == "{A6EF9860-C720-11D0-9337-00A0C90DCAA9}") return Group::kScripting;
  if (text == "{0000010A-0000-0000-C000-000000000046}" ||
      text == "{00000109-0000-0000-C000-000000000046}" ||
      text == "{37D84F60-42CB-11CE-8135-00AA004BB851}")
    return Group::kInitialising;
  return Group::kUnknown;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

}  // namespace

SafetySwitches& LibrarySafety() {
  static SafetySwitches switches;  // set when the library starts
  return switches;
}

std::string GuidText(const Guid& id) {
  const auto& b = id.bytes;
  char text[40];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return text;
}

std::optional<Guid> ParseGuid(std::string_view text) {
  // Positions of the 16 bytes' first hex digit in the text form, in display order.
  static constexpr int kDigitAt[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};
  // Display order to memory order: the first three fields are little-endian.
  static constexpr int kMemoryIndex[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' ||
      text[14] != '-' || text[19] != '-' || text[24] != '-')
    return std::nullopt;
  Guid id;
  for (int k = 0; k < 16; ++k) {
    const int hi = HexValue(text[kDigitAt[k]]);
    const int lo = HexValue(text[kDigitAt[k] + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    id.bytes[kMemoryIndex[k]] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return id;
}

std::uint32_t GetInterfaceSafetyOptions(const Guid* riid, std::uint32_t* supported,
                                        std::uint32_t* enabled) {
  if (supported != nullptr) *supported = kSafeForScripting | kSafeForInitialising;
  if (riid == nullptr) return kSOk;
  const Guid id = *riid;  // copied first, as the caller's memory may change
  switch (GroupOf(id)) {
    case Group::kScripting:
      if (enabled != nullptr) *enabled = LibrarySafety().scripting ? kSafeForScripting : 0;
      return kSOk;
    case Group::kInitialising:
      if (enabled != nullptr)
        *enabled = LibrarySafety().initialising ? kSafeForInitialising : 0;
      return kSOk;
    case Group::kUnknown: break;
  }
  return kENoInterface;
}

std::uint32_t SetInterfaceSafetyOptions(const Guid* riid, std::uint32_t mask,
                                        std::uint32_t enabled) {
  if (riid == nullptr) return kSOk;
  const Guid id = *riid;
  switch (GroupOf(id)) {
    case Group::kScripting:
      if ((mask & enabled) != kSafeForScripting) return kEFail;
      return LibrarySafety().scripting ? kSOk : kEFail;
    case Group::kInitialising:
      if ((mask & enabled) != kSafeForInitialising) return kEFail;
      return LibrarySafety().initialising ? kSOk : kEFail;
    case Group::kUnknown: break;
  }
  return kENoInterface;
}

}  // namespace zav
