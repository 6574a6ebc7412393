// The command line as users and scripts meet it: exit statuses, the JSON fields, and
// what is left on disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "apps/zav_command.hpp"
#include "platform/temp_drives.hpp"
#include "support/payment_run.hpp"
#include "writing/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;

using testing::CliRun;
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
};

TEST_F(Cli, BundledExampleValidatesAndPacksLeavingNothingInTheWorkFolder) {
  const std::string example = std::string(ZAV_SOURCE_DIR) + "/examples/P0404268.ZAV";
  const std::string before = testing::ReadAll(example);
  const CliRun run =
      Zav("validate " + example + " --server-date 10/05/2004 --json --out " + source.string());
  ASSERT_EQ(run.status, 0) << run.out;
  const auto j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["result"], "0");
  EXPECT_EQ(j["accepted"], true);
  EXPECT_TRUE(j["message"].is_null());
  EXPECT_TRUE(j["failure"].is_null());
  EXPECT_EQ(j["archive_name"], "33501e01.m1.s0870.rA1234567890.f000001.p200404.e999.zip");
  const fs::path archive = j["archive"].get<std::string>();
  EXPECT_TRUE(fs::exists(archive));
  EXPECT_EQ(archive.parent_path(), source);
  EXPECT_TRUE(fs::is_empty(drives.root('C') / "ZAV" / "temp"));
  EXPECT_EQ(j["capture_line"].get<std::string>().substr(0, 26), "A1234567890-000001-200404-");
  EXPECT_EQ(j["param"].get<std::string>().find("PATRON DE PRUEBA"), 0u);
  EXPECT_EQ(testing::ReadAll(example), before);  // the user's file is never touched
}

