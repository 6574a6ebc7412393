// The interface-safety answers: whether a page may script the control and hand it
// initialisation data. Two library-wide switches, both set when the library starts,
// decide the answers; nothing in the control changes them.
//
// Option bits: 1 safe for untrusted callers (scripting), 2 safe for untrusted data
// (initialisation). Supported options are always 3. Identifiers are compared in their
// registry text form, upper-case with braces.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zav {

// A 16-byte interface identifier in its in-memory layout: a 32-bit, two 16-bit
// little-endian fields, then eight bytes.
struct Guid {
  std::array<std::uint8_t, 16> bytes{};
  friend bool operator==(const Guid&, const Guid&) = default;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
std::string GuidText(const Guid& id);
// Reads the registry text form (either case, braces required); nullopt when malformed.
std::optional<Guid> ParseGuid(std::string_view text);

inline constexpr std::uint32_t kSOk = 0;
inline constexpr std::uint32_t kENoInterface = 0x80004002u;
inline constexpr std::uint32_t kEFail = 0x80004005u;

inline constexpr std::uint32_t kSafeForScripting = 1;
inline constexpr std::uint32_t kSafeForInitialising = 2;

// The library-wide switches.
struct SafetySwitches {
  bool scripting = true;
  bool initialising = true;
};
SafetySwitches& LibrarySafety();

// `riid` may be null. `supported` is always set to 3; `enabled` only for a known
// identifier.
std::uint32_t GetInterfaceSafetyOptions(const Guid* riid, std::uint32_t* supported,
                                        std::uint32_t* enabled);
// Accepts or refuses; the control's state never changes.
std::uint32_t SetInterfaceSafetyOptions(const Guid* riid, std::uint32_t mask,
                                        std::uint32_t enabled);

}  // namespace zav
