// The message catalogue (its numbers, byte-exact texts and line breaks), and the answers the
// control gives about its safety for scripting and initialisation.
#include "control/messages.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "control/safety.hpp"

namespace zav {
namespace {

TEST(MessagesTest, CatalogueNumbersLineBreaksAndSharedTexts) {
  const auto numbers = CatalogNumbers();
  EXPECT_EQ(CatalogSize(), 146u);
  ASSERT_EQ(numbers.size(), CatalogSize());
  EXPECT_EQ(numbers.front(), 2);
  EXPECT_EQ(numbers.back(), 6000);
  EXPECT_TRUE(std::adjacent_find(numbers.begin(), numbers.end(), std::greater_equal<>()) ==
              numbers.end());
  for (std::int16_t number : {0, 1, 3, 224, 2001, 6001, -1, -6000, INT16_MIN, INT16_MAX}) {
    EXPECT_TRUE(CatalogText(number).empty()) << number;
  }
  // Only multi-line messages hold control characters, and each uses its own join.
  const std::map<std::int16_t, std::string> joins = {
      {2, "\r\r"}, {40, "\n"},  {41, "\n"},  {42, "\n"},  {43, "\n"},
      {85, "\n"},  {165, "\r"}, {262, "\r"}, {264, "\r"}, {290, "\r"}};
  for (std::int16_t number : numbers) {
    EXPECT_FALSE(CatalogText(number).empty()) << number;
    std::string breaks;
    for (char c : CatalogText(number)) {
      if (static_cast<unsigned char>(c) < 0x20) breaks += c;
    }
    EXPECT_EQ(breaks, joins.contains(number) ? joins.at(number) : "") << number;
  }
  const std::pair<std::int16_t, std::int16_t> shared[] = {{34, 235}, {144, 6000}, {202, 203}};
  for (const auto& [a, b] : shared) EXPECT_EQ(CatalogText(a), CatalogText(b)) << a << " " << b;
  // 85 is both missing-record messages.
  EXPECT_EQ(std::string(CatalogText(85)),
            std::string(CatalogText(81)) + "\n" + std::string(CatalogText(82)));
}

TEST(MessagesTest, TextsAreByteExact) {
  struct Case {
    std::int16_t number;
    std::string_view text;
  };
  const Case cases[] = {
      {10, "Numero de Registro Patronal IMSS err\363neo."},
      {48, "El tama\361o del archivo no corresponde con el especificado."},
      {2,
       "Fallo al accesar unidad de disco : \r     1 .- No se ha insertado disco en la Unidad \r"
       "     2 .- Posible da\361o en el disco."},
      {165, "Pago inv\341lido. Importe a pagar en ceros. \rVerifique la cantidad a pagar."},
      {264,
       "El mes del periodo de pago es 13 \363 14 y el sumario contiene importes\r de Vivienda y/o "
       "Amort. de Cr\351ditos de Vivienda y/o Aport. Volunt."},
      {290, "\241ERROR! La aplicaci\363n o el equipo estan mal instalados.\rEl sistema terminara."},
      {263,
       "El mes del periodo de pago es non y el sumario contiene importes de RCV y/o Vivienda. "},
      {303, "No es posible empacar el archivo ... "},
      {3112, "Existe doble especio en el nombre entre palabras."},
      {6000,
       "CheckSum inv\341lido, la informaci\363n ha sido alterada desde su generaci\363n por el "
       "ZAV."},
  };
  for (const auto& c : cases) EXPECT_EQ(CatalogText(c.number), c.text) << c.number;
}

// A UTF-8 literal pasted into the table would show as a lead byte 0xC2/0xC3 followed by a
// continuation byte; Windows-1252 also leaves five bytes unassigned.
TEST(MessagesTest, TextsAreWindows1252) {
  auto unassigned = [](unsigned char b) {
    return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
  };
  for (std::int16_t number : CatalogNumbers()) {
    const std::string_view text = CatalogText(number);
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto b = static_cast<unsigned char>(text[i]);
      EXPECT_FALSE(unassigned(b)) << number << " at " << i;
      if ((b == 0xC2 || b == 0xC3) && i + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[i + 1]);
        EXPECT_FALSE(next >= 0x80 && next <= 0xBF) << number << " at " << i;
      }
    }
  }
}

constexpr const char* kScripting = "{A6EF9860-C720-11D0-9337-00A0C90DCAA9}";
constexpr const char* kInit = "{37D84F60-42CB-11CE-8135-00AA004BB851}";
constexpr const char* kOther = "{00000000-0000-0000-C000-000000000046}";

TEST(Safety, IdentifiersRoundTripThroughTheirText) {
  const auto id = ParseGuid("{a6ef9860-c720-11d0-9337-00a0c90dcaa9}");
  ASSERT_TRUE(id);
  EXPECT_EQ(id->bytes[0], 0x60);  // the first field is little-endian in memory
  EXPECT_EQ(GuidText(*id), kScripting);
  EXPECT_FALSE(ParseGuid("A6EF9860-C720-11D0-9337-00A0C90DCAA9"));
  EXPECT_FALSE(ParseGuid("{A6EF9860-C720-11D0-9337-00A0C90DCAAZ}"));
}

// By the identifier's group and the AND of mask and enabled bits; with the library's
// scripting switch off, scripting is neither enabled nor to be enabled.
TEST(Safety, AnswersByGroupAndAndTest) {
  struct Case {
    const char* iid;  // nullptr: no identifier
    std::uint32_t mask, enabled;
    std::uint32_t get_result, get_enabled, set_result;
    bool scripting = true;
  } cases[] = {
      {kScripting, 1, 1, kSOk, 1, kSOk},
      {kScripting, 3, 3, kSOk, 1, kEFail},  // both bits: AND is 3, not 1
      {kScripting, 1, 0, kSOk, 1, kEFail},
      {kScripting, 3, 1, kSOk, 1, kSOk},
      {kInit, 2, 2, kSOk, 2, kSOk},
      {"{0000010A-0000-0000-C000-000000000046}", 2, 2, kSOk, 2, kSOk},
      {"{00000109-0000-0000-C000-000000000046}", 2, 6, kSOk, 2, kSOk},
      {kOther, 1, 1, kENoInterface, 77, kENoInterface},
      {nullptr, 0, 0, kSOk, 77, kSOk},
      {kScripting, 1, 1, kSOk, 0, kEFail, false},
  };
  for (const Case& c : cases) {
    std::optional<Guid> id;
    if (c.iid) id = ParseGuid(c.iid);
    LibrarySafety().scripting = c.scripting;
    std::uint32_t supported = 0, enabled = 77;
    EXPECT_EQ(GetInterfaceSafetyOptions(id ? &*id : nullptr, &supported, &enabled), c.get_result)
        << (c.iid ? c.iid : "null");
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, c.get_enabled);
    EXPECT_EQ(SetInterfaceSafetyOptions(id ? &*id : nullptr, c.mask, c.enabled), c.set_result);
  }
  LibrarySafety().scripting = true;
}

}  // namespace
}  // namespace zav
