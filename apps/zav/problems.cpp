#include "problems.hpp"

#include <string>

#include "basic/cp1252.hpp"

namespace zavcli {

std::string OneLine(std::string_view control_text) {
  std::string text = zav::Cp1252ToUtf8(control_text);
  std::string out;
  bool pending_break = false;
  for (const char c : text) {
    if (c == '\r' || c == '\n') {
      pending_break = !out.empty();
      continue;
    }
    if (pending_break) out += " / ";
    pending_break = false;
    out += c;
  }
  return out;
}

namespace {

// A byte of a field's text as a terminal can show it: control bytes (line ends of a file
// saved by an editor, NULs) written as escapes, so that they neither vanish nor break the
// line.
std::string Visible(char c) {
  switch (c) {
    case '\r':
      return "\\r";
    case '\n':
      return "\\n";
    case '\t':
      return "\\t";
    default:
      break;
  }
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x20 && byte != 0x7f) return std::string(1, c);
  constexpr char kHex[] = "0123456789abcdef";
  return std::string{'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
}

// What the check compared, on a line of its own (Spanish, as the messages are):
//   encontrado 1234.56, esperado 1230.00, diferencia 4.56, tolerancia 0.00
// A format problem shows the field's text with the characters that break the rule in
// brackets: encontrado "0660[X]", esperado 5 dígitos.
std::string Explained(const zav::Explanation& e) {
  using Kind = zav::Explanation::Kind;
  std::string line;
  // A date's note says it all: the deadline, the day it moved to, the server's date.
  if (e.kind != Kind::kNone && e.kind != Kind::kDate) {
    std::string found;
    if (e.kind == Kind::kFormat || e.kind == Kind::kText) {
      std::size_t next = 0;
      found = "\"";
      for (std::size_t k = 0; k < e.found.size(); ++k) {
        const bool marked = next < e.marked.size() && e.marked[next] == static_cast<int>(k) + 1;
        if (marked) ++next;
        found += marked ? "[" + Visible(e.found[k]) + "]" : Visible(e.found[k]);
      }
      found += "\"";
    } else {
      found = e.found;
    }
    line = "encontrado " + found + ", esperado " +
           (e.kind == Kind::kText ? "\"" + e.expected + "\"" : e.expected);
    if (!e.difference.empty()) line += ", diferencia " + e.difference;
    if (!e.tolerance.empty()) line += ", tolerancia " + e.tolerance;
  }
  if (!e.note.empty()) line += (line.empty() ? "" : ". ") + e.note;
  return zav::Cp1252ToUtf8(line);
}

std::string TypeText(int type) {
  if (type < 0) return "??";
  return (type < 10 ? "0" : "") + std::to_string(type);
}

}  // namespace

void PrintProblems(std::ostream& out, const std::vector<zav::Problem>& problems) {
  out << problems.size() << (problems.size() == 1 ? " problem" : " problems") << "\n";
  for (const zav::Problem& p : problems) {
    out << "  ";
    if (p.record == 0) {
      out << "file";
    } else {
      out << "record " << p.record << " (" << TypeText(p.type) << ")";
    }
    if (!p.field.empty()) {
      out << ", " << zav::Cp1252ToUtf8(p.field) << " (" << p.start << ", " << p.length << ")";
    }
    if (p.failure != 0) {
      out << ": run-time failure " << p.failure << " (" << OneLine(p.text) << ")\n";
    } else {
      out << ": " << p.message << " " << OneLine(p.text) << "\n";
    }
    if (const std::string why = Explained(p.explained); !why.empty()) {
      out << "      " << why << "\n";
    }
  }
}

}  // namespace zavcli
