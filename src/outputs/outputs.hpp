// What the page reads after a successful run: the capture line, the parameter string
// and the archive's name. All are computed anew on every read from the control's state.
#pragma once

#include <string>

namespace zav {

// The capture line's text of an amount in pesos: whole cents, a two-digit count
// padded to three, zero as "000" (0.45 -> "045", 0.05 -> "5", 10 -> "1000").
std::string CaptureAmountText(double pesos);

}  // namespace zav
