// The fuzzing entry points (see entries.hpp for each input's layout).
#include "entries.hpp"

#include <stdlib.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "api/upload.hpp"
#include "api/validate_file.hpp"
#include "basic/conversions.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "host/json_host.hpp"
#include "platform/deflate_join.hpp"
#include "platform/drives.hpp"
#include "platform/file_system.hpp"
#include "platform/profile.hpp"
#include "platform/record_file.hpp"
#include "platform/zip_library.hpp"
#include "records/record_06.hpp"
#include "validation/file_checks.hpp"
#include "writing/payment_writer.hpp"

namespace zav::fuzz {

namespace fs = std::filesystem;

namespace {

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

// Reads `size` bytes off the front of `in` (fewer at its end).
std::string_view Take(std::string_view& in, std::size_t size) {
  const std::string_view head = in.substr(0, size);
  in.remove_prefix(head.size());
  return head;
}

// A little-endian number of `bytes` bytes off the front of `in`, 0 past its end.
std::uint32_t TakeNumber(std::string_view& in, int bytes) {
  std::uint32_t v = 0;
  const std::string_view b = Take(in, static_cast<std::size_t>(bytes));
  for (std::size_t k = b.size(); k-- > 0;) v = (v << 8) | static_cast<unsigned char>(b[k]);
  return v;
}

// The file of the sample plan with `workers` workers (period April 2004, due 17 May 2004).
std::string SampleFile(const PaymentPlan& plan) {
  std::ostringstream out;
  WritePaymentFile(plan, out);
  return out.str();
}

// The private drives: created once per process, removed at exit.
class Sandbox {
 public:
  static Sandbox& Get() {
    static Sandbox sandbox;
    return sandbox;
  }
  fs::path a() const { return base_ / "a"; }
  fs::path c() const { return base_ / "c"; }
  fs::path cwd() const { return base_ / "cwd"; }
  const fs::path& samples() const { return samples_; }
  std::string drives() const { return "A=removable:" + a().native() + ";C=fixed:" + c().native(); }

