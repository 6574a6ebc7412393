// Records are paired by their type and key (a worker's and a movement record's social
// security number; the one header, summary and validation record by type alone) along the
// longest common sequence of keys, so that a worker added or removed shows as such and does
// not make every later record differ. Paired records are compared field by field over the
// whole layout, fillers included, so that no differing byte goes unreported.
#include "diff.hpp"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "basic/cp1252.hpp"
#include "command_line.hpp"
#include "records/layout.hpp"
#include "records/personal.hpp"
#include "reports/describe.hpp"

namespace zavcli {

namespace {

using json = nlohmann::ordered_json;
constexpr std::size_t kRecord = zav::kRecordLength;
// Above this many cells of the comparison table, the middle of the files is paired in order.
constexpr std::size_t kMostCells = std::size_t{1} << 22;

struct Record {
  std::int32_t number = 0;  // 1-based
  std::string_view bytes;
  int type = -1;  // 2 to 6, or -1 for none of them
  std::string key;
};

int TypeOf(std::string_view r) {
  return r.size() >= 2 && r[0] == '0' && r[1] >= '2' && r[1] <= '6' ? r[1] - '0' : -1;
}

const char* Title(int type) {
  switch (type) {
    case 2:
      return "encabezado patronal";
    case 3:
      return "trabajador";
    case 4:
      return "movimientos";
    case 5:
      return "sumario";
    case 6:
      return "validaci\363n";
    default:
      return "registro de tipo desconocido";
  }
}

// The field that keys a record of `type` beside its type.
std::optional<zav::Field> KeyField(int type) {
  if (type == 3) return zav::record03::kSeguridadSocial;
  if (type == 4) return zav::EntryField(0, zav::record04::kSeguridadSocial);
  return std::nullopt;
}

std::vector<Record> RecordsOf(const std::string& bytes) {
  std::vector<Record> out;
  for (std::size_t at = 0; at < bytes.size(); at += kRecord) {
    Record r;
    r.number = static_cast<std::int32_t>(at / kRecord + 1);
    r.bytes = std::string_view(bytes).substr(at, kRecord);
    r.type = TypeOf(r.bytes);
    r.key = std::string(r.bytes.substr(0, 2));
    if (const auto f = KeyField(r.type)) r.key += "/" + std::string(zav::Cut(r.bytes, *f));
    out.push_back(std::move(r));
  }
  return out;
}

// The fields of a record type, every position once.
std::vector<zav::Field> FieldsOf(int type, std::vector<std::string>& names) {
  std::vector<zav::Field> out;
  const auto add = [&](std::span<const zav::Field> fields) {
    // One by one: GCC 12 at -O3 takes a range insert here for an overflow (a false alarm).
    for (const zav::Field& f : fields) out.push_back(f);
  };
  switch (type) {
    case 2:
      add(zav::kHeaderFields);
      break;
    case 3:
      add(zav::kWorkerFields);
      break;
    case 5:
      add(zav::kSummaryFields);
      break;
    case 6:
      add(zav::kValidationFields);
      break;
    case 4: {
      out.push_back(zav::record04::kTipo);
      out.push_back(zav::record04::kRegistroPatronal);
      names.reserve(zav::kMovementEntryCount * std::size(zav::kMovementEntryFields));
      for (int e = 0; e < zav::kMovementEntryCount; ++e) {
        for (const zav::Field& f : zav::kMovementEntryFields) {
          names.push_back("movimiento " + std::to_string(e + 1) + ": " + f.name);
          zav::Field placed = zav::EntryField(e, f);
          placed.name = names.back().c_str();
          out.push_back(placed);
        }
      }
      out.push_back(zav::record04::kRelleno280);
      break;
    }
    default:
      out.push_back(zav::Field{1, static_cast<int>(kRecord), "registro"});
  }
  return out;
}

// Pairs of indices (into a and b) of the records that line up, in order.
std::vector<std::pair<std::size_t, std::size_t>> Pair(const std::vector<Record>& a,
                                                      const std::vector<Record>& b) {
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head].key == b[head].key) {
    pairs.emplace_back(head, head);
    ++head;
  }
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail].key == b[b.size() - 1 - tail].key) {
    ++tail;
  }
  const std::size_t n = a.size() - head - tail, m = b.size() - head - tail;
  if (n > 0 && m > 0 && (n + 1) * (m + 1) <= kMostCells) {
    // lcs[i][j]: the longest common run of keys of a[head+i..] and b[head+j..].
    std::vector<std::uint32_t> lcs((n + 1) * (m + 1), 0);
    const auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& {
      return lcs[i * (m + 1) + j];
    };
    for (std::size_t i = n; i-- > 0;) {
      for (std::size_t j = m; j-- > 0;) {
        at(i, j) = a[head + i].key == b[head + j].key ? at(i + 1, j + 1) + 1
                                                      : std::max(at(i + 1, j), at(i, j + 1));
      }
    }
    for (std::size_t i = 0, j = 0; i < n && j < m;) {
      if (a[head + i].key == b[head + j].key) {
        pairs.emplace_back(head + i++, head + j++);
      } else if (at(i + 1, j) >= at(i, j + 1)) {
        ++i;
      } else {
        ++j;
      }
    }
  } else if (n > 0 && m > 0) {
    for (std::size_t k = 0; k < std::min(n, m); ++k) {
      if (a[head + k].key == b[head + k].key) pairs.emplace_back(head + k, head + k);
    }
  }
  for (std::size_t k = 0; k < tail; ++k)
    pairs.emplace_back(a.size() - tail + k, b.size() - tail + k);
  return pairs;
}

