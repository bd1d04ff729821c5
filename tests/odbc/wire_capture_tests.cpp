// What crosses loopback during a login, read off the wire by tcpdump: the
// tool's password never appears, in clear or in the light obfuscation of
// the TDS login packet.  A client in clear is the control that shows the
// capture would see it.  Needs root and tcpdump; skipped otherwise.
#include "QStringPrinter.h"
#include "ServerStates.h"
#include "TestServer.h"
#include "platform/dmo/SQLServer.h"
#include "platform/runtime/RuntimeError.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using namespace testing_support;

const QString kPassword = QStringLiteral("a;b=c\"d'e]f{g}h");

// The password as UTF-16LE, and as a login packet carries it: each byte's
// halves swapped, then XOR 0xA5.
QList<QByteArray> passwordForms() {
    QByteArray utf16;
    for (QChar c : kPassword) {
        utf16.append(static_cast<char>(c.unicode() & 0xFF))
            .append(static_cast<char>(c.unicode() >> 8));
    }
    QByteArray obfuscated;
    for (char b : utf16) {
        const auto u = static_cast<unsigned char>(b);
        obfuscated.append(static_cast<char>(((u << 4) | (u >> 4)) ^ 0xA5));
    }
    return {kPassword.toUtf8(), utf16, obfuscated};
}

class Capture {
public:
    explicit Capture(int port) {
        tcpdump_.setProcessChannelMode(QProcess::MergedChannels);
        tcpdump_.start(QStringLiteral("tcpdump"),
                       {"--immediate-mode", "-i", "lo", "-U", "-s", "0", "-w", file(), "tcp",
                        "port", QString::number(port)});
        // tcpdump says "listening on lo" once it captures.
        QByteArray said;
        while (!said.contains("listening on") && tcpdump_.waitForReadyRead(10000)) {
            said += tcpdump_.readAll();
        }
        started_ = said.contains("listening on");
    }
    bool started() const { return started_; }
    // Waits until the capture file has stopped growing (what the kernel
    // handed over is written), then ends tcpdump.
    QByteArray stop() {
        qint64 size = -1;
        for (int i = 0; i < 50 && QFileInfo(file()).size() != size; ++i) {
            size = QFileInfo(file()).size();
            QThread::msleep(100);
        }
        tcpdump_.terminate();
        tcpdump_.waitForFinished(10000);
        QFile f(file());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QString file() const { return dir_.filePath(QStringLiteral("login.pcap")); }
    QTemporaryDir dir_;
    QProcess tcpdump_;
    bool started_ = false;
};

bool seen(const QByteArray& wire) {
    for (const QByteArray& form : passwordForms()) {
        if (wire.contains(form)) {
            return true;
        }
    }
    return false;
}

// tsql logging in with FreeTDS's encryption setting `encryption`.
void tsqlLogin(const TestServer& server, const QString& encryption) {
    QTemporaryDir dir;
    QFile conf(dir.filePath(QStringLiteral("freetds.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[global]\n\tencryption = " + encryption.toUtf8() + "\n");
    conf.close();
    QProcess tsql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FREETDSCONF"), conf.fileName());
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("TDSVER"), QStringLiteral("7.3"));
    tsql.setProcessEnvironment(env);
    tsql.start(QStringLiteral("tsql"), {"-H", "127.0.0.1", "-p", QString::number(server.port()),
                                        "-U", "cifrado", "-P", kPassword});
    tsql.write("exit\n");
    tsql.closeWriteChannel();
    ASSERT_TRUE(tsql.waitForFinished(20000)) << "waited 20 s for tsql";
}

TEST(WireCapture, TheToolsPasswordNeverCrossesLoopbackReadable) {
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("tcpdump")).isEmpty()) {
        GTEST_SKIP() << "capturing loopback needs root and tcpdump";
    }
    const struct {
        const char* mode;
        bool byTheTool; // else tsql in clear, the control
        bool visible;
    } cases[] = {{"off", true, false},
                 {"required", true, false},
                 {"unsupported", true, false},
                 {"unsupported", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + (c.byTheTool ? " tool" : " tsql in clear"));
        QJsonObject state = withLogin(TestServer::defaultState(),
                                      QJsonObject{{"name", "cifrado"}, {"password", kPassword}});
        state.insert("encryption", QString::fromLatin1(c.mode));
        TestServer server(state);
        Capture capture(server.port());
        ASSERT_TRUE(capture.started()) << "tcpdump did not start capturing within 10 s";
        if (c.byTheTool) {
            try {
                dmo::SQLServer().Connect(server.serverName(), QStringLiteral("cifrado"), kPassword);
            } catch (const rt::RuntimeError&) {
                // The server that cannot encrypt is refused; the wire tells the rest.
            }
        } else {
            tsqlLogin(server, QStringLiteral("off"));
        }
        const QByteArray wire = capture.stop();
        ASSERT_FALSE(wire.isEmpty()) << "nothing was captured";
        EXPECT_EQ(seen(wire), c.visible);
    }
}

} // namespace
