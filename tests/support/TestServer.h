#pragma once
// Starts build/bin/tarvelo-testserver on a free loopback port with a state
// file of its own (in a temporary folder), and stops it when it goes.  For
// tests of everything that talks to SQL Server.
//
//   testing_support::TestServer server;            // the default state below
//   connect to server.serverName() ("127.0.0.1,PORT") as sa / Secreto.1
//   server.readState() shows what a drop did; server.logLines() what arrived.
//
// Default state: version 10.50.6000.34; logins sa (password "Secreto.1",
// sysadmin) and lector (password "lector", not sysadmin); user databases
// Ventas, Compras and "Nóminas 2024".  Failures to start throw
// std::runtime_error with the server's own message.

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace testing_support {

class TestServer {
public:
    // `host`: the loopback address to listen on (127.x.y.z).
    explicit TestServer(const QJsonObject& state = defaultState(),
                        const QString& host = QStringLiteral("127.0.0.1"));
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    static QJsonObject defaultState();

    int port() const { return port_; }
    const QString& host() const { return host_; }
    QString serverName() const; // "HOST,PORT", as SQL Server tools take it
    QString statePath() const;
    QString logPath() const;
    QJsonObject readState() const;
    // The request log, one object per line; never holds a password.
    QList<QJsonObject> logLines() const;

    // Replaces the state file; takes effect at the next restart().
    void writeState(const QJsonObject& state);
    // Points the state's "backupFolder" at a folder of the server's own
    // (made here, gone with the server) and restarts it; returns the
    // folder.  Without it, a backup to a bare file name goes to
    // /var/opt/mssql/data/, which this host usually lacks (3201).
    QString useOwnBackupFolder();
    // Stops the server and starts it again on the same state file (and the
    // same port when it is still free).
    void restart();
    void stop();

private:
    void start(int port);

    QTemporaryDir dir_;
    QString host_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
};

} // namespace testing_support
