// zav diff: records paired by type and key, every differing field named by the layout.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "apps/zav_command.hpp"
#include "platform/temp_drives.hpp"
#include "writing/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::Zav;

constexpr std::size_t kRecord = 295;

std::string Record(const std::string& bytes, std::size_t number) {
  return bytes.substr((number - 1) * kRecord, kRecord);
}

// `bytes` with the field at 1-based `start` of record `number` overwritten by `text`.
std::string Put(std::string bytes, std::size_t number, std::size_t start, const std::string& text) {
  bytes.replace((number - 1) * kRecord + start - 1, text.size(), text);
  return bytes;
}

std::string Without(std::string bytes, std::size_t number) {
  return bytes.erase((number - 1) * kRecord, kRecord);
}

class CliDiff : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};
  std::string a_bytes;
  fs::path a = drives.base() / "a.ZAV";
  fs::path b = drives.base() / "b.ZAV";

  void SetUp() override {
    std::ostringstream bytes;
    WritePaymentFile(SamplePaymentPlan(5, 2), bytes);  // header, 5 workers, ..., 06
    a_bytes = bytes.str();
    std::ofstream(a, std::ios::binary) << a_bytes;
  }

  nlohmann::json Diff(const std::string& b_bytes, int status, const std::string& flags = "") {
    std::ofstream(b, std::ios::binary | std::ios::trunc) << b_bytes;
    const CliRun run = Zav("diff --json " + flags + " " + a.string() + " " + b.string());
    EXPECT_EQ(run.status, status) << run.out;
    return nlohmann::json::parse(run.out)["differences"];
  }
};

TEST_F(CliDiff, NamesEachDifferenceByTheLayout) {
  const std::string nss3 = Record(a_bytes, 3).substr(32, 11);
  std::string inserted = Put(Record(a_bytes, 2), 1, 33, "99999999999");
  struct Case {
    const char* what;
    std::string b;
    std::vector<std::string> changes;  // "change record_a record_b field", in order
  } cases[] = {
      {"the same", a_bytes, {}},
      {"a name", Put(a_bytes, 3, 95, "OTRO NOMBRE"), {"changed 3 3 nombre del trabajador"}},
      {"a worker removed", Without(a_bytes, 3), {"removed 3 - "}},
      {"a worker added", std::string(a_bytes).insert(2 * kRecord, inserted), {"added - 3 "}},
      {"removed, then a total changed",
       Put(Without(a_bytes, 3), 4, 202, "1234567"),
       {"removed 3 - ", "changed 5 4 guarder"}},
      {"a movement's days",
       Put(a_bytes, 7, 14 + 29, "07"),
       {"changed 7 7 movimiento 1: d\xC3\xAD"
        "as de incidencia"}},
      {"bytes after the last record", a_bytes + "xyz", {"added - 10 "}},
  };
  for (const Case& c : cases) {
    const nlohmann::json d = Diff(c.b, c.changes.empty() ? 0 : 1);
    ASSERT_EQ(d.size(), c.changes.size()) << c.what << ": " << d.dump(1);
    for (std::size_t k = 0; k < d.size(); ++k) {
      const auto number = [](const nlohmann::json& n) {
        return n.is_number() ? std::to_string(n.get<int>()) : std::string("-");
      };
      const std::string got = d[k]["change"].get<std::string>() + " " +
                              number(d[k].value("record_a", nlohmann::json())) + " " +
                              number(d[k].value("record_b", nlohmann::json())) + " " +
                              d[k].value("field", "");
      EXPECT_EQ(got.substr(0, c.changes[k].size()), c.changes[k]) << c.what << ": " << d.dump(1);
    }
  }
  const nlohmann::json removed = Diff(Without(a_bytes, 3), 1);
  EXPECT_EQ(removed[0]["key"], nss3);
  const nlohmann::json name = Diff(Put(a_bytes, 3, 95, "OTRO NOMBRE"), 1)[0];
  EXPECT_EQ(name["start"], 95);
  EXPECT_EQ(name["length"], 50);
  EXPECT_EQ(name["b"].get<std::string>().substr(0, 11), "OTRO NOMBRE");
}

TEST_F(CliDiff, MaskHidesPersonalValuesButNotThatTheyDiffer) {
  const nlohmann::json d = Diff(Without(Put(a_bytes, 2, 95, "OTRO NOMBRE"), 3), 1, "--mask");
  ASSERT_EQ(d.size(), 2u) << d.dump(1);
  EXPECT_EQ(d[0]["field"], "nombre del trabajador");
  EXPECT_EQ(d[0]["b"].get<std::string>().find_first_not_of('*'), std::string::npos);
  EXPECT_EQ(d[1]["key"].get<std::string>().substr(0, 8), "********");
  const CliRun text = Zav("diff --mask " + a.string() + " " + b.string());
  EXPECT_EQ(text.out.find("OTRO"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("removed: A record 3"), std::string::npos) << text.out;
}

}  // namespace
}  // namespace zav