// Every run a user or script meets, one row each: its exit status, what it must say and what
// it must not. Verdicts are 0 and 1, a file or setup that cannot be judged 2, a wrong command
// line 64.
TEST_F(Cli, EveryRunAnswersItsStatusAndSaysWhy) {
  const PaymentPlan plan = SamplePaymentPlan(4, 3);
  const std::string file = Write(plan);
  const std::string good = testing::ReadAll(file);
  const auto put = [&](const std::string& name, const std::string& bytes) {
    fs::create_directories((source / name).parent_path());
    std::ofstream(source / name, std::ios::binary) << bytes;
    return (source / name).string();
  };
  std::string altered = good;
  altered[295 + 100] = altered[295 + 100] == 'A' ? 'B' : 'A';  // a worker's name
  const std::string n = std::to_string(good.size() / 295);
  const std::string past_last = std::to_string(good.size() / 295 + 1);
  // Diskette sets join from their first part; a set missing a part is refused.
  for (const char* folder : {"set", "cut"}) fs::create_directories(source / folder);
  const auto parts = WriteDiskettes(plan, source / "set", "P0404268", 3);
  const auto cut = WriteDiskettes(SamplePaymentPlan(30, 9), source / "cut", "P0404268", 3);
  fs::remove(cut.back());
  // Past 2 GiB the file's length does not fit the control's: refused before it is copied.
  const std::string big = put("big/P0404268.ZAV", good);
  fs::resize_file(big, (std::uintmax_t{1} << 31) + 295);
  const std::string on_time = " --server-date 10/05/2004";
  // A work folder so long that the archive's path would be cut: 216 characters.
  std::string long_dir = (drives.base() / "w").string();
  long_dir += std::string(216 - long_dir.size(), 'x');
  const std::string no_drive = "ZAV_DRIVES='C=fixed:" + (drives.base() / "none").string() + "'";
  const std::string split = " --out-dir " + (source / "split").string();
  std::vector<testing::CliCase> cases = {
      {"check " + file + on_time, 0, {"accepted"}},
      {"check " + file + " --server-date 20/06/2004", 1, {"message 253"}},
      {"check " + file + " --server-date 20/06/2004 --management", 0, {"accepted"}},
      {"check " + source.string() + "/missing.ZAV", 64, {"missing.ZAV does not exist"}},
      {"validate " + file + " --tolerance 300", 64},
      {"frobnicate", 64},
      {"message 9", 0, {"RFC del sumario"}},
      {"message 224", 1, {"not a message number"}},
      {"validate " + parts.front().string() + on_time, 0},
      {"validate " + cut.front().string() + on_time,
       64,
       {"zav: diskette part P0404268.ZA2 is missing or unreadable"}},
      {"sample --period 200415", 64},
      {"sample --break 1", 64, {"not a message a payment file can be broken to"}},
      {"sample --break 27 --disks 2", 64, {"leave out --disks"}},
      {"--version", 0, {" (commit "}},
      {"check " + put("named/PAGO.ZAV", good) + on_time,
       1,
       {"message 234, in the file's name", "pista: el encabezado pide el nombre P0404268.ZAV",
        "use --work-name P0404268.ZAV"}},
      {"check " + put("saved/P0404268.ZAV", testing::WithLineEnds(good, "\r\n")) + on_time,
       1,
       {"rejected: message 219", "pista: cada registro", "(CR LF)"}},
      {"check " + source.string() + "/saved/P0404268.ZAV" + on_time + " --json",
       1,
       {"\"hint\": \"cada registro de 295 bytes"}},
      {"check " + parts[1].string() + on_time, 1, {"parte posterior", "P0404268.ZA0"}},
      {"check " + put("text/P0404268.ZAV", "hola\n") + on_time, 2, {"no es un archivo de pagos"}},
      {"check " + put("empty/P0404268.ZAV", "") + on_time, 2, {"vac\xC3\xADo (0 bytes)"}},
      {"check " + put("plain/P0404268", good) + on_time, 2, {"no termina en .ZAV"}},
      {"validate " + big + on_time,
       2,
       {"rejected: run-time failure 6 (Overflow: the file is longer than 2147483647 bytes)"}},
      // Setup problems name the folder and where it comes from; they are not verdicts.
      {"check " + file + on_time,
       2,
       {"none does not exist (ZAV_DRIVES entry C=fixed:"},
       no_drive,
       "rejected"},
      {"check " + file + on_time + " --work-dir /proc/none/work",
       2,
       {"the work folder /proc/none/work (--work-dir) does not exist"},
       "",
       "rejected"},
      {"check " + file + on_time + " --json", 2, {"\"setup\": \"drive C's folder"}, no_drive},
      // A zip library that cannot be loaded fails the packing call: a run-time failure, not
      // message 303; the renamed work copy does not stay behind.
      {"validate " + file + on_time,
       2,
       {"rejected: run-time failure 53 (File not found: /nonexistent/libzip.so"},
       "ZAV_ZIP_LIBRARY=/nonexistent/libzip.so",
       "303"},
      {"validate " + file + on_time + " --json",
       2,
       {"\"number\": 453", "libz.so.1 has no zip_close"},
       "ZAV_ZIP_LIBRARY=libz.so.1",
       "\"archive\": \""},
      // An archive path the packer would cut is a packing failure, never an acceptance.
      {"validate " + file + on_time + " --work-dir " + long_dir,
       1,
       {"rejected: message 303", "No es posible empacar"},
       "",
       "accepted"},
      // One record number: the verdict's is --all's; record stays posicion.
      {"check " + put("altered/P0404268.ZAV", altered) + on_time + " --all",
       1,
       {"message 144 at record " + n + ", the validation record",
        "record " + n + " (06), CheckSum"}},
      {"check " + file + on_time + " --json",
       0,
       {"\"at_record\": null", "\"record\": " + past_last}},
      // Rough edges.
      {"valdate " + file, 64, {"'valdate' is not a command; did you mean 'validate'?"}},
      {"check " + source.string(), 1, {"message 253"}},  // a folder gives its files
      {"describe " + source.string(), 64, {"is a folder, not a file"}},
      {"diff " + file + " " + source.string() + "/gone.ZAV", 2},
      {"diff " + file + " " + source.string(), 2},
      {"diff " + file, 64},
      {"check " + file + " --server-date ''", 64, {"--server-date: is empty"}},
      {"check " + file + " --server-date 31/02/2004",
       64,
       {"--server-date: 31/02/2004: month 02 of 2004 has 29 days"}},
      {"check " + file + " --server-date 2004-05-17",
       64,
       {"--server-date: 2004-05-17 is not a date written DD/MM/YYYY"}},
      {"check " + file + " --server-date ab/cd/efgh",
       64,
       {"--server-date: ab/cd/efgh is not a date written DD/MM/YYYY"}},
      {"split " + file + " --parts 11", 64, {"--parts"}},
      // Eight parts need seven places to cut; four workers, the movements and the summary
      // are six.
      {"split " + file + " --parts 8" + split, 1, {"cannot split"}},
      {"split " + file + " --parts 3" + split, 0, {".ZA2"}},
      {"split " + file + " --parts 2" + split, 1, {"P0404268.ZA0 exists already", "--force"}},
      {"split " + file + " --parts 2 --force" + split,
       0,
       {"P0404268.ZA2 is left from an earlier split"}},
      {"validate --help", 0, {"in whole pesos", "--out", "--keep-work"}},
      {"message --list", 0, {"2\tFallo al accesar unidad de disco :  / ", "6000\tCheckSum"}},
  };
  if (::geteuid() != 0) {  // permissions do not bind root
    const std::string locked = put("locked/P0404268.ZAV", good);
    fs::permissions(locked, fs::perms::none);
    cases.push_back({"validate " + locked + on_time, 2, {"zav: cannot bring"}});
  }
  testing::ExpectRuns(cases);
  EXPECT_EQ(fs::file_size(big), (std::uintmax_t{1} << 31) + 295);
  EXPECT_EQ(testing::Listing(source / "split"),
            (std::vector<std::string>{"P0404268.ZA0", "P0404268.ZA1", "P0404268.ZA2"}));
  EXPECT_TRUE(fs::is_empty(drives.root('C') / "ZAV" / "temp"));
  EXPECT_TRUE(fs::is_empty(long_dir));
}

