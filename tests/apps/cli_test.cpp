// The command line's own contract: exit statuses, output shapes, JSON fields, files left.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "apps/zav_command.hpp"
#include "basic/cp1252.hpp"
#include "platform/temp_drives.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "writing/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using testing::CliRun;
using testing::Put;
using testing::ReadAll;
using testing::Reseal;
using testing::Row;
using testing::WithLineEnds;
using testing::Zav;

class Cli : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};
  fs::path source = drives.base() / "source";
  void SetUp() override { fs::create_directories(source); }
  std::string Write(const PaymentPlan& plan) {
    const fs::path file = source / WorkFileName(plan);
    WritePaymentFile(plan, file);
    return file.string();
  }
  std::string Put(const std::string& name, const std::string& bytes) {
    fs::create_directories((source / name).parent_path());
    std::ofstream(source / name, std::ios::binary) << bytes;
    return (source / name).string();
  }
};

// One row an output path: verdicts 0 and 1, a file or setup not judged 2, usage 64.
TEST_F(Cli, EveryRunAnswersItsStatusAndSaysWhy) {
  const PaymentPlan plan = SamplePaymentPlan(4, 3);
  const std::string file = Write(plan), good = ReadAll(file);
  std::string altered = good;
  altered[295 + 100] = altered[295 + 100] == 'A' ? 'B' : 'A';  // a worker's name
  const std::string n = std::to_string(good.size() / 295);
  // Diskette sets join from their first part; a set missing a part is refused.
  for (const char* folder : {"set", "cut"}) fs::create_directories(source / folder);
  const auto parts = WriteDiskettes(plan, source / "set", "P0404268", 3);
  const auto cut = WriteDiskettes(SamplePaymentPlan(30, 9), source / "cut", "P0404268", 3);
  fs::remove(cut.back());
  // Past 2 GiB the file's length does not fit the control's: refused before it is copied.
  const std::string big = Put("big/P0404268.ZAV", good);
  fs::resize_file(big, (std::uintmax_t{1} << 31) + 295);
  const std::string on_time = " --server-date 10/05/2004", src = source.string();
  // A work folder so long that the archive's path would be cut: 216 characters.
  std::string long_dir = (drives.base() / "w").string();
  long_dir += std::string(216 - long_dir.size(), 'x');
  const std::string no_drive = "ZAV_DRIVES='C=fixed:" + (drives.base() / "none").string() + "'";
  const std::string split = " --out-dir " + src + "/split";
  // README's example validates and packs into --out; the user's file is never touched.
  const std::string example = std::string(ZAV_SOURCE_DIR) + "/examples/P0404268.ZAV";
  const std::string example_bytes = ReadAll(example);
  const std::string zip = "33501e01.m1.s0870.rA1234567890.f000001.p200404.e999.zip";
  std::vector<testing::CliCase> cases = {
      {"check " + src + "/missing.ZAV", 64, {"missing.ZAV does not exist"}},
      {"validate " + file + " --tolerance 300", 64},
      {"frobnicate", 64},
      {"message 9", 0, {"RFC del sumario"}},
      {"message 224", 1, {"not a message number"}},
      Row("validate " + cut.front().string() + on_time, 64,
          {"zav: diskette part P0404268.ZA2 is missing or unreadable"}),
      {"sample --period 200415", 64},
      {"sample --break 1", 64, {"not a message a payment file can be broken to"}},
      {"sample --break 27 --disks 2", 64, {"leave out --disks"}},
      {"--version", 0, {" (commit "}},
      Row("check " + Put("saved/P0404268.ZAV", WithLineEnds(good, "\r\n")) + on_time + " --json", 1,
          {"\"hint\": \"cada registro de 295 bytes"}),
      {"check " + parts[1].string() + on_time, 1, {"parte posterior", "P0404268.ZA0"}},
      Row("validate " + big + on_time, 2,
          {"rejected: run-time failure 6 (Overflow: the file is longer than 2147483647 bytes)"}),
      // Setup problems name the folder and where it comes from; they are not verdicts.
      Row("check " + file + on_time + " --work-dir /proc/none/work", 2,
          {"the work folder /proc/none/work (--work-dir) does not exist"}, "", "rejected"),
      {"check " + file + on_time + " --json", 2, {"\"setup\": \"drive C's folder"}, no_drive},
      // A zip library that cannot be loaded: a run-time failure, not 303; no work copy left.
      Row("validate " + file + on_time, 2,
          {"rejected: run-time failure 53 (File not found: /nonexistent/libzip.so"},
          "ZAV_ZIP_LIBRARY=/nonexistent/libzip.so", "303"),
      Row("validate " + file + on_time + " --json", 2,
          {"\"number\": 453", "libz.so.1 has no zip_close"}, "ZAV_ZIP_LIBRARY=libz.so.1",
          "\"archive\": \""),
      // An archive path the packer would cut is a packing failure, never an acceptance.
      Row("validate " + file + on_time + " --work-dir " + long_dir, 1,
          {"rejected: message 303", "No es posible empacar"}, "", "accepted"),
      // One record number: the verdict's is --all's; record stays posicion.
      Row("check " + Put("altered/P0404268.ZAV", altered) + on_time + " --all", 1,
          {"message 144 at record " + n + ", the validation record",
           "record " + n + " (06), CheckSum"}),
      Row("check " + file + on_time + " --json", 0,
          {"\"at_record\": null", "\"record\": " + std::to_string(good.size() / 295 + 1)}),
      // Rough edges.
      {"valdate " + file, 64, {"'valdate' is not a command; did you mean 'validate'?"}},
      {"describe " + src, 64, {"is a folder, not a file"}},
      {"diff " + file + " " + src + "/gone.ZAV", 2},
      {"diff " + file, 64},
      {"check " + file + " --server-date ''", 64, {"--server-date: is empty"}},
      Row("check " + file + " --server-date 31/02/2004", 64,
          {"--server-date: 31/02/2004: month 02 of 2004 has 29 days"}),
      Row("check " + file + " --server-date 2004-05-17", 64,
          {"--server-date: 2004-05-17 is not a date written DD/MM/YYYY"}),
      {"split " + file + " --parts 11", 64, {"--parts"}},
      // Eight parts need seven places to cut; the workers, movements and summary are six.
      {"split " + file + " --parts 8" + split, 1, {"cannot split"}},
      {"split " + file + " --parts 3" + split, 0, {".ZA2"}},
      {"split " + file + " --parts 2" + split, 1, {"P0404268.ZA0 exists already", "--force"}},
      Row("split " + file + " --parts 2 --force" + split, 0,
          {"P0404268.ZA2 is left from an earlier split"}),
      {"validate --help", 0, {"in whole pesos", "--out", "--keep-work"}},
      {"message --list", 0, {"2\tFallo al accesar unidad de disco :  / ", "6000\tCheckSum"}},
      Row("validate " + example + " --server-date 10/05/2004 --json --out " + src, 0,
          {"\"result\": \"0\",\n  \"accepted\": true,\n  \"message\": null,",
           "\"capture_line\": \"A1234567890-000001-200404-", "\"param\": \"PATRON DE PRUEBA",
           "\"archive_name\": \"" + zip + "\",\n  \"archive\": \"" + src + "/" + zip + "\",",
           "\"failure\": null"}),
  };
  if (::geteuid() != 0) {  // permissions do not bind root
    const std::string locked = Put("locked/P0404268.ZAV", good);
    fs::permissions(locked, fs::perms::none);
    cases.push_back({"validate " + locked + on_time, 2, {"zav: cannot bring"}});
  }
  testing::ExpectRuns(cases);
  EXPECT_EQ(fs::file_size(big), (std::uintmax_t{1} << 31) + 295);
  EXPECT_EQ(testing::Listing(source / "split"),
            (std::vector<std::string>{"P0404268.ZA0", "P0404268.ZA1", "P0404268.ZA2"}));
  EXPECT_TRUE(fs::is_empty(drives.root('C') / "ZAV" / "temp"));
  EXPECT_TRUE(fs::is_empty(long_dir));
  EXPECT_TRUE(fs::exists(source / zip));
  EXPECT_EQ(ReadAll(example), example_bytes);
}

