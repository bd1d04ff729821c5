#pragma once
// The request log: one JSON line per request received (time, session,
// login, current database, the kind of request and its text), plus one line
// for every connection closed for bad input or by a fault.  Never a password.

#include <QFile>
#include <QJsonObject>
#include <QString>

namespace server {

class RequestLog {
public:
    // An empty path logs nothing but bad-input lines, which go to stderr.
    explicit RequestLog(const QString& path);
    bool isOpen() const { return file_.isOpen(); }
    QString error() const { return file_.errorString(); }

    void write(QJsonObject entry);

private:
    QFile file_;
};

} // namespace server
