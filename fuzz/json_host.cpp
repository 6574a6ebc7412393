// The json_host entry: request lines to one JsonHost, each answered with a JSON object.
#include "host/json_host.hpp"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "entries.hpp"
#include "support.hpp"

namespace zav::fuzz {

namespace fs = std::filesystem;

namespace {

bool HasSlash(const nlohmann::json& j) {
  if (j.is_string()) return j.get_ref<const std::string&>().find('/') != std::string::npos;
  if (j.is_structured()) {
    for (auto it = j.begin(); it != j.end(); ++it) {
      if (j.is_object() && it.key().find('/') != std::string::npos) return true;
      if (HasSlash(*it)) return true;
    }
  }
  return false;
}

}  // namespace

void JsonHostInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  Scope scope;
  for (const auto& entry : fs::directory_iterator(scope.box().samples())) {
    fs::copy_file(entry.path(), scope.box().a() / entry.path().filename());
  }
  JsonHost host;
  for (int lines = 0; lines < 64 && !in.empty(); ++lines) {
    const std::size_t eol = in.find('\n');
    std::string_view line = Take(in, eol == std::string_view::npos ? in.size() : eol);
    Take(in, 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('/') != std::string_view::npos) continue;
    const nlohmann::json request = nlohmann::json::parse(line, nullptr, false);
    if (!request.is_discarded() && HasSlash(request)) continue;
    const std::string answer = host.Handle(line);
    const nlohmann::json parsed = nlohmann::json::parse(answer, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("ok")) {
      Broken("an answer that is not a JSON object: " + answer);
    }
  }
}

}  // namespace zav::fuzz
