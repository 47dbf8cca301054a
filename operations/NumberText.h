// The two number texts the export and the current-data grid show.
#pragma once

#include <QString>

namespace r4t8 {

// "0.##": at least one integer digit, at most two decimals, trailing zeros dropped
// (12.5 -> "12.5", 3 -> "3", 0.456 -> "0.46", 12.3456 -> "12.35").
QString FormatZeroHash(double value);

// General float text: the shortest decimal text with up to 15 significant digits
// (23.456789, 12.5, 0).
QString GeneralFloatText(double value);

}  // namespace r4t8