// A check reads the file in place, changing nothing, and answers as a validation would.
TEST_F(Cli, CheckJudgesTheFileWhereItLiesAsAValidationWould) {
  const std::string file = Write(SamplePaymentPlan(2, 5)), work = fs::path(file).filename();
  std::string altered = ReadAll(file);
  char& check_digit = altered[altered.size() - 295 + 120];  // the stored check value
  check_digit = check_digit == '9' ? '0' : static_cast<char>(check_digit + 1);
  const std::string alt = Put("alt/" + work, altered), named = " --work-name " + work;
  for (const char* other : {"P0404268.ZAB", "P0404268.ZV"}) fs::copy_file(file, source / other);
  const std::pair<std::string, int> cases[] = {
      {file, 0},
      {alt, 1},                                           // 144
      {(source / "P0404268.ZAB").string() + named, 1},    // 406
      {file + " --work-name 10405" + work.substr(5), 1},  // 234
      {file + " --work-name .hidden", 1},                 // 2: no work file
      {(source / "P0404268.ZV").string() + named, 2},     // "5"
  };
  std::map<fs::path, std::string> before;
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    if (entry.is_regular_file()) before[entry.path()] = ReadAll(entry.path());
  }
  std::vector<nlohmann::json> checked;
  for (const auto& [args, status] : cases) {
    const CliRun run = Zav("check " + args + " --server-date 10/05/2004 --json");
    EXPECT_EQ(run.status, status) << args << "\n" << run.out;
    checked.push_back(nlohmann::json::parse(run.out));
    EXPECT_TRUE(checked.back()["archive"].is_null());
  }
  EXPECT_TRUE(fs::is_empty(drives.root('C') / "ZAV" / "temp"));
  for (const auto& [path, bytes] : before) EXPECT_EQ(ReadAll(path), bytes) << path;
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    auto validated = nlohmann::json::parse(
        Zav("validate " + cases[k].first + " --server-date 10/05/2004 --json").out);
    validated["archive"] = validated["archive_name"] = nullptr;
    EXPECT_EQ(checked[k], validated) << cases[k].first;
  }
}