 private:
  Sandbox() {
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
  ~Sandbox() {
    std::error_code ec;
    fs::remove_all(base_, ec);
  }
  fs::path base_;
  fs::path samples_;
};

// One input's drives: emptied, with ZAV_DRIVES and the current folder pointing at them
// until the end of the input.
class Scope {
 public:
  Scope() : box_(Sandbox::Get()) {
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
  ~Scope() {
    if (drives_) {
      ::setenv("ZAV_DRIVES", drives_->c_str(), 1);
    } else {
      ::unsetenv("ZAV_DRIVES");
    }
    std::error_code ec;
    if (!cwd_.empty()) fs::current_path(cwd_, ec);
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

  const Sandbox& box() const { return box_; }

 private:
  const Sandbox& box_;
  std::optional<std::string> drives_;
  fs::path cwd_;
};

// Every entry of a zip archive, by name, or nothing when it cannot be read.
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

// What a validation run must leave: an accepted file packed whole under its archive name
// and gone from the work name; a rejected one still under the work name with its bytes (or
// under its packing name, when only the packing failed).
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

// The work name the header asks for (a letter, period year and month, three characters of
// the registration number), when it makes a plain file name; else a fixed one.
std::string WorkNameOf(std::string_view file) {
  std::string name = "P0404268.ZAV";
  if (file.size() >= 32) {
    name = "P" + std::string(file.substr(28, 4)) + file[4] + file[8] + file[10] + ".ZAV";
  }
  for (const char c : name) {
    if (c <= ' ' || c > '~' || std::string_view("/\\*?:\"<>|").find(c) != std::string_view::npos) {
      return "P0404268.ZAV";
    }
  }
  return name;
}

// A part of a split file as the work file receives it: whole records, the record count
// rounded as the record files round it, the last record padded with NULs.
std::string AsRecords(std::string_view part) {
  const std::size_t size =
      static_cast<std::size_t>(RecordCountOf(static_cast<std::int64_t>(part.size()))) *
      RecordFile::kRecordLength;
  std::string out(part.substr(0, size));
  out.resize(size, '\0');
  return out;
}

bool HasSlash(const nlohmann::json& j) {
  if (j.is_string()) return j.get_ref<const std::string&>().find('/') != std::string::npos;
  if (j.is_structured()) {
    for (auto it = j.begin(); it != j.end(); ++it) {
      if (j.is_object() && it.key().find('/') != std::string::npos) return true;
      if (HasSlash(*it)) return true;
    }
  }
  return false;
}

// A zip archive holding `bytes` as its one entry `name`, deflated or stored.
std::string ZipOf(const fs::path& scratch, const std::string& name, std::string_view bytes,
                  bool stored) {
  const fs::path archive = scratch / "packed.zip";
  int error = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (za == nullptr) Broken("cannot write a zip archive");
  zip_source_t* source = zip_source_buffer(za, bytes.data(), bytes.size(), 0);
  const zip_int64_t index =
      source != nullptr ? zip_file_add(za, name.c_str(), source, ZIP_FL_ENC_GUESS) : -1;
  if (index < 0 ||
      zip_set_file_compression(za, static_cast<zip_uint64_t>(index),
                               stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 1) != 0 ||
      zip_close(za) != 0) {
    if (source != nullptr && index < 0) zip_source_free(source);
    zip_discard(za);
    return {};  // a name the zip library will not take: an upload of nothing
  }
  const std::string packed = ReadAll(archive);
  fs::remove(archive);
  return packed;
}

// The diskettes the last record of `file` declares, read as the upload check reads them (1
// when they cannot be): the control is asked to expect that many.
int DeclaredDiskettes(std::string_view file) {
  const double records =
      RoundHalfEven(static_cast<double>(file.size()) / RecordFile::kRecordLength);
  if (records < 1) return 1;
  const std::size_t at = static_cast<std::size_t>(records - 1) * RecordFile::kRecordLength +
                         record06::kDiscos.start - 1;
  if (at + record06::kDiscos.length > file.size()) return 1;
  const double value = LeadingValue(file.substr(at, record06::kDiscos.length));
  if (value < 0 || value > 32767 || value != std::floor(value)) return 1;
  return static_cast<int>(value);
}

// zlib's inflate of the raw deflate stream `in`: whether it ended well, and what it gave
// (up to 64 MiB).
std::pair<bool, std::string> Inflate(std::string_view in) {
  z_stream s{};
  if (inflateInit2(&s, -MAX_WBITS) != Z_OK) Broken("zlib's inflate would not start");
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  s.avail_in = static_cast<uInt>(in.size());
  std::string out;
  int ret = Z_OK;
  char buffer[1 << 15];
  while (ret == Z_OK && out.size() < (std::size_t{64} << 20)) {
    s.next_out = reinterpret_cast<Bytef*>(buffer);
    s.avail_out = sizeof buffer;
    ret = inflate(&s, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - s.avail_out);
    if (ret == Z_BUF_ERROR && s.avail_out != 0) break;  // the stream was cut short
    if (ret == Z_BUF_ERROR) ret = Z_OK;
  }
  inflateEnd(&s);
  return {ret == Z_STREAM_END, out};
}

}  // namespace

void ValidaRegInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.size() < 11) return;
  const std::string date(Take(in, 10));
  const auto options = static_cast<std::uint8_t>(Take(in, 1)[0]);
  const std::string_view bytes = in;
  Scope scope;

  ZAV z;
  z.inicio();
  z.bgGerencia = (options & 1) != 0;
  z.igToler = static_cast<std::uint8_t>((options >> 1) & 3);
  const std::string name = WorkNameOf(bytes);
  z.FinalArchi = name;
  const fs::path source = scope.box().a() / name;
  if ((options & 0x20) != 0) {
    WriteAll(source, bytes);
    z.OrigenArchi = "A:\\";
    z.copiaArch(name);
  } else {
    WriteAll(scope.box().c() / "ZAV" / "temp" / name, bytes);
    z.OrigenNombre = name;
  }
  z.NumDiscos = static_cast<std::int16_t>(((options >> 3) & 3) + 1);

