#include "control/safety.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace zav {
namespace {

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

TEST(Safety, AnswersByGroupAndAndTest) {
  struct Case {
    const char* iid;  // nullptr: no identifier
    std::uint32_t mask, enabled;
    std::uint32_t get_result, get_enabled, set_result;
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
  };
  for (const Case& c : cases) {
    std::optional<Guid> id;
    if (c.iid) id = ParseGuid(c.iid);
    std::uint32_t supported = 0, enabled = 77;
    EXPECT_EQ(GetInterfaceSafetyOptions(id ? &*id : nullptr, &supported, &enabled), c.get_result)
        << (c.iid ? c.iid : "null");
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, c.get_enabled);
    EXPECT_EQ(SetInterfaceSafetyOptions(id ? &*id : nullptr, c.mask, c.enabled), c.set_result);
  }
}

TEST(Safety, SwitchesOffRefuse) {
  const auto id = ParseGuid(kScripting);
  LibrarySafety().scripting = false;
  std::uint32_t supported = 0, enabled = 9;
  EXPECT_EQ(GetInterfaceSafetyOptions(&*id, &supported, &enabled), kSOk);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(SetInterfaceSafetyOptions(&*id, 1, 1), kEFail);
  LibrarySafety().scripting = true;
}

}  // namespace
}  // namespace zav