// Samples validate (no period: last month's, on time today); each listed break is refused so.
TEST_F(Cli, SamplesValidateAndEveryListedBreakIsWhatCheckReports) {
  const auto written = [](const CliRun& run) { return run.out.substr(0, run.out.find('\n')); };
  const std::pair<std::string, std::string> samples[] = {
      {"--workers 12 --period 200413 --seed 4", " --server-date 01/01/2005"}, {"", ""}};
  for (const auto& [options, date] : samples) {
    const fs::path out = drives.base() / ("samples" + std::to_string(options.size()));
    const CliRun run = Zav("sample " + options + " -o " + out.string());
    ASSERT_EQ(run.status, 0) << run.out;
    testing::ExpectRuns({{"check " + written(run) + date, 0}});
  }
  const CliRun list = Zav("sample --break list");
  ASSERT_EQ(list.status, 0) << list.out;
  // Period rules need the period they break: an even month, an odd one, a period 13.
  const std::pair<std::string, std::string> periods[] = {
      {"200404", "10/05/2004"}, {"200405", "10/06/2004"}, {"200413", "10/01/2005"}};
  std::istringstream lines(list.out);
  int listed = 0;
  for (std::string line; std::getline(lines, line); ++listed) {
    const std::string message = std::to_string(std::stoi(line)), out = drives.base() / message;
    nlohmann::json verdict = nlohmann::json::object();
    for (const auto& [period, date] : periods) {
      const CliRun made = Zav("sample --break " + message + " --period " + period + " -o " + out);
      if (made.status != 0) continue;
      const CliRun check = Zav("check --json --server-date " + date + " " + written(made));
      EXPECT_EQ(check.status, 1) << line << "\n" << check.out;
      if (auto j = nlohmann::json::parse(check.out, nullptr, false); j.is_object()) verdict = j;
      break;
    }
    EXPECT_EQ(verdict["message"], std::stoi(line)) << line << "\n" << verdict.dump();
  }
  EXPECT_GT(listed, 100);
}

// Progress on a terminal only (under `script`), never with --json nor into a pipe.
TEST_F(Cli, ProgressLineOnlyOnATerminal) {
  const std::string check =
      "check " + Write(SamplePaymentPlan(15000, 3)) + " --server-date 10/05/2004";  // 4.5 MB
  const auto on_terminal = [](const std::string& args) {
    return testing::Shell("script -qec '" ZAV_BINARY " " + args + "' /dev/null").out;
  };
  const auto shown = [](const std::string& out) {
    return out.find(" records (") != std::string::npos;
  };
  EXPECT_TRUE(shown(on_terminal(check)));
  EXPECT_FALSE(shown(on_terminal(check + " --json")));
  EXPECT_FALSE(shown(Zav(check).out));
}