  const std::string result = z.ValidaReg(date);
  if ((options & 0x20) != 0 && ReadAll(source) != bytes) Broken("the source file was changed");
  CheckRunOutcome(z, result, bytes);
}

void ChecaRegistroInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::string> headers = [] {
    std::vector<std::string> out;
    for (const int month : {4, 5, 13, 14}) {
      PaymentPlan plan = SamplePaymentPlan(2, 1);
      plan.month = month;
      out.push_back(SampleFile(plan).substr(0, RecordFile::kRecordLength));
    }
    return out;
  }();
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.empty()) return;
  const auto options = static_cast<std::uint8_t>(Take(in, 1)[0]);

  ZAV z;
  std::string header = headers[(options >> 2) & 3];
  ResetTotals(z);
  CopyHeader(z, header);
  DerivePeriod(z);
  z.bgGerencia = (options & 1) != 0;
  z.working().lgDiasAtraso = (options & 2) != 0 ? 3 : 0;
  z.NumDiscos = 1;
  try {
    z.ChecaRegistro(2, 1, header);
  } catch (const RuntimeFailure&) {
    // A failed call reaches the host as such; the next call goes on.
  }
  for (int calls = 0; calls < 64 && !in.empty(); ++calls) {
    const auto type = static_cast<std::uint8_t>(TakeNumber(in, 1));
    const auto record = static_cast<std::int32_t>(TakeNumber(in, 4));
    std::string text(Take(in, TakeNumber(in, 2)));
    try {
      z.ChecaRegistro(type, record, text);
    } catch (const RuntimeFailure&) {
    }
  }
}

void ProfileInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.size() < 2) return;
  const auto buffer = static_cast<std::size_t>(TakeNumber(in, 1));
  const auto month = static_cast<int>(TakeNumber(in, 1) % 16);
  std::string section = "Inhabiles", key = std::to_string(month);
  const std::size_t first = in.substr(0, 64).find('\0');
  const std::size_t second = first == std::string_view::npos
                                 ? std::string_view::npos
                                 : in.substr(0, 64).find('\0', first + 1);
  if (second != std::string_view::npos) {
    section = in.substr(0, first);
    key = in.substr(first + 1, second - first - 1);
    in.remove_prefix(second + 1);
  }
  Scope scope;
  const fs::path file = scope.box().c() / "windows" / "kiv.ini";
  fs::create_directories(file.parent_path());
  WriteAll(file, in);

  const std::string value = ReadProfileString(file, section, key, " dflt ", buffer);
  if (value.size() + 1 > std::max<std::size_t>(buffer, 1)) Broken("a value longer than its buffer");
  if (value.find_first_of("\r\n") != std::string::npos) Broken("a value holding a line end");

  ZAV z;
  try {
    const std::int16_t count = z.CargaDiasInhabiles("2004", std::to_string(month));
    if (count < 0 || count > static_cast<int>(z.working().holidays.size())) {
      Broken("a holiday count outside the table");
    }
  } catch (const RuntimeFailure&) {
  }
  try {
    std::string year = "2004", m = std::to_string(month), day = "17";
    z.CalculaDiaHabil(year, m, day);
  } catch (const RuntimeFailure&) {
  }
}

void JsonHostInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  Scope scope;
  for (const auto& entry : fs::directory_iterator(scope.box().samples())) {
    fs::copy_file(entry.path(), scope.box().a() / entry.path().filename());
  }
  JsonHost host;
  for (int lines = 0; lines < 64 && !in.empty(); ++lines) {
    const std::size_t eol = in.find('\n');
    std::string_view line = Take(in, eol == std::string_view::npos ? in.size() : eol);
    Take(in, 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('/') != std::string_view::npos) continue;
    const nlohmann::json request = nlohmann::json::parse(line, nullptr, false);
    if (!request.is_discarded() && HasSlash(request)) continue;
    const std::string answer = host.Handle(line);
    const nlohmann::json parsed = nlohmann::json::parse(answer, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("ok")) {
      Broken("an answer that is not a JSON object: " + answer);
    }
  }
}

void DiskettesInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.empty()) return;
  const auto options = static_cast<std::uint8_t>(Take(in, 1)[0]);
  std::vector<std::string> parts;
  while (!in.empty() && parts.size() < 6) parts.emplace_back(Take(in, TakeNumber(in, 2)));

  Scope scope;
  const int naming = options & 3;
  const bool vanish = (options & 4) != 0;
  // The name the host passes for part k, and the file that lies on the diskette.
  const auto asked = [naming](int k) -> std::string {
    switch (naming) {
      case 1:
        return "P0404268.ZAV";
      case 2:
        return "p0404268.za" + std::to_string(k);
      case 3:
        return "P0404268.ZB" + std::to_string(k);
      default:
        return "P0404268.ZA" + std::to_string(k);
    }
  };
  std::vector<std::pair<fs::path, std::string>> on_disk;  // what the diskette must keep
  for (std::size_t k = 0; k < parts.size() && (naming != 1 || k == 0); ++k) {
    const std::string name = naming == 1 ? "P0404268.ZAV" : "P0404268.ZA" + std::to_string(k);
    on_disk.emplace_back(scope.box().a() / name, parts[k]);
    WriteAll(on_disk.back().first, parts[k]);
  }

  ZAV z;
  z.inicio();
  z.OrigenArchi = "A:\\";
  z.FinalArchi = "P0404268.ZAV";
  z.OrigenNombre = asked(0);
  const fs::path work = ResolvePath(z.DestinoArchi + z.FinalArchi);
  std::string expected;
  bool joined = false;
  for (int k = 0; k < 8; ++k) {
    const std::string name = asked(k);
    std::int16_t answer = 0;
    try {
      answer = z.IntegraDisco(name, static_cast<std::uint8_t>(k));
    } catch (const RuntimeFailure&) {
      break;
    }
    if (answer == 5 && fs::exists(work)) Broken("a failed join left a work file");
    if (answer != 0) break;
    const std::size_t index = naming == 1 ? 0 : static_cast<std::size_t>(k);
    if (index < on_disk.size() && fs::exists(on_disk[index].first)) {
      expected += AsRecords(on_disk[index].second);
    }
    if (ReadAll(work) != expected) Broken("the work file is not the parts joined so far");
    if (vanish && index < on_disk.size()) {
      fs::remove(on_disk[index].first);
      on_disk[index].second.clear();
    }
    const std::uint8_t last = z.ChecaUltimoDisco(name);
    if (last == 255) break;
    if (last != 0) {
      joined = true;
      break;
    }
  }
  std::size_t listed = 0;
  for (const auto& entry : fs::directory_iterator(scope.box().a())) {
    (void)entry;
    ++listed;
  }
  std::size_t kept = 0;
  for (const auto& [path, bytes] : on_disk) {
    if (!fs::exists(path)) continue;
    ++kept;
    if (ReadAll(path) != bytes) Broken("a diskette part was changed");
  }
  if (listed != kept) Broken("a file was created on the diskette");

  if (joined && (options & 8) != 0) {
    const std::string result = z.ValidaReg("17/05/2004");
    CheckRunOutcome(z, result, expected);
  }
}

void UploadInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.size() < 56) return;
  const auto options = static_cast<std::uint8_t>(Take(in, 1)[0]);
  const std::string name(Take(in, 55));
  if (!IsArchiveName(name)) return;  // the server refuses such a name before it looks inside
  Scope scope;
  const fs::path work = scope.box().c() / "work";
  const fs::path scratch = scope.box().c() / "scratch";
  fs::create_directories(work);
  fs::create_directories(scratch);
  const std::string upload =
      (options & 1) != 0 ? std::string(in)
                         : ZipOf(scratch, name.substr(0, 52) + "zav", in, (options & 2) != 0);

  const fs::path file = work / WorkName(name);
  UploadLimits limits;
  limits.max_file_bytes = std::uint64_t{16} << 20;
  if (UnpackUpload(upload, file, limits)) return;
  const std::string received = ReadAll(file);
  const auto checked = ValidateUpload(name, file, "10/05/2004");
  if (std::holds_alternative<UploadAnswer>(checked)) {
    if (fs::exists(work / name)) Broken("a refused upload left an archive");
    return;
  }
  const ValidUpload& valid = std::get<ValidUpload>(checked);
  const auto entries = ZipEntries(valid.archive);
  if (!entries || entries->size() != 1) Broken("a stored upload is not an archive of one file");
  if (entries->front().second != received) Broken("the stored archive is not the received file");
  // A control of its own, on the stored bytes.
  const fs::path stored = scratch / WorkName(name);
  WriteAll(stored, entries->front().second);
  ValidateOptions check;
  check.server_date = "10/05/2004";
  check.work_dir = (scratch / "control").native();
  check.disks = DeclaredDiskettes(entries->front().second);
  check.pack = false;
  if (!ValidateFile(stored.native(), check, false).verdict.accepted) {
    Broken("the check stored a file the control does not accept");
  }
}

void DeflateJoinInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.empty()) return;
  const auto options = static_cast<std::uint8_t>(Take(in, 1)[0]);
  constexpr char kEmptyFinalBlock[] = {0x03, 0x00};
  if ((options & 1) == 0) {
    std::string stream(in);
    stream.resize(in.size() + kGoOnRoom, '\xA5');
    const std::size_t length =
        MakeDeflateGoOn(reinterpret_cast<std::uint8_t*>(stream.data()), in.size());
    if (length == 0) {
      if (std::string_view(stream).substr(0, in.size()) != in) Broken("a refused stream changed");
      return;
    }
    if (length > in.size() + kGoOnRoom) Broken("the stream went on past its room");
    stream.resize(length);
    stream.append(kEmptyFinalBlock, sizeof kEmptyFinalBlock);
    if (Inflate(in) != Inflate(stream)) Broken("the stream inflates otherwise once it goes on");
    return;
  }
  const Libdeflate* libdeflate = LoadLibdeflate();
  if (libdeflate == nullptr) Broken("libdeflate cannot be loaded");
  libdeflate_compressor* compressor =
      libdeflate->libdeflate_alloc_compressor(1 + (options >> 1) % 12);
  if (compressor == nullptr) Broken("libdeflate would not start");
  const std::size_t bound = libdeflate->libdeflate_deflate_compress_bound(compressor, in.size());
  std::string joined(2 * bound + kGoOnRoom, '\0');
  auto* out = reinterpret_cast<std::uint8_t*>(joined.data());
  std::size_t first =
      libdeflate->libdeflate_deflate_compress(compressor, in.data(), in.size(), out, bound);
  first = first != 0 ? MakeDeflateGoOn(out, first) : 0;
  if (first == 0) Broken("a stream of libdeflate was refused");
  const std::size_t second = libdeflate->libdeflate_deflate_compress(
      compressor, in.data(), in.size(), out + first, joined.size() - first);
  libdeflate->libdeflate_free_compressor(compressor);
  if (second == 0) Broken("libdeflate failed");
  joined.resize(first + second);
  const auto [ended, bytes] = Inflate(joined);
  if (!ended || bytes != std::string(in) + std::string(in)) Broken("joined streams lost bytes");
}

Entry EntryNamed(std::string_view target) {
  if (target == "valida_reg") return ValidaRegInput;
  if (target == "checa_registro") return ChecaRegistroInput;
  if (target == "profile") return ProfileInput;
  if (target == "json_host") return JsonHostInput;
  if (target == "diskettes") return DiskettesInput;
  if (target == "upload") return UploadInput;
  if (target == "deflate_join") return DeflateJoinInput;
  return nullptr;
}

}  // namespace zav::fuzz
