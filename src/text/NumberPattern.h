#pragma once
// The number pattern formateaCampo renders through: "0" for the units
// place, "#" for the other integer places, "," for a group mark (which takes
// one of the integer places), then "." and one "0" per decimal.

#include <QString>

#include <cstdint>

namespace text {

struct NumberPattern {
    QString text;
    std::int16_t length = 0; // the width of the field before alignment
};

// Raises error 6 when a count leaves the 16-bit range.
NumberPattern buildNumberPattern(std::int16_t nEnteros, std::int16_t nDecimales, bool bMiles);

} // namespace text