// zav deadline: the last day to pay, moved as the control moves the deadline of a file.
class CliDeadline : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};

  // The run for `period` on `today` (with the settings lines `holidays`, if any) and its answer.
  testing::CliCase Due(std::string period, std::string today, std::string last, int left,
                       const std::string& holidays = "") {
    std::string args = "deadline --json --period " + period + " --today " + today;
    if (!holidays.empty()) {
      const std::string file = (drives.base() / (period + ".ini")).string();
      std::ofstream(file) << "[Inhabiles]\n" << holidays;
      args += " --holidays " + file;
    }
    const std::string late = left < 0 ? ",\"late\":true" : ",\"late\":false";
    return {
        args, 0, {"\"last_day\":\"" + last + "\"", "\"days_left\":" + std::to_string(left) + late}};
  }
};

TEST_F(CliDeadline, MovesTheDeadlineAsTheControlDoesAndRefusesWhatIsNoPeriodOrDate) {
  testing::ExpectRuns({
      Due("202605", "20260610", "17/06/2026", 7),                    // a Wednesday stays
      Due("202604", "20260518", "18/05/2026", 0),                    // on the last day
      Due("202609", "20261020", "19/10/2026", -1),                   // Saturday: Monday; late
      Due("202605", "20260601", "18/06/2026", 17, "6=17\n"),         // a listed holiday
      Due("202508", "20250901", "17/09/2025", 16, "9=16,\n8=18\n"),  // only the month's key
      Due("202613", "20270101", "19/01/2027", 18, "1=18\n"),         // the special periods too
      {"deadline --period 2026", 64, {"--period must be YYYYMM, six digits (given: 2026)"}},
      {"deadline --period 202600", 64, {"the period month must be 01 to 14 (given: 202600)"}},
      {"deadline --period 199706", 64, {"periods start with July 1997 (199707) (given: 199706)"}},
      {"deadline --period 202605 --today 20260230", 64, {"--today 20260230 is not a date"}},
      {"deadline --period 202605 --today 2026", 64, {"--today must be YYYYMMDD (given: 2026)"}},
      Row("deadline --period 202605 --holidays /nonexistent/kiv.ini", 64,
          {"/nonexistent/kiv.ini does not exist"}),
      {"deadline ", 64, {"--period is required"}},
  });
  // Without --holidays it reads the control's own settings.
  drives.Write("C:/windows/kiv.ini", "[Inhabiles]\n6=17\n");
  testing::ExpectRuns({{"deadline --period 202605 --today 20260617",
                        0,
                        {"last day to pay:  18/06/2026 (Thursday)", "days left:        1\n"}}});
}

// The day it names is the last the check takes: past holy week 2025 and the weekend.
TEST_F(CliDeadline, AgreesWithTheCheckOfASampleFile) {
  const testing::CliRun sample = Zav("sample --period 202503 -o " + drives.base().string());
  ASSERT_EQ(sample.status, 0) << sample.out;
  const std::string file = sample.out.substr(0, sample.out.find('\n'));
  testing::ExpectRuns({
      {"deadline --json --period 202503 --today 20250101", 0, {"\"last_day\":\"21/04/2025\""}},
      {"check " + file + " --server-date 21/04/2025", 0},
      {"check " + file + " --json --server-date 22/04/2025", 1, {"\"message\": 253,"}},
  });
}

// zav diff: records paired by type and key, every differing field named by the layout.
constexpr std::size_t kRecord = 295;

// `bytes` with the field at 1-based `start` of record `number` overwritten by `text`.
std::string Set(std::string bytes, std::size_t number, std::size_t start, const std::string& text) {
  return bytes.replace((number - 1) * kRecord + start - 1, text.size(), text);
}
std::string Without(std::string bytes, std::size_t number) {
  return bytes.erase((number - 1) * kRecord, kRecord);
}

class CliDiff : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};
  std::string a_bytes = testing::FileOf(SamplePaymentPlan(5, 2));  // header, 5 workers, ..., 06
  fs::path a = drives.base() / "a.ZAV", b = drives.base() / "b.ZAV";
  void SetUp() override { std::ofstream(a, std::ios::binary) << a_bytes; }

  json Diff(const std::string& b_bytes, int status, const std::string& flags = "") {
    std::ofstream(b, std::ios::binary | std::ios::trunc) << b_bytes;
    const testing::CliRun run =
        testing::Zav("diff --json " + flags + " " + a.string() + " " + b.string());
    EXPECT_EQ(run.status, status) << run.out;
    return json::parse(run.out)["differences"];
  }
};

