// The profile entry: a settings file read directly and as the holiday file.
#include "platform/profile.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "entries.hpp"
#include "support.hpp"

namespace zav::fuzz {

namespace fs = std::filesystem;

void ProfileInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.size() < 2) return;
  const auto buffer = static_cast<std::size_t>(TakeNumber(in, 1));
  const auto month = static_cast<int>(TakeNumber(in, 1) % 16);
  std::string section = "Inhabiles", key = std::to_string(month);
  const std::size_t first = in.substr(0, 64).find('\0');
  const std::size_t second = first == std::string_view::npos
                                 ? std::string_view::npos
                                 : in.substr(0, 64).find('\0', first + 1);
  if (second != std::string_view::npos) {
    section = in.substr(0, first);
    key = in.substr(first + 1, second - first - 1);
    in.remove_prefix(second + 1);
  }
  Scope scope;
  const fs::path file = scope.box().c() / "windows" / "kiv.ini";
  fs::create_directories(file.parent_path());
  WriteAll(file, in);

  const std::string value = ReadProfileString(file, section, key, " dflt ", buffer);
  if (value.size() + 1 > std::max<std::size_t>(buffer, 1)) Broken("a value longer than its buffer");
  if (value.find_first_of("\r\n") != std::string::npos) Broken("a value holding a line end");

  ZAV z;
  try {
    const std::int16_t count = z.CargaDiasInhabiles("2004", std::to_string(month));
    if (count < 0 || count > static_cast<int>(z.working().holidays.size())) {
      Broken("a holiday count outside the table");
    }
  } catch (const RuntimeFailure&) {
  }
  try {
    std::string year = "2004", m = std::to_string(month), day = "17";
    z.CalculaDiaHabil(year, m, day);
  } catch (const RuntimeFailure&) {
  }
}

}  // namespace zav::fuzz
