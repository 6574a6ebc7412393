// What the fuzzing entries share (support.hpp): the private drives, reading the input,
// and the promises of a validation run.
#include "support.hpp"

#include <stdlib.h>
#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/drives.hpp"

namespace zav::fuzz {

namespace fs = std::filesystem;

[[noreturn]] void Broken(const std::string& why) {
  std::fprintf(stderr, "zav fuzz: %s\n", why.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, std::string_view bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Broken("cannot write " + p.string());
}

std::string_view Take(std::string_view& in, std::size_t size) {
  const std::string_view head = in.substr(0, size);
  in.remove_prefix(head.size());
  return head;
}

std::uint32_t TakeNumber(std::string_view& in, int bytes) {
  std::uint32_t v = 0;
  const std::string_view b = Take(in, static_cast<std::size_t>(bytes));
  for (std::size_t k = b.size(); k-- > 0;) v = (v << 8) | static_cast<unsigned char>(b[k]);
  return v;
}

std::string SampleFile(const PaymentPlan& plan) {
  std::ostringstream out;
  WritePaymentFile(plan, out);
  return out.str();
}

Sandbox& Sandbox::Get() {
  static Sandbox sandbox;
  return sandbox;
}

Sandbox::Sandbox() {
  const char* tmp = std::getenv("ZAV_TEST_TMP");
  const fs::path parent = tmp != nullptr && *tmp != '\0' ? tmp : fs::temp_directory_path();
  fs::create_directories(parent);
  std::string pattern = (parent / "zav-fuzz-XXXXXX").native();
  if (::mkdtemp(pattern.data()) == nullptr) Broken("mkdtemp failed");
  base_ = pattern;
  samples_ = base_ / "samples";
  fs::create_directories(samples_);
  const PaymentPlan plan = SamplePaymentPlan(5, 1);
  WritePaymentFile(plan, samples_ / "P0404268.ZAV");
  WriteDiskettes(plan, samples_, "P0404268", 3);
}

Sandbox::~Sandbox() {
  std::error_code ec;
  fs::remove_all(base_, ec);
}

Scope::Scope() : box_(Sandbox::Get()) {
  if (const char* old = std::getenv("ZAV_DRIVES")) drives_ = old;
  std::error_code ec;
  cwd_ = fs::current_path(ec);
  for (const fs::path& p : {box_.a(), box_.c(), box_.cwd()}) {
    fs::remove_all(p, ec);
    fs::create_directories(p);
  }
  ::setenv("ZAV_DRIVES", box_.drives().c_str(), 1);
  fs::current_path(box_.cwd());
}

Scope::~Scope() {
  if (drives_) {
    ::setenv("ZAV_DRIVES", drives_->c_str(), 1);
  } else {
    ::unsetenv("ZAV_DRIVES");
  }
  std::error_code ec;
  if (!cwd_.empty()) fs::current_path(cwd_, ec);
}

std::optional<std::vector<std::pair<std::string, std::string>>> ZipEntries(const fs::path& p) {
  int error = 0;
  zip_t* archive = zip_open(p.c_str(), ZIP_RDONLY, &error);
  if (archive == nullptr) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> entries;
  const zip_int64_t n = zip_get_num_entries(archive, 0);
  for (zip_int64_t k = 0; k < n; ++k) {
    zip_stat_t st;
    zip_file_t* f = zip_stat_index(archive, static_cast<zip_uint64_t>(k), 0, &st) == 0
                        ? zip_fopen_index(archive, static_cast<zip_uint64_t>(k), 0)
                        : nullptr;
    if (f == nullptr) {
      zip_discard(archive);
      return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(st.size), '\0');
    const zip_int64_t got = zip_fread(f, bytes.data(), bytes.size());
    zip_fclose(f);
    if (got != static_cast<zip_int64_t>(bytes.size())) {
      zip_discard(archive);
      return std::nullopt;
    }
    entries.emplace_back(st.name, std::move(bytes));
  }
  zip_discard(archive);
  return entries;
}

void CheckRunOutcome(ZAV& z, const std::string& result, std::string_view bytes) {
  const fs::path work = ResolvePath(z.DestinoArchi + z.FinalArchi);
  if (result == "0") {
    if (fs::exists(work)) Broken("an accepted work file is still under its work name");
    const auto entries = ZipEntries(ResolvePath(z.DestinoArchi + z.sArchZAVZip()));
    if (!entries || entries->size() != 1) Broken("an accepted file has no archive of one entry");
    if (entries->front().second != bytes) Broken("the archive does not hold the file's bytes");
    return;
  }
  if (fs::exists(work)) {
    if (ReadAll(work) != bytes) Broken("a rejected work file was changed");
    return;
  }
  const std::string archive = z.sArchZAVZip();
  const fs::path packed =
      ResolvePath(z.DestinoArchi + archive.substr(0, archive.size() - 3) + "zav");
  if (!fs::exists(packed) || ReadAll(packed) != bytes) Broken("a rejected work file was lost");
}

}  // namespace zav::fuzz
