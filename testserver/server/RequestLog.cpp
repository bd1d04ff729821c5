#include "RequestLog.h"

#include <QDateTime>
#include <QJsonDocument>

#include <cstdio>

namespace server {

RequestLog::RequestLog(const QString& path) : file_(path) {
    if (!path.isEmpty()) {
        file_.open(QIODevice::WriteOnly | QIODevice::Append);
    }
}

void RequestLog::write(QJsonObject entry) {
    entry.insert("time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    if (file_.isOpen()) {
        file_.write(line);
        file_.flush();
    } else if (entry.value("request") == QLatin1String("bad")) {
        std::fputs(line.constData(), stderr);
    }
}

} // namespace server
