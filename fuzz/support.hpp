// What the fuzzing entries share: reading the input, the private drives every entry runs on
// (A removable, C fixed, and the current folder, emptied for each input), and the promises
// of a validation run. A broken promise prints "zav fuzz: ..." and aborts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "control/zav.hpp"
#include "writing/payment_writer.hpp"

namespace zav::fuzz {

// Prints "zav fuzz: WHY" and aborts, so that the fuzzer keeps the input.
[[noreturn]] void Broken(const std::string& why);

std::string ReadAll(const std::filesystem::path& p);

// Writes `bytes` as the whole of `p`; Broken when it cannot.
void WriteAll(const std::filesystem::path& p, std::string_view bytes);

// Reads `size` bytes off the front of `in` (fewer at its end).
std::string_view Take(std::string_view& in, std::size_t size);

// A little-endian number of `bytes` bytes off the front of `in`, 0 past its end.
std::uint32_t TakeNumber(std::string_view& in, int bytes);

// The file of the sample plan with `workers` workers (period April 2004, due 17 May 2004).
std::string SampleFile(const PaymentPlan& plan);

// The private drives: created once per process, removed at exit.
class Sandbox {
 public:
  static Sandbox& Get();
  std::filesystem::path a() const { return base_ / "a"; }
  std::filesystem::path c() const { return base_ / "c"; }
  std::filesystem::path cwd() const { return base_ / "cwd"; }
  const std::filesystem::path& samples() const { return samples_; }
  std::string drives() const { return "A=removable:" + a().native() + ";C=fixed:" + c().native(); }

 private:
  Sandbox();
  ~Sandbox();
  std::filesystem::path base_;
  std::filesystem::path samples_;
};

// One input's drives: emptied, with ZAV_DRIVES and the current folder pointing at them
// until the end of the input.
class Scope {
 public:
  Scope();
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

  const Sandbox& box() const { return box_; }

 private:
  const Sandbox& box_;
  std::optional<std::string> drives_;
  std::filesystem::path cwd_;
};

// Every entry of a zip archive, by name, or nothing when it cannot be read.
std::optional<std::vector<std::pair<std::string, std::string>>> ZipEntries(
    const std::filesystem::path& p);

// What a validation run must leave: an accepted file packed whole under its archive name
// and gone from the work name; a rejected one still under the work name with its bytes (or
// under its packing name, when only the packing failed).
void CheckRunOutcome(ZAV& z, const std::string& result, std::string_view bytes);

}  // namespace zav::fuzz