TEST_F(CliDiff, NamesEachDifferenceByTheLayout) {
  const std::string inserted = Set(a_bytes.substr(kRecord, kRecord), 1, 33, "99999999999");
  const std::string renamed = Set(a_bytes, 3, 95, "OTRO NOMBRE");
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      // b, then "change record_a record_b field" of each difference, in order
      {a_bytes, {}},
      {renamed, {"changed 3 3 nombre del trabajador"}},
      {Without(a_bytes, 3), {"removed 3 - "}},
      {std::string(a_bytes).insert(2 * kRecord, inserted), {"added - 3 "}},
      {Set(Without(a_bytes, 3), 4, 202, "1234567"), {"removed 3 - ", "changed 5 4 guarder"}},
      {Set(a_bytes, 7, 14 + 29, "07"), {"changed 7 7 movimiento 1: d\u00edas de incidencia"}},
      {a_bytes + "xyz", {"added - 10 "}},  // bytes after the last record
  };
  const auto number = [](const json& n) {
    return n.is_number() ? std::to_string(n.get<int>()) : std::string("-");
  };
  std::vector<json> found;
  for (const auto& [b_bytes, changes] : cases) {
    SCOPED_TRACE("case " + std::to_string(found.size()));
    const json d = found.emplace_back(Diff(b_bytes, changes.empty() ? 0 : 1));
    ASSERT_EQ(d.size(), changes.size()) << d.dump(1);
    for (std::size_t k = 0; k < d.size(); ++k) {
      const std::string got =
          d[k]["change"].get<std::string>() + " " + number(d[k].value("record_a", json())) + " " +
          number(d[k].value("record_b", json())) + " " + d[k].value("field", "");
      EXPECT_EQ(got.substr(0, changes[k].size()), changes[k]) << d.dump(1);
    }
  }
  const json& renamed_field = found[1][0];  // and the removed record's key, its NSS
  EXPECT_EQ(json({renamed_field["start"], renamed_field["length"],
                  renamed_field["b"].get<std::string>().substr(0, 11), found[2][0]["key"]}),
            json({95, 50, "OTRO NOMBRE", a_bytes.substr(2 * kRecord + 32, 11)}));
}

TEST_F(CliDiff, MaskHidesPersonalValuesButNotThatTheyDiffer) {
  const json d = Diff(Without(Set(a_bytes, 2, 95, "OTRO NOMBRE"), 3), 1, "--mask");
  ASSERT_EQ(d.size(), 2u) << d.dump(1);
  EXPECT_EQ(d[0]["field"], "nombre del trabajador");
  EXPECT_EQ(d[0]["b"].get<std::string>().find_first_not_of('*'), std::string::npos);
  EXPECT_EQ(d[1]["key"].get<std::string>().substr(0, 8), "********");
  testing::ExpectRuns(
      {{"diff --mask " + a.string() + " " + b.string(), 1, {"removed: A record 3"}, "", "OTRO"}});
}

// zav fix: each damage undone gives back the generated bytes exactly.
void Save(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

class CliFix : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};
  fs::path in = drives.base() / "in", out = drives.base() / "out", file = in / "P0404268.ZAV";
  std::string original;  // the generated bytes, accented letters included

  void SetUp() override {
    fs::create_directories(in);
    fs::create_directories(out);
    PaymentPlan plan = SamplePaymentPlan(4, 3);
    plan.nombre = "PATR\323N ESPA\321OL SA";
    original = testing::FileOf(plan);
    ASSERT_EQ(WorkFileName(plan), "P0404268.ZAV");
  }
};

TEST_F(CliFix, EachDamageUndoneGivesTheGeneratedBytes) {
  const auto same = [](const std::string& b) { return b; };
  const auto utf8 = [](const std::string& b) { return Cp1252ToUtf8(b); };
  struct Case {
    const char* name;  // the damaged file's name
    std::function<std::string(const std::string&)> damage;
    const char* said;
    bool made = false;  // -o names a folder not there yet, ending in /
  } cases[] = {
      {"P0404268.ZAV", [](auto& b) { return WithLineEnds(b, "\n"); }, "LF"},
      {"P0404268.ZAV", [](auto& b) { return WithLineEnds(b, "\n", false); }, "LF"},  // none last
      {"P0404268.ZAV", utf8, "UTF-8"},
      {"P0404268.ZAV", [&](auto& b) { return "\xEF\xBB\xBF" + utf8(b); }, "UTF-8"},  // a mark
      {"pago.zav", same, "asks for P0404268.ZAV"},
      {"pago (1).ZAV", [&](auto& b) { return utf8(WithLineEnds(b, "\r\n")); }, "CR LF", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", " + c.said);
    fs::remove_all(out);
    if (!c.made) fs::create_directories(out);
    const fs::path damaged = in / c.name;
    const std::string bytes = c.damage(original);
    Save(damaged, bytes);
    testing::ExpectRuns(
        {{"fix '" + damaged.string() + "' -o " + out.string() + (c.made ? "/" : ""), 0, {c.said}}});
    EXPECT_EQ(ReadAll(out / "P0404268.ZAV"), original);
    EXPECT_EQ(ReadAll(damaged), bytes) << "the input changed";
    EXPECT_EQ(testing::Listing(out).size(), 1u) << "a temporary file is left";
    fs::remove(damaged);
  }
}

