// tarvelo-testserver --state FILE [--host ADDRESS] [--port N] [--log FILE] [--timing]
//
// A TDS server on a loopback address (127.0.0.1 unless --host names another
// 127.x.y.z) that answers like SQL Server for what Tarvelo and common clients
// send.  Prints "listening on ADDRESS:PORT" first, and
// stops cleanly on SIGTERM or SIGINT.  Bad arguments or a bad state file:
// one line on stderr and exit status 2.

#include "Server.h"
#include "engine/Catalog.h"
#include "platform/runtime/Utf8Locale.h"
#include "state/ServerState.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

[[noreturn]] void usageError(const QString& message) {
    std::fprintf(stderr, "tarvelo-testserver: %s\n", qPrintable(message));
    std::exit(2);
}

struct Options {
    QString state;
    QString log;
    QHostAddress host = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 0;
    bool timing = false;
};

Options parseArguments(const QStringList& args) {
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&]() -> QString {
            if (i + 1 >= args.size()) {
                usageError(QStringLiteral("%1 needs a value").arg(a));
            }
            return args[++i];
        };
        if (a == QLatin1String("--state")) {
            o.state = value();
        } else if (a == QLatin1String("--log")) {
            o.log = value();
        } else if (a == QLatin1String("--host")) {
            const QString text = value();
            bool ipv4 = false;
            o.host = QHostAddress(text);
            o.host.toIPv4Address(&ipv4);
            if (!ipv4 || !o.host.isLoopback() || o.host.toString() != text) {
                usageError(QStringLiteral("--host needs a loopback address 127.x.y.z"));
            }
        } else if (a == QLatin1String("--port")) {
            bool ok = false;
            const uint p = value().toUInt(&ok);
            if (!ok || p > 65535) {
                usageError(QStringLiteral("--port needs a number from 0 to 65535"));
            }
            o.port = static_cast<quint16>(p);
        } else if (a == QLatin1String("--timing")) {
            o.timing = true;
        } else {
            usageError(QStringLiteral("unknown argument %1 (usage: --state FILE [--host ADDRESS] "
                                      "[--port N] [--log FILE] [--timing])")
                           .arg(a));
        }
    }
    if (o.state.isEmpty()) {
        usageError(QStringLiteral("--state FILE is required"));
    }
    return o;
}

} // namespace

int main(int argc, char** argv) {
    rt::useUtf8WhenNoLocaleIsSet();
    QCoreApplication app(argc, argv);
    const Options options = parseArguments(app.arguments());

    QString error;
    auto state = state::loadState(options.state, error);
    if (!state) {
        usageError(error);
    }
    server::Server server(engine::Catalog(std::move(*state), options.state), options.log,
                          options.timing);
    const state::Encryption& encryption = server.catalog().state().encryption;
    if (encryption.mode != state::EncryptionMode::Unsupported) {
        auto credentials =
            encryption.certificate.isEmpty()
                ? server::TlsCredentials::selfSigned(error)
                : server::TlsCredentials::fromFiles(encryption.certificate, encryption.key, error);
        if (!credentials) {
            usageError(error);
        }
        server.setTlsCredentials(std::move(credentials));
    }
    if (!options.log.isEmpty() && !server.log().isOpen()) {
        usageError(
            QStringLiteral("cannot open the log %1: %2").arg(options.log, server.log().error()));
    }
    const QString host = options.host.toString();
    if (!server.listen(options.host, options.port, error)) {
        usageError(
            QStringLiteral("cannot listen on %1:%2: %3").arg(host).arg(options.port).arg(error));
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        usageError(QStringLiteral("cannot set up signal handling"));
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("listening on %s:%u\n", qPrintable(host), static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    server.applyListenerFaults();
    return app.exec();
}
