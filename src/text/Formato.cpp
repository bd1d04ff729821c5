#include "Formato.h"

#include "NumberPattern.h"
#include "NumberText.h"

#include "platform/runtime/CurrentError.h"
#include "platform/runtime/RegionalSettings.h"
#include "platform/runtime/RuntimeError.h"

#include <algorithm>
#include <limits>

namespace {

// 16-bit arithmetic of the widths and counters: error 6 out of range.
std::int16_t add16(int a, int b) {
    const int sum = a + b;
    if (sum < std::numeric_limits<std::int16_t>::min() ||
        sum > std::numeric_limits<std::int16_t>::max()) {
        throw rt::RuntimeError(rt::err::Overflow);
    }
    return static_cast<std::int16_t>(sum);
}

QString withoutLeadingBlanks(const QString& s) {
    qsizetype first = 0;
    while (first < s.size() && s.at(first) == QLatin1Char(' ')) {
        ++first;
    }
    return s.mid(first);
}

// Whether the value's text form is "", "-" or ",".  Only Empty and text can
// have such a form: numbers and Booleans always show digits or a word.
bool hasBlankTextForm(const rt::Variant& v) {
    if (v.isEmpty()) {
        return true;
    }
    if (v.kind() != rt::Variant::Kind::Text) {
        return false;
    }
    const QString& s = v.as<QString>();
    return s.isEmpty() || s == QLatin1String("-") || s == QLatin1String(",");
}

// The three converters in one: 0 for Null and blank texts, otherwise the
// platform's conversion, and 0 again for anything that fails in it.
template <typename T, typename Convert>
T convertOrZero(const rt::Variant& vValor, Convert convert) {
    T result{};
    rt::withFailurePath(
        [&] {
            if (!vValor.isNull() && !hasBlankTextForm(vValor)) {
                result = convert(vValor);
            }
        },
        [] {});
    return result;
}

} // namespace

namespace text {

NumberPattern buildNumberPattern(std::int16_t nEnteros, std::int16_t nDecimales, bool bMiles) {
    // The integer places are placed from the right to the left; they are
    // collected in reverse and turned round at the end.
    QString reversed;
    std::int16_t length = 0;
    if (nEnteros == 0) {
        reversed = QStringLiteral("0");
        length = 1;
    } else {
        std::int16_t digits = 0;
        std::int16_t place = 0;
        const std::int16_t lastPlace = add16(nEnteros, -1);
        while (place <= lastPlace) {
            if (bMiles) {
                if (digits > 0 && digits % 3 == 0) {
                    reversed += QLatin1Char(',');
                    place = add16(place, 1);
                    length = add16(length, 1);
                }
                digits = add16(digits, 1);
            }
            reversed += place == 0 ? QLatin1Char('0') : QLatin1Char('#');
            length = add16(length, 1);
            place = add16(place, 1);
        }
    }
    std::reverse(reversed.begin(), reversed.end());
    NumberPattern pattern{reversed, length};
    if (nDecimales > 0) {
        pattern.text += QLatin1Char('.') + QString(nDecimales, QLatin1Char('0'));
        pattern.length = add16(add16(pattern.length, 1), nDecimales);
    }
    return pattern;
}

} // namespace text

QString formateaCampo(const rt::Variant& vValor, std::int16_t nEnteros, std::int16_t nDecimales,
                      const QString& sAlineacion, bool bMiles) {
    const text::NumberPattern pattern = text::buildNumberPattern(nEnteros, nDecimales, bMiles);
    const int decimals = std::max<int>(nDecimales, 0);
    const bool grouping = pattern.text.contains(QLatin1Char(','));

    QString number;
    switch (vValor.kind()) {
    case rt::Variant::Kind::Single:
        number = text::renderNumber(dimeSimple(vValor), decimals, grouping);
        break;
    case rt::Variant::Kind::Currency:
        number = text::renderNumber(dimeMoneda(vValor), decimals, grouping);
        break;
    default:
        number = text::renderNumber(dimeDoble(vValor), decimals, grouping);
        break;
    }
    // A number wider than its pattern is kept whole here: cutting it would
    // show a different number, and the aligned modes cut to the final width
    // anyway.
    const QString field = number.rightJustified(pattern.length, QLatin1Char(' '));
    if (sAlineacion.isEmpty()) {
        return field;
    }
    const std::int16_t width = add16(add16(nEnteros, nDecimales), 1);
    const QString code =
        sAlineacion == QLatin1String("D") ? QStringLiteral("D") : QStringLiteral("I");
    return alineaTexto(withoutLeadingBlanks(field), width, code);
}

QString alineaTexto(const QString& sTexto, std::int16_t nAncho, const QString& sAlineacion) {
    const bool alignLeft = rt::upperCase(sAlineacion) == QLatin1String("I");
    QString s = sTexto.isEmpty() ? QStringLiteral(" ") : sTexto;
    if (s.size() > nAncho) {
        if (nAncho < 0) {
            throw rt::RuntimeError(rt::err::InvalidCall);
        }
        s.truncate(nAncho);
    }
    return alignLeft ? s.leftJustified(nAncho, QLatin1Char(' '))
                     : s.rightJustified(nAncho, QLatin1Char(' '));
}

double dimeDoble(const rt::Variant& vValor) {
    return convertOrZero<double>(vValor, text::toDouble);
}

rt::Currency dimeMoneda(const rt::Variant& vValor) {
    return convertOrZero<rt::Currency>(vValor, text::toCurrency);
}

float dimeSimple(const rt::Variant& vValor) { return convertOrZero<float>(vValor, text::toSingle); }
