#include "ConnectionString.h"

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

QString quoteValue(const QString& value) {
    if (!needsBraces(value)) {
        return value;
    }
    if (value.contains(QStringLiteral("};"))) {
        throw Error(QStringLiteral(
            "El controlador FreeTDS no admite la secuencia \"};\" en un valor de conexión "
            "(nombre de servidor, usuario o contraseña)."));
    }
    return u'{' + value + u'}';
}

ConnectionStringBuilder& ConnectionStringBuilder::add(const QString& key, const QString& value) {
    text_ += key + u'=' + quoteValue(value) + u';';
    return *this;
}

} // namespace odbc
