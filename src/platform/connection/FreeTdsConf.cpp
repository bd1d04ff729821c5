#include "FreeTdsConf.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace connection {

namespace {

QStringList configurationFiles() {
    QStringList files;
    if (const QString path = qEnvironmentVariable("FREETDSCONF"); !path.isEmpty()) {
        files << path;
    }
    if (const QString root = qEnvironmentVariable("FREETDS"); !root.isEmpty()) {
        files << root + QStringLiteral("/etc/freetds.conf");
    }
    files << QDir::homePath() + QStringLiteral("/.freetds.conf")
          << QStringLiteral("/etc/freetds/freetds.conf");
    return files;
}

// FreeTDS compares option names without regard to case or inner blanks.
QString optionName(const QString& text) { return text.simplified().toLower(); }

std::optional<FreeTdsSection> sectionIn(const QString& path, const QString& server) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return std::nullopt;
    }
    std::optional<FreeTdsSection> found;
    bool inside = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#')) {
            continue;
        }
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            if (found) {
                break; // the section has ended
            }
            const QString name = line.mid(1, line.size() - 2).trimmed();
            inside = name.compare(server, Qt::CaseInsensitive) == 0;
            if (inside) {
                found = FreeTdsSection{name, {}, std::nullopt, {}};
            }
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inside || equals < 0) {
            continue;
        }
        const QString key = optionName(line.left(equals));
        const QString value = line.mid(equals + 1).trimmed();
        if (key == u"host") {
            found->host = value;
        } else if (key == u"port") {
            bool ok = false;
            const int port = value.toInt(&ok);
            found->port = ok ? std::optional<int>(port) : std::nullopt;
        } else if (key == u"ca file") {
            found->caFile = value;
        }
    }
    return found;
}

} // namespace

std::optional<FreeTdsSection> freeTdsSection(const QString& server) {
    const QString name = server.trimmed();
    if (name.isEmpty() || name.compare(u"global", Qt::CaseInsensitive) == 0 ||
        name.contains(u'[') || name.contains(u']')) {
        return std::nullopt;
    }
    for (const QString& path : configurationFiles()) {
        if (auto section = sectionIn(path, name)) {
            return section;
        }
    }
    return std::nullopt;
}

} // namespace connection
