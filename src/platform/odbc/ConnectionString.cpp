#include "ConnectionString.h"

#include "DriverVersion.h"
#include "Odbc.h"

namespace odbc {

namespace {
bool needsBraces(const QString& value) {
    for (QChar c : value) {
        if (c == u';' || c == u'{' || c == u'}' || c == u'=') {
            return true;
        }
    }
    return false;
}
} // namespace

QuotingRules loadedDriverRules() {
    constexpr DriverVersion kDoublesBraces{1, 4};
    return loadedDriverVersion() >= kDoublesBraces ? QuotingRules::FreeTds14
                                                   : QuotingRules::FreeTds13;
}

QString quoteValue(const QString& value, QuotingRules rules) {
    if (!needsBraces(value)) {
        return value;
    }
    if (rules == QuotingRules::FreeTds14) {
        return u'{' + QString(value).replace(u'}', QStringLiteral("}}")) + u'}';
    }
    if (value.contains(QStringLiteral("};"))) {
        throw Error(QStringLiteral(
            "El controlador FreeTDS no admite la secuencia \"};\" en un valor de conexión "
            "(nombre de servidor, usuario o contraseña)."));
    }
    return u'{' + value + u'}';
}

ConnectionStringBuilder& ConnectionStringBuilder::add(const QString& key, const QString& value) {
    // Only a "}" makes the rules differ; nothing else needs the driver asked.
    const QuotingRules rules = rules_                 ? *rules_
                               : value.contains(u'}') ? loadedDriverRules()
                                                      : QuotingRules::FreeTds13;
    text_ += key + u'=' + quoteValue(value, rules) + u';';
    return *this;
}

} // namespace odbc
