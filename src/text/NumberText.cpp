#include "NumberText.h"

#include "platform/runtime/RegionalSettings.h"
#include "platform/runtime/RuntimeError.h"

#include <QLocale>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace text {

namespace {

// A number as decimal digits: |value| = 0.digits x 10^pointPos.
struct Decimal {
    bool negative = false;
    std::string digits;
    int pointPos = 0;
};

// The shortest scientific text that reads back to the value, as digits.
template <typename Floating> Decimal decimalOf(Floating value) {
    // 64 characters hold the longest of them ("-2.2250738585072014e-308").
    char buffer[64];
    const char* end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
    const std::string text(static_cast<const char*>(buffer), end);
    Decimal d;
    const std::size_t e = text.find('e');
    for (std::size_t i = 0; i < e; ++i) {
        if (text[i] == '-') {
            d.negative = true;
        } else if (text[i] != '.') {
            d.digits += text[i];
        }
    }
    d.pointPos = std::stoi(text.substr(e + 1)) + 1;
    return d;
}

Decimal decimalOf(rt::Currency value) {
    const std::int64_t count = value.tenThousandths;
    // The magnitude in unsigned arithmetic, so the most negative count has one.
    const std::uint64_t magnitude =
        count < 0 ? 0 - static_cast<std::uint64_t>(count) : static_cast<std::uint64_t>(count);
    Decimal d;
    d.negative = count < 0;
    d.digits = std::to_string(magnitude);
    d.pointPos = static_cast<int>(d.digits.size()) - 4;
    return d;
}

// Adds one to a text of decimal digits.
void increment(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

// The digits of |value| x 10^decimals rounded to an integer, exact halves
// away from zero; "0" for zero, never a leading zero otherwise.
std::string roundedScaled(const Decimal& d, int decimals) {
    const long long kept = static_cast<long long>(d.pointPos) + decimals;
    std::string n;
    if (kept <= 0) {
        // Below one unit of the last place; it rounds up only from a half.
        // One character assigned as such: GCC 12's -Wrestrict misreads the
        // assignment of a literal here in a release build.
        n.assign(1, kept == 0 && d.digits.front() >= '5' ? '1' : '0');
    } else if (kept >= static_cast<long long>(d.digits.size())) {
        n = d.digits + std::string(static_cast<std::size_t>(kept) - d.digits.size(), '0');
    } else {
        n = d.digits.substr(0, static_cast<std::size_t>(kept));
        if (d.digits[static_cast<std::size_t>(kept)] >= '5') {
            increment(n);
        }
    }
    const std::size_t first = n.find_first_not_of('0');
    return first == std::string::npos ? "0" : n.substr(first);
}

QString render(const Decimal& d, int decimals, bool grouping) {
    std::string n = roundedScaled(d, decimals);
    const bool negative = d.negative && n != "0";
    if (n.size() < static_cast<std::size_t>(decimals) + 1) {
        n.insert(0, static_cast<std::size_t>(decimals) + 1 - n.size(), '0');
    }
    const std::size_t integerDigits = n.size() - static_cast<std::size_t>(decimals);

    QString out;
    out.reserve(static_cast<qsizetype>(n.size() + n.size() / 3 + 2));
    if (negative) {
        out += QLatin1Char('-');
    }
    const QChar group = rt::groupSeparator();
    for (std::size_t i = 0; i < integerDigits; ++i) {
        if (grouping && i > 0 && (integerDigits - i) % 3 == 0) {
            out += group;
        }
        out += QLatin1Char(n[i]);
    }
    if (decimals > 0) {
        out += rt::decimalSeparator();
        out += QLatin1String(n.data() + integerDigits, decimals);
    }
    return out;
}

// Ten-thousandths for a decimal number, or error 6 beyond the Currency range.
rt::Currency currencyOf(const Decimal& d) {
    const std::string n = roundedScaled(d, 4);
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), magnitude);
    constexpr std::uint64_t kMax = std::numeric_limits<std::int64_t>::max();
    if (ec != std::errc() || end != n.data() + n.size() ||
        magnitude > kMax + (d.negative ? 1 : 0)) {
        throw rt::RuntimeError(rt::err::Overflow);
    }
    const std::int64_t count = d.negative ? static_cast<std::int64_t>(0 - magnitude)
                                          : static_cast<std::int64_t>(magnitude);
    return rt::Currency{count};
}

double finiteOrOverflow(double value) {
    if (!std::isfinite(value)) {
        throw rt::RuntimeError(rt::err::Overflow);
    }
    return value;
}

} // namespace

double readNumber(const QString& text) {
    const QLocale locale = rt::regionalLocale();
    // QLocale insists on the locale's grouping rules (Spanish groups no
    // four-digit number), but a group separator only helps the eye: the
    // platform's reading drops it wherever it stands.
    QString number = text;
    if (!locale.groupSeparator().isEmpty()) {
        number.remove(locale.groupSeparator());
    }
    bool ok = false;
    const double value = locale.toDouble(number, &ok);
    if (ok && std::isfinite(value)) {
        return value;
    }
    // QLocale also reads "inf" and "nan"; they denote no number to render.
    if (ok) {
        throw rt::RuntimeError(rt::err::TypeMismatch);
    }
    // A number out of range reads as an infinity but does not count as read.
    if (std::isinf(value)) {
        throw rt::RuntimeError(rt::err::Overflow);
    }
    throw rt::RuntimeError(rt::err::TypeMismatch);
}

double toDouble(const rt::Variant& value) {
    using Kind = rt::Variant::Kind;
    switch (value.kind()) {
    case Kind::Empty:
        return 0;
    case Kind::Null:
        throw rt::RuntimeError(rt::err::TypeMismatch);
    case Kind::Boolean:
        return value.as<bool>() ? -1 : 0;
    case Kind::Integer:
        return value.as<std::int16_t>();
    case Kind::Long:
        return value.as<std::int32_t>();
    case Kind::LongLong:
        return static_cast<double>(value.as<std::int64_t>());
    case Kind::Single:
        return finiteOrOverflow(value.as<float>());
    case Kind::Double:
        return finiteOrOverflow(value.as<double>());
    case Kind::Currency:
        return value.as<rt::Currency>().toDouble();
    case Kind::Text:
        return readNumber(value.as<QString>());
    }
    throw rt::RuntimeError(rt::err::TypeMismatch);
}

rt::Currency toCurrency(const rt::Variant& value) {
    using Kind = rt::Variant::Kind;
    switch (value.kind()) {
    case Kind::Currency:
        return value.as<rt::Currency>();
    case Kind::Single:
        return currencyOf(decimalOf(static_cast<float>(toDouble(value))));
    default:
        return currencyOf(decimalOf(toDouble(value)));
    }
}

float toSingle(const rt::Variant& value) {
    if (value.kind() == rt::Variant::Kind::Single) {
        return static_cast<float>(toDouble(value));
    }
    const double wide = toDouble(value);
    if (std::fabs(wide) > std::numeric_limits<float>::max()) {
        throw rt::RuntimeError(rt::err::Overflow);
    }
    return static_cast<float>(wide);
}

QString renderNumber(double value, int decimals, bool grouping) {
    return render(decimalOf(value), decimals, grouping);
}

QString renderNumber(float value, int decimals, bool grouping) {
    return render(decimalOf(value), decimals, grouping);
}

QString renderNumber(rt::Currency value, int decimals, bool grouping) {
    return render(decimalOf(value), decimals, grouping);
}

} // namespace text
