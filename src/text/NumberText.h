#pragma once
// The number conversions and the number rendering behind the field
// formatting: a value read as a number the way the platform converts it
// (locale-aware for text), and a number rendered with a fixed count of
// decimals and optional digit grouping.  Both use the regional separators in
// force at the time of the call.

#include "platform/runtime/Variant.h"

#include <QString>

namespace text {

// The locale-aware reading of a text as a number: group separators are
// ignored wherever they stand, the decimal separator is the regional one,
// blanks around the number are allowed.  Raises error 13 for a text that is
// not a number and error 6 for one beyond the double range.
double readNumber(const QString& text);

// The platform's conversions of a value (True is -1, Empty is 0).  They raise
// error 13 for Null and for text that is not a number, and error 6 for a
// value beyond the range of the result type.  toCurrency rounds to
// ten-thousandths with exact halves away from zero, like renderNumber.
double toDouble(const rt::Variant& value);
rt::Currency toCurrency(const rt::Variant& value);
float toSingle(const rt::Variant& value);

// A finite number rendered with exactly `decimals` decimals (no decimal
// separator when decimals is 0), its integer digits grouped in threes when
// `grouping` is on.  Rounding works on the shortest decimal text that reads
// back to the value (for a float at its own precision), and exact halves go
// away from zero: 0.5 -> 1, 2.5 -> 3, 1.005 -> 1.01.  A value that rounds to
// zero is shown without a sign.
QString renderNumber(double value, int decimals, bool grouping);
QString renderNumber(float value, int decimals, bool grouping);
QString renderNumber(rt::Currency value, int decimals, bool grouping);

} // namespace text
