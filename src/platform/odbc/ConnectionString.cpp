#include "ConnectionString.h"

namespace odbc {

namespace {
bool needsBraces(const QString& value) {
    if (value.isEmpty()) {
        return false;
    }
    if (value.front().isSpace() || value.back().isSpace()) {
        return true;
    }
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
    QString doubled = value;
    doubled.replace(u'}', QStringLiteral("}}"));
    return u'{' + doubled + u'}';
}

ConnectionStringBuilder& ConnectionStringBuilder::add(const QString& key, const QString& value) {
    if (!text_.isEmpty()) {
        text_ += u';';
    }
    text_ += key + u'=' + quoteValue(value);
    return *this;
}

} // namespace odbc
