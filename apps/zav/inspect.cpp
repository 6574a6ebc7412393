#include "inspect.hpp"

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "command_line.hpp"
#include "files/split.hpp"
#include "reports/describe.hpp"

namespace zavcli {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

CLI::App* AddDescribeCommand(CLI::App& app, DescribeRequest& r) {
  auto* cmd = app.add_subcommand(
      "describe",
      "Show a payment file as a person reads it: employer, period, folio, each worker with "
      "days and amounts, movements, summary, totals and deadline, one record at a time");
  cmd->add_option("FILE", r.file, "Payment file")->required()->check(kExistingFile);
  cmd->add_flag("--mask", r.mask,
                "Hide personal fields: names, credit numbers and salaries whole, social "
                "security numbers and RFCs but their last 3 characters");
  cmd->add_flag("--json", r.json, "One JSON object a record, one a line");
  return cmd;
}

CLI::App* AddSplitCommand(CLI::App& app, SplitRequest& r) {
  auto* cmd = app.add_subcommand(
      "split",
      "Split a payment file over diskette parts BASE.ZA0, BASE.ZA1, ... that join back into a "
      "file that validates (the validation record's diskette count and check value are set "
      "for the set); the file itself is left as it is");
  cmd->add_option("FILE", r.file, "Payment file (8-character name, e.g. P0404268.ZAV)")
      ->required()
      ->check(kExistingFile);
  cmd->add_option("--parts", r.parts, "Number of parts, 1 to 10")
      ->required()
      ->check(CLI::Range(1, zav::kMaxDiskettes));
  cmd->add_option("--out-dir", r.out_dir, "Folder for the parts (default: the file's folder)");
  cmd->add_flag("--force", r.force, "Replace parts of the same names that exist already");
  return cmd;
}

int RunDescribe(const DescribeRequest& r) {
  zav::DescribeOptions options;
  options.mask = r.mask;
  const auto host = [](const std::string& s) { return zav::Cp1252ToUtf8(s); };
  try {
    const zav::FileOverview overview =
        zav::DescribeFile(r.file, options, [&](const zav::DescribedRecord& rec) {
          if (r.json) {
            json o;
            o["record"] = rec.number;
            o["type"] = rec.type;
            o["title"] = host(rec.title);
            if (rec.ordinal != 0) o["worker"] = rec.ordinal;
            json fields = json::array();
            for (const zav::DescribedField& f : rec.fields) {
              fields.push_back({{"name", host(f.name)},
                                {"start", f.start},
                                {"length", f.length},
                                {"text", host(f.text)},
                                {"shown", host(f.shown)}});
            }
            o["fields"] = std::move(fields);
            std::cout << o.dump() << "\n";
            return;
          }
          std::cout << "registro " << rec.number << ": " << host(rec.title);
          if (rec.ordinal != 0) std::cout << " " << rec.ordinal;
          std::cout << "\n";
          for (const zav::DescribedField& f : rec.fields) {
            std::cout << "  " << host(f.name) << ": " << host(f.shown) << "\n";
          }
        });
    if (!r.json) {
      std::cout << overview.records << " registros, " << overview.bytes << " bytes\n";
    }
  } catch (const zav::RuntimeFailure& failure) {
    std::cerr << "zav: " << r.file << ": " << failure.description() << "\n";
    return 2;
  }
  std::cout.flush();
  return std::cout ? 0 : 2;
}

int RunSplit(const SplitRequest& r) {
  const fs::path file = fs::absolute(r.file);
  const fs::path out_dir = r.out_dir ? fs::absolute(*r.out_dir) : file.parent_path();
  try {
    for (const fs::path& part : zav::SplitIntoDiskettes(file, r.parts, out_dir, r.force)) {
      std::cout << part.string() << "\n";
    }
    for (const fs::path& stale : zav::StaleParts(out_dir, file.stem().string(), r.parts)) {
      std::cerr << "zav: " << stale.string()
                << " is left from an earlier split: it is not part of this set\n";
    }
  } catch (const zav::RuntimeFailure& failure) {
    std::cerr << "zav: " << failure.description()
              << (failure.description().find("exists already") != std::string::npos
                      ? " (--force replaces it)"
                      : "")
              << "\n";
    return failure.number() == zav::err::kInvalidCall ? 1 : 2;
  } catch (const fs::filesystem_error& e) {
    std::cerr << "zav: " << e.what() << "\n";
    return 2;
  }
  return 0;
}

}  // namespace zavcli