// A check reads the file where it lies: no copy, every file as it was; and
// it answers what a validation, which works on a copy, answers, the name checks included.
TEST_F(Cli, CheckJudgesTheFileWhereItLiesAsAValidationWould) {
  const PaymentPlan plan = SamplePaymentPlan(2, 5);
  const std::string file = Write(plan);
  const std::string work = WorkFileName(plan);
  std::string altered = testing::ReadAll(file);
  char& check_digit = altered[altered.size() - 295 + 120];  // the stored check value
  check_digit = check_digit == '9' ? '0' : static_cast<char>(check_digit + 1);
  fs::create_directories(source / "alt");
  std::ofstream(source / "alt" / work, std::ios::binary) << altered;
  for (const char* other : {"P0404268.ZAB", "P0404268.ZV"}) fs::copy_file(file, source / other);
  const std::string named = " --work-name " + work;
  struct Case {
    std::string args;
    int status;
  } cases[] = {
      {file, 0},
      {(source / "alt" / work).string(), 1},              // 144
      {(source / "P0404268.ZAB").string() + named, 1},    // 406
      {file + " --work-name 10405" + work.substr(5), 1},  // 234
      {file + " --work-name .hidden", 1},                 // 2: no work file
      {(source / "P0404268.ZV").string() + named, 2},     // "5"
  };
  std::map<fs::path, std::string> before;
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    if (entry.is_regular_file()) before[entry.path()] = testing::ReadAll(entry.path());
  }
  std::vector<nlohmann::json> checked;
  for (const Case& c : cases) {
    const CliRun run = Zav("check " + c.args + " --server-date 10/05/2004 --json");
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.out;
    checked.push_back(nlohmann::json::parse(run.out));
    EXPECT_TRUE(checked.back()["archive"].is_null());
  }
  EXPECT_TRUE(fs::is_empty(drives.root('C') / "ZAV" / "temp"));
  for (const auto& [path, bytes] : before) EXPECT_EQ(testing::ReadAll(path), bytes) << path;
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const CliRun run = Zav("validate " + cases[k].args + " --server-date 10/05/2004 --json");
    auto validated = nlohmann::json::parse(run.out);
    validated["archive"] = validated["archive_name"] = nullptr;
    EXPECT_EQ(checked[k], validated) << cases[k].args;
  }
}

