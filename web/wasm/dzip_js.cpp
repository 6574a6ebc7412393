// The zip library's packing entry, `dzipVB`, in the browser build: the page's zip writer
// stands in for the native library (platform/dzip.cpp is not part of this build). The
// control's two command records go to the page's function `Module.dzipVB` exactly as the
// control built them: the 188-byte numeric record and the 13141-byte text record, as
// byte arrays (copies). The page answers {result, status}; result 0 means the archive at
// the path of text field 1 holds the file of text field 2, complete. Whatever the page
// wrote into its copy of the text record comes back into the control's record, as the
// native library's fields do.
//
// A page that provides no `Module.dzipVB`, or whose function throws, answers "the
// archive could not be written" (3) with the status holding 5.
#include <emscripten/emscripten.h>

#include "platform/dzip.hpp"

namespace {

// clang-format off
EM_JS(int, zav_call_page_dzip, (unsigned char* numeric, char* text, int* status,
                                int numeric_size, int text_size, int no_writer), {
  var answer;
  try {
    if (typeof Module["dzipVB"] !== "function") throw new Error("no zip writer");
    var numericRecord = HEAPU8.slice(numeric, numeric + numeric_size);
    var textRecord = HEAPU8.slice(text, text + text_size);
    answer = Module["dzipVB"](numericRecord, textRecord);
    if (textRecord.length === text_size) HEAPU8.set(textRecord, text);
  } catch (e) {
    console.error("dzipVB:", e);
    HEAP32[status >> 2] = 5;
    return no_writer;
  }
  if (typeof answer === "number") answer = {result: answer, status: 0};
  HEAP32[status >> 2] = (answer && answer.status) | 0;
  return (answer && answer.result) | 0;
});
// clang-format on

}  // namespace

namespace zav {

std::int32_t dzipVB(unsigned char* numeric_record, char* text_record, std::int32_t* status) {
  std::int32_t ignored = 0;
  std::int32_t& outcome = status != nullptr ? *status : ignored;
  outcome = 0;
  if (numeric_record == nullptr || text_record == nullptr) return dzip::kBadCommand;
  return zav_call_page_dzip(numeric_record, text_record, &outcome,
                            static_cast<int>(kZipNumericRecordSize),
                            static_cast<int>(kZipTextRecordSize), dzip::kCannotWrite);
}

}  // namespace zav
