// Trim is tested with the validators that trim their text by reference (validators_test.cpp).
#include "basic/cp1252.hpp"

#include <gtest/gtest.h>

#include <string>

#include "basic/runtime_failure.hpp"

namespace zav {
namespace {

TEST(UpperCase1252Test, FollowsTheCodePage) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc xyz", "ABC XYZ"},
      {"\361", "\321"},                  // n tilde
      {"\377", "\237"},                  // y diaeresis
      {"\232\234\236", "\212\214\216"},  // s caron, oe, z caron
      {"\367\337\265", "\367\337\265"},  // division sign, sharp s, micro sign stay
      {"\321\311\200{", "\321\311\200{"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(UpperCase1252(in), out) << in;
  EXPECT_EQ(UpperCase1252('q'), 'Q');
}

TEST(Cp1252Utf8Test, RoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);

  const std::pair<std::string, std::string> cases[] = {
      {"\361", "\303\261"},      // n tilde
      {"\200", "\342\202\254"},  // euro sign
      {"\237", "\305\270"},      // Y diaeresis
      {"\201", "\302\201"},      // undefined byte -> U+0081
  };
  for (const auto& [cp, utf8] : cases) {
    EXPECT_EQ(Cp1252ToUtf8(cp), utf8);
    EXPECT_EQ(Utf8ToCp1252(utf8), cp);
  }
}

TEST(Cp1252Utf8Test, RefusesWhatHasNoByte) {
  const std::string refused[] = {
      "\302\200",          // U+0080: no byte in the code page
      "\304\200",          // U+0100
      "\360\237\230\200",  // U+1F600
      "\303",              // truncated
      "a\251",             // stray continuation byte
      "\300\261",          // overlong
      "\355\240\200",      // surrogate
      "\364\220\200\200",  // beyond U+10FFFF
  };
  for (const auto& text : refused) {
    EXPECT_THROW(Utf8ToCp1252(text), RuntimeFailure) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace zav