// Changed contents are refused, an undamaged file has nothing to mend: nothing is written.
TEST_F(CliFix, WhatIsNotTheGeneratedBytesDamagedIsNotWritten) {
  std::string changed = original;
  changed[295 + 200] = changed[295 + 200] == '1' ? '2' : '1';  // a worker's amount
  const std::tuple<std::string, const char*, int> cases[] = {
      {WithLineEnds(changed, "\r\n"), "check value does not match", 1},
      {changed, "no damage", 1},
      {WithLineEnds(original.substr(0, original.size() - 295), "\n"), "validation record", 1},
      {"hello\n", "295-byte", 1},
      {original, "nothing to mend", 0},
  };
  for (const auto& [bytes, said, status] : cases) {
    Save(file, bytes);
    testing::ExpectRuns({{"fix " + file.string() + " -o " + out.string(), status, {said}}});
    EXPECT_TRUE(fs::is_empty(out)) << said;
    EXPECT_EQ(ReadAll(file), bytes) << said;
  }
}

TEST_F(CliFix, NeverOverwritesWithoutForceNorTheInput) {
  const std::string damaged = WithLineEnds(original, "\n");
  Save(file, damaged);
  const std::string fix = "fix " + file.string() + " -o ", target = (out / "P0404268.ZAV").string();
  Save(target, "older");
  testing::ExpectRuns({{fix + target, 64, {"--force"}}});
  EXPECT_EQ(ReadAll(target), "older");
  testing::ExpectRuns({
      {fix + target + " --force", 0},
      {fix + file.string() + " --force", 64},  // the input itself
      {fix + in.string() + " --force", 64},    // the input's folder
      // A name the control would refuse for this file is no place for the mend.
      {fix + (out / "mended.zav").string(), 64, {"P0404268.ZAV"}},
  });
  EXPECT_EQ(ReadAll(target), original);
  EXPECT_EQ(ReadAll(file), damaged);
  EXPECT_FALSE(fs::exists(out / "mended.zav"));
}

// zav check --all and zav describe.
class InspectCli : public ::testing::Test {
 protected:
  std::string Run(const std::string& command) const {
    return command + " '" + file_.string() + "' --server-date 17/05/2004 --work-dir '" +
           (drives_.base() / "work").string() + "'";
  }
  // The file with `edits` (record, field, text) made and its validation record brought in line.
  void Edit(const std::vector<std::tuple<std::size_t, Field, std::string>>& edits) {
    std::string bytes = ReadAll(file_);
    for (const auto& [record, field, text] : edits) Put(bytes, record, field, text);
    Reseal(bytes);
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << bytes;
  }

  testing::TempDrives drives_{"C=fixed"};
  PaymentPlan spec_ = SamplePaymentPlan(3, 7);  // header, 3 workers, movements, summary, 06
  fs::path file_ = drives_.base() / WorkFileName(spec_);
  void SetUp() override { WritePaymentFile(spec_, file_); }
};

