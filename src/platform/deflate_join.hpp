// Joining deflate streams made one by one (by libdeflate, which cannot flush) into one: every
// stream but the last is made to go on. The final-block flag of its last block is cleared
// and an empty stored block ends it on a byte boundary; the streams put one after the other
// are then one deflate stream. Native packing (platform/chunked_deflate.hpp) and the page's
// packer (web/wasm/pack.cpp) both join their chunks so.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zav {

// The room past a stream's end that MakeDeflateGoOn may write.
inline constexpr std::size_t kGoOnRoom = 5;

// Where the last block of the whole deflate stream data[0, size) begins and where it ends, in
// bits from the first byte's lowest; false when the bytes are not such a stream (a block
// type or code that does not exist, a stream cut short). Distances are not checked against
// what came before.
bool FindLastDeflateBlock(const std::uint8_t* data, std::size_t size, std::size_t& header,
                          std::size_t& end);

// Makes the whole deflate stream data[0, size) go on, writing at most kGoOnRoom bytes past
// `size` (the buffer must have them): the stream's new length, or 0 when the bytes are not
// a whole deflate stream (they are then left as they were).
std::size_t MakeDeflateGoOn(std::uint8_t* data, std::size_t size);

}  // namespace zav