TEST_F(Cli, SampleWritesFilesThatValidate) {
  // Without a period the file is last month's, on time today.
  const std::pair<std::string, std::string> runs[] = {
      {"--workers 12 --period 200413 --seed 4", "--server-date 01/01/2005"}, {"", ""}};
  for (const auto& [options, date] : runs) {
    const fs::path out = drives.base() / ("samples" + std::to_string(options.size()));
    CliRun run = Zav("sample " + options + " -o " + out.string());
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string written = run.out.substr(0, run.out.find('\n'));
    run = Zav("check " + written + " " + date);
    EXPECT_EQ(run.status, 0) << options << "\n" << run.out;
  }
}

// zav sample --break as a payroll program uses it: every message it lists is the one zav
// check then refuses the written file with.
TEST_F(Cli, EveryListedBreakIsWhatCheckReports) {
  const CliRun list = Zav("sample --break list");
  ASSERT_EQ(list.status, 0) << list.out;
  // The period rules' messages need the period they break: an even month, an odd one and
  // a period 13, each checked before its deadline.
  const std::pair<std::string, std::string> periods[] = {
      {"200404", "10/05/2004"}, {"200405", "10/06/2004"}, {"200413", "10/01/2005"}};
  std::istringstream lines(list.out);
  int listed = 0;
  for (std::string line; std::getline(lines, line); ++listed) {
    const int message = std::stoi(line);
    const std::string out = (drives.base() / std::to_string(message)).string();
    nlohmann::json verdict = nlohmann::json::object();
    for (const auto& [period, date] : periods) {
      const CliRun made =
          Zav("sample --break " + std::to_string(message) + " --period " + period + " -o " + out);
      if (made.status != 0) continue;
      const CliRun check =
          Zav("check --json --server-date " + date + " " + made.out.substr(0, made.out.find('\n')));
      EXPECT_EQ(check.status, 1) << line << "\n" << check.out;
      if (const auto j = nlohmann::json::parse(check.out, nullptr, false); j.is_object()) {
        verdict = j;
      }
      break;
    }
    EXPECT_EQ(verdict["message"], message) << line << "\n" << verdict.dump();
  }
  EXPECT_GT(listed, 100);
}

// A large file shows how far the walk got, on a terminal only: under `script` standard
// error is a terminal, here a pipe; --json never shows it.
TEST_F(Cli, ProgressLineOnlyOnATerminal) {
  const std::string file = Write(SamplePaymentPlan(15000, 3));  // 4.5 MB
  ASSERT_GE(fs::file_size(file), 4u << 20);
  const std::string check = "check " + file + " --server-date 10/05/2004";
  const auto on_terminal = [](const std::string& args) {
    return testing::Shell("script -qec '" + std::string(ZAV_BINARY) + " " + args + "' /dev/null")
        .out;
  };
  const std::vector<std::pair<std::string, bool>> shown = {
      {on_terminal(check), true},
      {on_terminal(check + " --json"), false},
      {Zav(check).out, false},
  };
  for (const auto& [out, expected] : shown) {
    EXPECT_EQ(out.find(" records (") != std::string::npos, expected) << out;
  }
}

}  // namespace
}  // namespace zav
