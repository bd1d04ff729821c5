#include "TestServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <csignal>
#include <stdexcept>

#include <sys/prctl.h>

namespace testing_support {

namespace {
constexpr int StartTimeoutMs = 10000;
constexpr int StopTimeoutMs = 5000;
} // namespace

TestServer::TestServer(const QJsonObject& state, const QString& host) : host_(host) {
    if (!dir_.isValid()) {
        throw std::runtime_error("TestServer: cannot create a temporary folder");
    }
    writeState(state);
    start(0);
}

TestServer::~TestServer() { stop(); }

QJsonObject TestServer::defaultState() {
    return QJsonObject{
        {"version", "10.50.6000.34"},
        {"logins",
         QJsonArray{QJsonObject{{"name", "sa"}, {"password", "Secreto.1"}, {"sysadmin", true}},
                    QJsonObject{{"name", "lector"}, {"password", "lector"}, {"sysadmin", false}}}},
        {"databases", QJsonArray{QJsonObject{{"name", "Ventas"}}, QJsonObject{{"name", "Compras"}},
                                 QJsonObject{{"name", QString::fromUtf8("Nóminas 2024")}}}},
    };
}

QString TestServer::serverName() const { return QStringLiteral("%1,%2").arg(host_).arg(port_); }

QString TestServer::statePath() const { return dir_.filePath(QStringLiteral("state.json")); }

QString TestServer::logPath() const { return dir_.filePath(QStringLiteral("requests.jsonl")); }

QJsonObject TestServer::readState() const {
    QFile f(statePath());
    if (!f.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("TestServer: cannot read the state file");
    }
    return QJsonDocument::fromJson(f.readAll()).object();
}

QList<QJsonObject> TestServer::logLines() const {
    QList<QJsonObject> lines;
    QFile f(logPath());
    if (!f.open(QIODevice::ReadOnly)) {
        return lines;
    }
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.isEmpty()) {
            lines.append(QJsonDocument::fromJson(line).object());
        }
    }
    return lines;
}

void TestServer::writeState(const QJsonObject& state) {
    QFile f(statePath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(QJsonDocument(state).toJson()) < 0) {
        throw std::runtime_error("TestServer: cannot write the state file");
    }
}

QString TestServer::useOwnBackupFolder() {
    const QString folder = dir_.filePath(QStringLiteral("backups"));
    if (!QDir().mkpath(folder)) {
        throw std::runtime_error("TestServer: cannot make the backup folder");
    }
    QJsonObject state = readState();
    state.insert(QStringLiteral("backupFolder"), folder);
    writeState(state);
    restart();
    return folder;
}

void TestServer::start(int port) {
    process_ = std::make_unique<QProcess>();
    process_->setProgram(QStringLiteral(TARVELO_TESTSERVER_PATH));
    process_->setArguments({"--state", statePath(), "--host", host_, "--port",
                            QString::number(port), "--log", logPath()});
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    // A test that dies (an abort under a sanitizer, a crash) takes its
    // server with it instead of leaving it running.
    process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_->start();
    if (!process_->waitForStarted(StartTimeoutMs)) {
        throw std::runtime_error("TestServer: cannot start " TARVELO_TESTSERVER_PATH);
    }
    const QDeadlineTimer deadline(StartTimeoutMs);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired()) {
        if (!process_->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            if (process_->state() == QProcess::NotRunning) {
                break;
            }
            continue;
        }
        out += process_->readAllStandardOutput();
    }
    const QByteArray first = out.left(out.indexOf('\n'));
    const QByteArray prefix = "listening on " + host_.toLatin1() + ':';
    if (!first.startsWith(prefix)) {
        process_->waitForFinished(StopTimeoutMs);
        const QByteArray err = process_->readAllStandardError().trimmed();
        process_.reset();
        throw std::runtime_error("TestServer: the server did not start: " + err.toStdString());
    }
    port_ = first.mid(prefix.size()).toInt();
}

void TestServer::stop() {
    if (!process_) {
        return;
    }
    if (process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(StopTimeoutMs)) {
            process_->kill();
            process_->waitForFinished(StopTimeoutMs);
        }
    }
    process_.reset();
}

void TestServer::restart() {
    const int previous = port_;
    stop();
    try {
        start(previous);
    } catch (const std::runtime_error&) {
        start(0); // the port was taken meanwhile
    }
}

} // namespace testing_support
