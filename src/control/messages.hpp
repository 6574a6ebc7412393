// The message catalogue: every numbered Spanish message of the control, as
// Windows-1252 bytes, pieces joined by CR or LF exactly as the control shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zav {

// The text of a message number; empty for a number outside the catalogue.
std::string_view CatalogText(std::int16_t number);

// How many numbers the catalogue holds.
std::size_t CatalogSize();

// The catalogue's numbers in ascending order.
std::span<const std::int16_t> CatalogNumbers();

}  // namespace zav
