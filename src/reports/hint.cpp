#include "reports/hint.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "platform/drives.hpp"
#include "platform/record_file.hpp"

namespace zav {

namespace {

constexpr std::int64_t kRecord = RecordFile::kRecordLength;
// Enough of the file to recognise what it is; the rest is never read.
constexpr std::int32_t kRecordsRead = 4096;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Extension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? "" : std::string(name.substr(dot + 1));
}

std::string Stem(std::string_view name) { return std::string(name.substr(0, name.rfind('.'))); }

// Whether the control takes `name`'s extension: ZAV, or ZA and a digit.
bool TakenExtension(std::string_view name) {
  const std::string e = Extension(name);
  return e.size() >= 3 && Upper(e[0]) == 'Z' && Upper(e[1]) == 'A' &&
         (Upper(e[2]) == 'V' || IsDigit(e[2]));
}

bool IsPartName(std::string_view name) {
  const std::string e = Extension(name);
  return e.size() == 3 && Upper(e[0]) == 'Z' && Upper(e[1]) == 'A' && IsDigit(e[2]);
}

std::string Number(std::int64_t n) { return std::to_string(n); }

// The first bytes of the file (up to kRecordsRead records) and its length.
struct Head {
  std::string bytes;
  std::int64_t length = 0;
};

std::optional<Head> ReadHead(const std::filesystem::path& file) {
  try {
    RecordFile in = RecordFile::OpenNative(file, RecordFile::Mode::kRead);
    Head head;
    head.length = in.Length();
    const std::int64_t wanted = std::min<std::int64_t>(head.length, kRecordsRead * kRecord);
    head.bytes.resize(static_cast<std::size_t>((wanted + kRecord - 1) / kRecord * kRecord));
    for (std::int64_t k = 0; k * kRecord < wanted; ++k) {
      in.Read(static_cast<std::int32_t>(k + 1), head.bytes.data() + k * kRecord);
    }
    head.bytes.resize(static_cast<std::size_t>(wanted));
    return head;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The line end written after every record ("\r\n" or "\n"), or nothing.
std::optional<std::string_view> LineEnd(const Head& head) {
  for (const std::string_view end : {std::string_view("\r\n"), std::string_view("\n")}) {
    const std::int64_t stride = kRecord + static_cast<std::int64_t>(end.size());
    const std::int64_t rest = head.length % stride;
    if (head.length < stride || (rest != 0 && rest != kRecord)) continue;
    const std::string_view bytes = head.bytes;
    bool every = true;
    for (std::int64_t at = 0; every && at + stride <= static_cast<std::int64_t>(bytes.size());
         at += stride) {
      every = bytes.substr(static_cast<std::size_t>(at + kRecord), end.size()) == end;
    }
    if (every) return end;
  }
  return std::nullopt;
}

// The first character written as a UTF-8 sequence of two bytes that stands for a
// Windows-1252 letter (Ñ as "Ã‘"), when the bytes read are UTF-8 throughout.
std::optional<std::array<unsigned char, 2>> Utf8Letter(std::string_view bytes) {
  std::optional<std::array<unsigned char, 2>> first;
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    const auto c = static_cast<unsigned char>(bytes[k]);
    if (c < 0x80) continue;
    const std::size_t length = c >= 0xF0 && c <= 0xF4   ? 4
                               : c >= 0xE0 && c <= 0xEF ? 3
                               : c >= 0xC2 && c <= 0xDF ? 2
                                                        : 0;
    if (length == 0 || k + length > bytes.size()) return std::nullopt;
    for (std::size_t j = 1; j < length; ++j) {
      if ((static_cast<unsigned char>(bytes[k + j]) & 0xC0) != 0x80) return std::nullopt;
    }
    if (!first && length == 2 && c >= 0xC2 && c <= 0xC3) {
      first = std::array<unsigned char, 2>{c, static_cast<unsigned char>(bytes[k + 1])};
    }
    k += length - 1;
  }
  return first;
}

Hint Make(HintKind kind, std::string text) { return Hint{kind, std::move(text), {}}; }

}  // namespace

Hint HintFor(const HintFacts& facts) {
  if (facts.message == 0 && facts.failure == 0) return {};
  const std::optional<Head> head = ReadHead(facts.file);
  if (!head) return {};
  if (head->length == 0) return Make(HintKind::kEmpty, "el archivo est\341 vac\355o (0 bytes)");

  if ((facts.message == 406 || facts.failure != 0) && !TakenExtension(facts.source_name)) {
    return Make(HintKind::kExtension,
                "el nombre " + facts.source_name +
                    " no termina en .ZAV (ni en .ZA0 a .ZA9, las partes de un archivo en "
                    "varios discos), la extensi\363n que el ZAV da a sus archivos");
  }
  if (facts.message == 234 && IsPartName(facts.source_name) &&
      Stem(facts.source_name).size() != 8) {
    return Make(HintKind::kPartName,
                "las partes de un archivo en varios discos se llaman con 8 caracteres, un "
                "punto y ZA0, ZA1...; " +
                    facts.source_name + " no");
  }

  const std::string_view bytes = head->bytes;
  const std::string_view type = bytes.substr(0, 2);
  if (type != "02") {
    if (type.size() == 2 && type[0] == '0' && type[1] >= '3' && type[1] <= '6') {
      return Make(HintKind::kLaterPart,
                  "el archivo empieza con un registro de tipo " + std::string(type) +
                      ", no con el encabezado patronal (02): es una parte posterior de un "
                      "archivo en varios discos; valide el juego desde su primera parte, " +
                      Stem(facts.source_name) + ".ZA0");
    }
    return Make(HintKind::kNotPayment,
                "no es un archivo de pagos del ZAV: su primer registro no es un encabezado "
                "patronal (tipo 02)");
  }

  if (facts.message == 234 && bytes.size() >= 32) {
    // A letter, the period's year and month (characters 29 to 32 of the header), and
    // characters 3, 7 and 9 of the registration number (characters 5, 9 and 11).
    const char letter = !facts.work_name.empty() && Upper(facts.work_name[0]) >= 'A' &&
                                Upper(facts.work_name[0]) <= 'Z'
                            ? facts.work_name[0]
                            : 'P';
    const std::string extension = Extension(facts.work_name);
    const std::string expected = std::string(1, letter) + std::string(bytes.substr(28, 4)) +
                                 bytes[4] + bytes[8] + bytes[10] + "." +
                                 (extension.size() == 3 ? extension : "ZAV");
    Hint hint = Make(HintKind::kWorkName,
                     "el encabezado pide el nombre " + expected +
                         " (una letra, el a\361o y el mes del periodo y los caracteres 3, 7 y 9 "
                         "del registro patronal), no " +
                         facts.work_name);
    hint.expected_name = expected;
    return hint;
  }

  if (const auto end = LineEnd(*head)) {
    return Make(HintKind::kLineEnds,
                std::string("cada registro de 295 bytes va seguido de un fin de l\355nea (") +
                    (end->size() == 2 ? "CR LF" : "LF") +
                    "): el archivo fue abierto y guardado con un editor; use el archivo tal "
                    "como lo gener\363 el ZAV");
  }
  if (const auto letter = Utf8Letter(bytes)) {
    const auto [lead, trail] = *letter;
    const char stands_for = static_cast<char>(((lead & 0x1F) << 6) | (trail & 0x3F));
    return Make(HintKind::kUtf8,
                std::string("el archivo tiene caracteres en UTF-8, dos bytes donde va uno (") +
                    static_cast<char>(lead) + static_cast<char>(trail) + " por " + stands_for +
                    "): un editor lo convirti\363; use el archivo tal como lo gener\363 el ZAV");
  }
  if (const std::int64_t extra = head->length % kRecord; extra != 0) {
    return Make(HintKind::kSize, "el archivo mide " + Number(head->length) +
                                     " bytes, que no es m\372ltiplo de 295 (el tama\361o de un "
                                     "registro): sobran " +
                                     Number(extra) + " bytes, o faltan " + Number(kRecord - extra) +
                                     " para completar el \372ltimo registro");
  }
  return {};
}

Hint HintForLastRun(const ZAV& z) {
  HintFacts facts;
  try {
    facts.file = ResolvePath(z.DestinoArchi + z.FinalArchi);
  } catch (const std::exception&) {
    return {};
  }
  facts.source_name = z.OrigenNombre;
  facts.work_name = z.FinalArchi;
  facts.message = z.working().last_message;
  facts.failure = z.working().last_failure_number;
  return HintFor(facts);
}

}  // namespace zav
