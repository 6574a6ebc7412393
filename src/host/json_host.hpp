// The JSON-lines scripting host: one control instance, one request per input line,
// one answer per output line, in order.
//   {"call": NAME, "args": [...]}        a method or a read-only property
//   {"get": NAME}  {"put": NAME, "value": V}
// Answers {"ok": true, "result": V, "args": [...]} or
//         {"ok": false, "error": {"number": N, "description": TEXT}}.
// Texts are UTF-8 outside and Windows-1252 inside the control. A line that is not a
// request (blank, not JSON, not an object, none of the three kinds) is answered with
// error 5 and what a request must be, so every line gets exactly one answer.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include "control/zav.hpp"

namespace zav {

class JsonHost {
 public:
  // Answers one request line (without its line end). Never throws.
  std::string Handle(std::string_view line);

  // Reads requests until the end of `in`, answering each line on `out`, blank ones too.
  // Returns 0.
  int Run(std::istream& in, std::ostream& out);

  ZAV& control() { return control_; }

 private:
  ZAV control_;
};

}  // namespace zav