bool ReadAll(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  bytes = std::move(all).str();
  return !in.bad();
}

class Printer {
 public:
  explicit Printer(const DiffRequest& r) : r_(r) {}

  std::string Shown(int type, const zav::Field& f, std::string_view value) const {
    std::string text(value);
    if (r_.mask) {
      if (const auto keep = zav::PersonalKeep(type, f.start, f.length)) {
        text = zav::Masked(text, *keep);
      }
    }
    return zav::Cp1252ToUtf8(text);
  }

  void Changed(const Record& a, const Record& b, const zav::Field& f) {
    const std::string va = Shown(a.type, f, zav::Cut(a.bytes, f));
    const std::string vb = Shown(a.type, f, zav::Cut(b.bytes, f));
    if (r_.json) {
      json o;
      o["change"] = "changed";
      o["record_a"] = a.number;
      o["record_b"] = b.number;
      o["type"] = std::string(a.bytes.substr(0, 2));
      o["field"] = zav::Cp1252ToUtf8(f.name);
      o["start"] = f.start;
      o["length"] = f.length;
      o["a"] = va;
      o["b"] = vb;
      all_.push_back(std::move(o));
      return;
    }
    const auto trimmed = [](std::string s) {
      s.erase(s.find_last_not_of(' ') + 1);
      return s;
    };
    const bool trim = trimmed(va) != trimmed(vb);
    std::cout << "record " << Numbers(a, b) << " (" << zav::Cp1252ToUtf8(Title(a.type))
              << "): " << zav::Cp1252ToUtf8(f.name) << ", " << f.start << "-"
              << f.start + f.length - 1 << ": \"" << (trim ? trimmed(va) : va) << "\" -> \""
              << (trim ? trimmed(vb) : vb) << "\"\n";
  }

