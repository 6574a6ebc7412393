// Reading values out of a settings file.
#include "platform/profile.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace zav {
namespace {

namespace fs = std::filesystem;

TEST(Profile, FindsTrimsAndCuts) {
  const fs::path file = fs::temp_directory_path() / ("zav-profile-" + std::to_string(getpid()));
  std::ofstream(file) << "[Inhabiles]\r\n"
                         "  3 =  1,21  \r\n"
                         "Largo=12345678901234567890123\n"
                         "Citado=\"  5  \"\n"
                         "Vacio=\n"
                         "SinIgual\n"
                         ";4=comment\n"
                         "[ Otros ]\n"
                         "3=99\n";
  struct Case {
    const char *section, *key, *expected;
  } cases[] = {
      {" inhabiles ", " 3", "1,21"},
      {"Inhabiles", "LARGO", "1234567890123456789"},  // 19 characters fit the buffer of 20
      {"Inhabiles", "citado", "  5  "},               // the quotes go, what they enclose stays
      {"Inhabiles", "Vacio", ""},
      {"Inhabiles", "SinIgual", "dflt"},
      {"Inhabiles", "4", "dflt"},
      {"otros", "3", "99"},
      {"Nada", "3", "dflt"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadProfileString(file, c.section, c.key, "dflt", 20), c.expected)
        << c.section << "/" << c.key;
  }
  EXPECT_EQ(ReadProfileString(file, "Inhabiles", "Largo", "", 5), "1234");
  EXPECT_EQ(ReadProfileString(file, "Inhabiles", "3", "", 1), "");
  fs::remove(file);
  EXPECT_EQ(ReadProfileString(file, "Inhabiles", "3", "", 20), "");
  EXPECT_EQ(ReadProfileString(file, "Inhabiles", "3", "dflt  ", 20), "dflt");
  EXPECT_EQ(ReadProfileString(fs::temp_directory_path(), "Inhabiles", "3", "d", 20), "d");
}

}  // namespace
}  // namespace zav
