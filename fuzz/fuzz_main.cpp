// One libFuzzer target: ZAV_FUZZ_ENTRY names the function of entries.hpp it feeds.
#include <cstddef>
#include <cstdint>

#include "entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zav::fuzz::ZAV_FUZZ_ENTRY(data, size);
  return 0;
}