TEST_F(InspectCli, CheckAllListsEveryProblemAndKeepsTheVerdict) {
  Edit({{1, record02::kCodigoPostal, "ABCDE"},            // 2100
        {4, record03::kSeguridadSocial, "A\rCDEFGHIJK"},  // 225
        {7, record06::kVersion, "W201"}});                // 49, found before the records
  const CliRun all = Zav(Run("check --all --json"));
  EXPECT_EQ(all.status, 1) << all.out;
  const json j = json::parse(all.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << all.out;
  EXPECT_EQ(j["message"], 49);
  std::vector<std::pair<int, int>> found;  // message, record
  for (const json& p : j["problems"]) found.emplace_back(p["message"], p["record"]);
  EXPECT_EQ(found, (std::vector<std::pair<int, int>>{{49, 7}, {2100, 1}, {225, 4}}));
  // The field in UTF-8 and where it lies; what was found and what was expected.
  const json &postal = j["problems"][1], &nss = j["problems"][2];
  EXPECT_EQ(
      json({postal["field"], postal["start"], postal["length"], nss["compared"], nss["found"],
            nss["expected"], nss["marked"].size()}),
      json({"c\u00f3digo postal", 171, 5, "format", "A\rCDEFGHIJK", "11 d\xC3\xADgitos", 11}));
  // The same verdict without --all; in text a control byte is shown as an escape.
  testing::ExpectRuns({
      {Run("check --json"), 1, {"\"message\": 49,"}, "", "\"problems\""},
      Row(Run("check --all"), 1,
          {"3 problems", "record 4 (03), n\xC3\xBAmero de seguridad social (33, 11): 225",
           "encontrado \"[A][\\r][C]"}),
  });
}

TEST_F(InspectCli, DescribeNamesTheFieldsAndMasks) {
  const std::string file = " '" + file_.string() + "'";
  testing::ExpectRuns({
      Row("describe" + file, 0,
          {"registro 1: encabezado patronal", "RFC del patr\xC3\xB3n: ABCD010101XY1",
           "registro 2: trabajador 1", "n\xC3\xBAmero de seguridad social: 00000000001",
           "fecha l\xC3\xADmite de pago (AAAAMMDD): 17/05/2004", "registro 7: validaci\xC3\xB3n",
           "7 registros, 2065 bytes"}),
      Row("describe --mask" + file, 0,
          {"RFC del patr\xC3\xB3n: **********XY1",
           "n\xC3\xBAmero de seguridad social: ********001"}),
  });
  const std::string lines = Zav("describe --json" + file).out;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 7);  // one object a record
}

// --mask hides every personal value in describe's fields and check --all's found values.
TEST_F(InspectCli, MaskHidesEveryPersonalValueWhereverItIsShown) {
  Edit({{2, record03::kNombre, "PEREZ$LOPEZ$JUANA="},      // found by 3113 or shown
        {2, record03::kUltimoSalario, "12X4567"},          // 171: its value is found
        {3, record03::kSeguridadSocial, "9876543X210"}});  // 225
  const std::vector<std::string> personal = {"ABCD010101XY1", "PEREZ$LOPEZ$JUANA", "12X4567",
                                             "9876543X210"};
  struct Case {
    const char* command;             // the file follows
    std::vector<std::string> shown;  // of `personal`, what the unmasked output holds
  } cases[] = {
      {"describe", personal},
      {"check --server-date 17/05/2004 --all --json", {"12X4567", "9876543X210"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const std::string run = std::string(c.command) + " '" + file_.string() + "'";
    const std::string plain = Zav(run).out, masked = Zav(run + " --mask").out;
    for (const std::string& value : c.shown) {
      EXPECT_NE(plain.find(value), std::string::npos) << value << " in\n" << plain;
    }
    for (const std::string& value : personal) {
      EXPECT_EQ(masked.find(value), std::string::npos) << value << " in\n" << masked;
    }
    EXPECT_FALSE(masked.empty());
  }
}

// zav check over many files: a row each, the worst verdict's status, a safe CSV.
class CliMany : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};
  fs::path folder = drives.base() / "payments";
  std::string good = (folder / "P0404268.ZAV").string(),
              rejected = (folder / "R0404268.ZAV").string();
  std::string parts, missing = (folder / "gone.ZAV").string();

  void SetUp() override {
    fs::create_directories(folder / "set");
    WritePaymentFile(SamplePaymentPlan(5, 2), fs::path(good));
    // A diskette set of the same name, joined in its own work folder.
    parts = WriteDiskettes(SamplePaymentPlan(30, 9), folder / "set", "P0404268", 2).front();
    PaymentPlan late = SamplePaymentPlan(3, 4);  // due on the 1st, so late on the 10th
    late.deadline_day = 1;
    WritePaymentFile(late, fs::path(rejected));
    std::ofstream(folder / "notes.txt") << "not a payment file\n";
  }

  // The rows of `check ARGS --summary json`, and its exit status.
  std::pair<nlohmann::json, int> Summary(const std::string& args) {
    const CliRun run = Zav("check " + args + " --summary json 2>/dev/null");
    return {nlohmann::json::parse(run.out, nullptr, false), run.status};
  }
};

