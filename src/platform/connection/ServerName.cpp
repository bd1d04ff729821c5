#include "ServerName.h"

#include "Sentences.h"

#include "platform/odbc/Odbc.h"

#include <algorithm>

namespace connection {

namespace {

[[noreturn]] void invalidServerName(const QString& typed) {
    throw odbc::Error(say::invalidServerName(typed));
}

bool isLocalAlias(const QString& typedHost) {
    return typedHost == u"." || typedHost.compare(u"(local)", Qt::CaseInsensitive) == 0;
}

} // namespace

ServerAddress parseServerName(const QString& typed) {
    QString rest = typed.trimmed();
    if (rest.startsWith(u"tcp:", Qt::CaseInsensitive)) {
        rest = rest.mid(4).trimmed();
    }
    ServerAddress address;
    const qsizetype comma = rest.lastIndexOf(u',');
    if (comma >= 0) {
        bool isNumber = false;
        const QString portText = rest.mid(comma + 1).trimmed();
        const int port = portText.toInt(&isNumber);
        const bool digitsOnly =
            !portText.isEmpty() &&
            std::all_of(portText.begin(), portText.end(), [](QChar c) { return c.isDigit(); });
        if (!isNumber || !digitsOnly || port < 1 || port > 65535) {
            invalidServerName(typed);
        }
        address.port = port;
        rest = rest.left(comma).trimmed();
    }
    const qsizetype backslash = rest.indexOf(u'\\');
    if (backslash >= 0) {
        address.instance = rest.mid(backslash + 1).trimmed();
        rest = rest.left(backslash).trimmed();
        if (address.instance.isEmpty()) {
            invalidServerName(typed);
        }
    }
    if (rest.isEmpty()) {
        invalidServerName(typed);
    }
    // "(local)" and "." name this machine; SQL Server listens on loopback.
    address.host = isLocalAlias(rest) ? QStringLiteral("127.0.0.1") : rest;
    address.thisMachine =
        isLocalAlias(rest) || rest.compare(u"localhost", Qt::CaseInsensitive) == 0;
    return address;
}

QString browserInstance(const ServerAddress& address) {
    return address.port ? QString() : address.instance;
}

QList<ConfLine> serverConfLines(const ServerAddress& address) {
    QList<ConfLine> lines{{"host", address.host.toUtf8()}};
    if (address.port) {
        lines.append(ConfLine("port", QByteArray::number(*address.port)));
    } else if (!address.instance.isEmpty()) {
        // FreeTDS asks the SQL Server Browser of that host for the port.
        lines.append(ConfLine("instance", address.instance.toUtf8()));
    }
    return lines;
}

} // namespace connection