  void Alone(const Record& r, bool added) {
    std::string key;
    if (const auto f = KeyField(r.type)) key = Shown(r.type, *f, zav::Cut(r.bytes, *f));
    if (r_.json) {
      json o;
      o["change"] = added ? "added" : "removed";
      o[added ? "record_b" : "record_a"] = r.number;
      o["type"] = std::string(r.bytes.substr(0, std::min<std::size_t>(2, r.bytes.size())));
      o["key"] = key.empty() ? json(nullptr) : json(key);
      all_.push_back(std::move(o));
      return;
    }
    std::cout << (added ? "added:   B record " : "removed: A record ") << r.number << " ("
              << zav::Cp1252ToUtf8(Title(r.type))
              << (key.empty() ? "" : ", n\303\272mero de seguridad social " + key) << ")\n";
  }

  void Finish(std::size_t count) {
    if (r_.json) {
      json o;
      o["same"] = count == 0;
      o["differences"] = std::move(all_);
      std::cout << o.dump(2) << "\n";
    } else if (count == 0) {
      std::cout << "the files are the same, record by record\n";
    } else {
      std::cout << count << (count == 1 ? " difference\n" : " differences\n");
    }
  }

 private:
  static std::string Numbers(const Record& a, const Record& b) {
    return a.number == b.number
               ? std::to_string(a.number)
               : std::to_string(a.number) + " (B " + std::to_string(b.number) + ")";
  }
  const DiffRequest& r_;
  json all_ = json::array();
};

}  // namespace

CLI::App* AddDiffCommand(CLI::App& app, DiffRequest& r) {
  CLI::App* cmd = app.add_subcommand(
      "diff",
      "What differs between two payment files: every field that differs, record by record "
      "(record number and type, field name, positions, both values), by the record layouts; "
      "workers added or removed are shown as such (records are paired by type and social "
      "security number)");
  cmd->footer("Exit status: 0 the same, 1 different, 2 a file cannot be read");
  cmd->add_option("A", r.a, "The first payment file")->required();
  cmd->add_option("B", r.b, "The second payment file")->required();
  cmd->add_flag("--json", r.json,
                "One JSON object: same, and differences, each with change (changed, added, "
                "removed), record_a, record_b, type, field, start, length, a, b");
  cmd->add_flag("--mask", r.mask,
                "Hide personal fields (social security numbers and RFCs but their last 3 "
                "characters, names, credit numbers and salaries whole)");
  return cmd;
}

int RunDiff(const DiffRequest& r) {
  std::string bytes_a, bytes_b;
  for (const auto& [path, bytes] : {std::pair{&r.a, &bytes_a}, std::pair{&r.b, &bytes_b}}) {
    std::string where = *path;
    if (const std::string problem = kExistingFile(where); !problem.empty()) {
      std::cerr << "zav: " << problem << "\n";
      return 2;
    }
    if (!ReadAll(*path, *bytes)) {
      std::cerr << "zav: cannot read " << *path << "\n";
      return 2;
    }
  }
  const std::vector<Record> a = RecordsOf(bytes_a), b = RecordsOf(bytes_b);
  Printer printer(r);
  std::size_t count = 0;
  std::size_t i = 0, j = 0;
  const auto pairs = Pair(a, b);
  for (std::size_t p = 0; p <= pairs.size(); ++p) {
    const std::size_t to_i = p < pairs.size() ? pairs[p].first : a.size();
    const std::size_t to_j = p < pairs.size() ? pairs[p].second : b.size();
    for (; i < to_i; ++i, ++count) printer.Alone(a[i], false);
    for (; j < to_j; ++j, ++count) printer.Alone(b[j], true);
    if (p == pairs.size()) break;
    const Record& ra = a[i++];
    const Record& rb = b[j++];
    if (ra.bytes == rb.bytes) continue;
    std::vector<std::string> names;
    for (const zav::Field& f : FieldsOf(ra.type, names)) {
      if (zav::Cut(ra.bytes, f) == zav::Cut(rb.bytes, f)) continue;
      printer.Changed(ra, rb, f);
      ++count;
    }
  }
  printer.Finish(count);
  std::cout.flush();
  if (!std::cout) return 2;
  return count == 0 ? 0 : 1;
}

}  // namespace zavcli
