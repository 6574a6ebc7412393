// The valida_reg entry: one work file validated as a host does, brought from diskette A or
// written into the work folder.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "control/zav.hpp"
#include "entries.hpp"
#include "support.hpp"

namespace zav::fuzz {

namespace fs = std::filesystem;

namespace {

// The work name the header asks for (a letter, period year and month, three characters of
// the registration number), when it makes a plain file name; else a fixed one.
std::string WorkNameOf(std::string_view file) {
  std::string name = "P0404268.ZAV";
  if (file.size() >= 32) {
    name = "P" + std::string(file.substr(28, 4)) + file[4] + file[8] + file[10] + ".ZAV";
  }
  for (const char c : name) {
    if (c <= ' ' || c > '~' || std::string_view("/\\*?:\"<>|").find(c) != std::string_view::npos) {
      return "P0404268.ZAV";
    }
  }
  return name;
}

}  // namespace

void ValidaRegInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.size() < 11) return;
  const std::string date(Take(in, 10));
  const auto options = static_cast<std::uint8_t>(Take(in, 1)[0]);
  const std::string_view bytes = in;
  Scope scope;

  ZAV z;
  z.inicio();
  z.bgGerencia = (options & 1) != 0;
  z.igToler = static_cast<std::uint8_t>((options >> 1) & 3);
  const std::string name = WorkNameOf(bytes);
  z.FinalArchi = name;
  const fs::path source = scope.box().a() / name;
  if ((options & 0x20) != 0) {
    WriteAll(source, bytes);
    z.OrigenArchi = "A:\\";
    z.copiaArch(name);
  } else {
    WriteAll(scope.box().c() / "ZAV" / "temp" / name, bytes);
    z.OrigenNombre = name;
  }
  z.NumDiscos = static_cast<std::int16_t>(((options >> 3) & 3) + 1);

  const std::string result = z.ValidaReg(date);
  if ((options & 0x20) != 0 && ReadAll(source) != bytes) Broken("the source file was changed");
  CheckRunOutcome(z, result, bytes);
}

}  // namespace zav::fuzz
