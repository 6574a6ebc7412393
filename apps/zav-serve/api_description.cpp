#include "api_description.hpp"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace zavserve {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> ReadDescription() {
  std::error_code ec;
  const fs::path bin = fs::read_symlink("/proc/self/exe", ec).parent_path();
  if (ec) return std::nullopt;
  for (const fs::path& candidate : {bin / ".." / ".." / "share" / "zav" / "openapi.json",
                                    bin / ".." / "share" / "zav" / "openapi.json"}) {
    std::ifstream in(candidate, std::ios::binary);
    std::ostringstream text;
    if (in && text << in.rdbuf()) return text.str();
  }
  return std::nullopt;
}

}  // namespace

void AnswerApiDescription(Response& res) {
  static const std::optional<std::string> description = ReadDescription();
  if (!description) {
    res.status = 404;
    return;
  }
  res.set_header("Cache-Control", "no-cache");
  res.set_content(*description, "application/json");
}

}  // namespace zavserve
