// Splitting a payment file over diskette parts: the parts join back through the diskette
// methods into a file that validates; impossible splits are refused with nothing written.
#include "files/split.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "platform/temp_drives.hpp"
#include "records/checksum.hpp"
#include "records/record_06.hpp"
#include "validation/file_driver.hpp"
#include "writing/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadAll;
using testing::TempDrives;

constexpr std::size_t kLen = kRecordLength;

// The file with the validation record's diskette count and check value taken from `from`.
std::string WithSealOf(std::string bytes, const std::string& from) {
  const std::size_t last = bytes.size() - kLen;
  for (const Field& f : {record06::kDiscos, record06::kCheckSum}) {
    const std::size_t at = last + static_cast<std::size_t>(f.start - 1);
    bytes.replace(at, static_cast<std::size_t>(f.length), from, at,
                  static_cast<std::size_t>(f.length));
  }
  return bytes;
}

TEST(SplitIntoDiskettes, PartsJoinBackIntoAFileThatValidates) {
  const PaymentPlan plan = SamplePaymentPlan(12, 4);  // 12 workers: 14 places to cut
  for (const int parts : {1, 2, 3, 10}) {
    TempDrives drives("C=fixed;A=removable");
    const fs::path input = drives.root('A') / "in" / WorkFileName(plan);
    fs::create_directories(input.parent_path());
    WritePaymentFile(plan, input);
    const std::string original = ReadAll(input);

    const auto written = SplitIntoDiskettes(input, parts, drives.root('A'));
    ASSERT_EQ(written.size(), static_cast<std::size_t>(parts));
    EXPECT_EQ(ReadAll(input), original) << "the input is never changed";

    ZAV z;
    z.inicio();
    z.OrigenArchi = "A:\\";
    z.FinalArchi = WorkFileName(plan);
    z.OrigenNombre = written.front().filename().string();
    std::vector<int> answers, expected(static_cast<std::size_t>(parts), 0);
    expected.back() = parts;
    for (int k = 0; k < parts; ++k) {
      const std::string name = written[static_cast<std::size_t>(k)].filename().string();
      EXPECT_EQ(name, fs::path(WorkFileName(plan)).stem().string() + ".ZA" + std::to_string(k));
      ASSERT_EQ(z.IntegraDisco(name, static_cast<std::uint8_t>(k)), 0);
      answers.push_back(z.ChecaUltimoDisco(name));
    }
    EXPECT_EQ(answers, expected) << parts << " parts";
    const std::string joined = ReadAll(drives.native("C:/ZAV/temp/" + z.FinalArchi));
    EXPECT_EQ(WithSealOf(joined, original), original) << parts << " parts";
    EXPECT_EQ(RunValidation(z, "17/05/2004", RunOptions{false}), "0")
        << parts << " parts: " << z.working().last_message;
  }
}

TEST(SplitIntoDiskettes, RefusesWhatCannotBeSplitAndWritesNothing) {
  struct Case {
    const char* what;
    int parts;
    void (*edit)(std::string& bytes);
    const char* name = "P0404268.ZAV";
    const char* existing = nullptr;  // a file there before, kept as it was
  };
  const Case cases[] = {
      {"no parts", 0, nullptr},
      {"eleven parts", 11, nullptr},
      {"more parts than places to cut (3 workers, 1 movement and 1 summary record)", 7, nullptr},
      {"a base name of 7 characters", 2, nullptr, "P040426.ZAV"},
      {"a partial record", 2, [](std::string& b) { b.pop_back(); }},
      {"a check value that no longer matches", 2, [](std::string& b) { b[kLen + 100] = 'Q'; }},
      {"no validation record last", 2, [](std::string& b) { b.resize(b.size() - kLen); }},
      {"an output that is the input", 2, nullptr, "P0404268.ZA1"},
      {"a part that exists already", 2, nullptr, "P0404268.ZAV", "P0404268.ZA1"},
  };
  const PaymentPlan plan = SamplePaymentPlan(3, 2);
  for (const Case& c : cases) {
    TempDrives drives("");
    const fs::path input = drives.base() / c.name;
    WritePaymentFile(plan, input);
    std::string bytes = ReadAll(input);
    if (c.edit) {
      c.edit(bytes);
      std::ofstream(input, std::ios::binary | std::ios::trunc) << bytes;
    }
    std::vector<std::string> listing{c.name};
    if (c.existing) {
      std::ofstream(drives.base() / c.existing) << "earlier";
      listing.insert(listing.begin(), c.existing);  // in name order
    }
    EXPECT_RUNTIME_FAILURE(err::kInvalidCall, SplitIntoDiskettes(input, c.parts, drives.base()));
    EXPECT_EQ(Listing(drives.base()), listing) << c.what;
    if (c.existing) {
      EXPECT_EQ(ReadAll(drives.base() / c.existing), "earlier") << c.what;
    }
    EXPECT_EQ(ReadAll(input), bytes) << c.what;
  }
}

}  // namespace
}  // namespace zav