TEST_F(CliMany, EveryFileHasItsRowAndTheWorstVerdictIsTheStatus) {
  const std::string files = good + " " + missing + " " + rejected + " " + parts;
  const CliRun csv = Zav("check " + files + " --server-date 10/05/2004 --summary csv 2>/dev/null");
  EXPECT_EQ(csv.status, 2) << csv.out;  // the missing file outweighs the rejection
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 5) << csv.out;
  const std::string head = ",A1234567890,ABCD010101XY1,200404,000001,";
  for (const std::string& row : std::vector<std::string>{
           "\n" + missing + ",,,,,,,unreadable,,",
           "\n" + rejected + head + "3,8255.16,rejected,253,La fecha l\xC3\xADmite de pago",
           "subdelegaci\xC3\xB3n.,01/05/2004,7,\n",
       }) {
    EXPECT_NE(csv.out.find(row), std::string::npos) << row << " in\n" << csv.out;
  }
  const auto [j, status] = Summary(files + " --server-date 20/05/2004");
  EXPECT_EQ(status, 2);
  ASSERT_EQ(j.size(), 4u);
  EXPECT_EQ(json({j[0]["verdict"], j[0]["days_late"], j[0]["workers"], j[1]["registration"],
                  j[1]["capture_line"]}),
            json({"rejected", 3, 5, nullptr, nullptr}));  // three days late; the missing file
  // Without the missing file, the rejection is the worst.
  testing::ExpectRuns({{"check " + good + " " + rejected + " --server-date 10/05/2004", 1},
                       {"check " + good + " " + parts + " --server-date 10/05/2004", 0}});
}

TEST_F(CliMany, AFolderGivesItsPaymentFiles) {
  const auto names = [](const nlohmann::json& rows, const char* key) {
    std::vector<std::string> got;
    for (const auto& row : rows) got.push_back(fs::path(row[key].get<std::string>()).filename());
    return got;
  };
  // A payment file that cannot be read is its row; every other row stays; notes.txt is none.
  fs::create_symlink(folder / "nowhere", folder / "Q0404268.ZAV");
  const auto [j, status] =
      Summary(folder.string() + " " + (folder / "set").string() + " --server-date 10/05/2004");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(names(j, "file"), (std::vector<std::string>{"P0404268.ZAV", "Q0404268.ZAV",
                                                        "R0404268.ZAV", "P0404268.ZA0"}));
  EXPECT_EQ(names(j, "verdict"),
            (std::vector<std::string>{"accepted", "unreadable", "rejected", "accepted"}));
  // A folder without payment files is a row too.
  fs::create_directories(folder / "empty");
  testing::ExpectRuns(
      {{"check " + (folder / "empty").string() + " --summary csv", 2, {"no payment file"}}});
}

// Due Friday 17/12/2004, payable until Monday 20/12; never late in management mode.
TEST_F(CliMany, DaysLateCountFromTheLastDayToPay) {
  PaymentPlan plan = SamplePaymentPlan(3, 5);
  plan.month = 11;
  plan.deadline_month = 12;
  const fs::path file = folder / "F0411268.ZAV";
  WritePaymentFile(plan, file);
  const std::tuple<const char*, const char*, int> cases[] = {
      {"20/12/2004", "accepted", 0},
      {"21/12/2004", "rejected", 1},
      {"21/12/2004 --management", "accepted", 0},
  };
  for (const auto& [date, verdict, days_late] : cases) {
    SCOPED_TRACE(date);
    const auto [rows, status] = Summary(file.string() + " --server-date " + date);
    EXPECT_EQ(json({rows[0]["verdict"], rows[0]["days_late"], rows[0]["deadline"]}),
              json({verdict, days_late, "17/12/2004"}));
  }
}

// A cell a spreadsheet would run as a formula gets a leading quote; numbers stay.
TEST_F(CliMany, FormulaCellsGetAQuoteNumbersStayNumbers) {
  const fs::path odd = drives.base() / "odd";
  fs::create_directories(odd);
  for (const char* name : {"=1+1.ZAV", "@SUM.ZAV", "+1.ZAV"}) {
    WritePaymentFile(SamplePaymentPlan(2, 1), odd / name);
  }
  // Such names are not work names (234).
  testing::ExpectRuns({{"check =1+1.ZAV @SUM.ZAV +1.ZAV --server-date 10/05/2004 --summary csv",
                        1,
                        {"\n'=1+1.ZAV,A1234567890,", "\n'@SUM.ZAV,", "\n'+1.ZAV,", ",rejected,234,",
                         ",17/05/2004,0,"},
                        "cd '" + odd.string() + "' &&"}});
}

}  // namespace
}  // namespace zav
