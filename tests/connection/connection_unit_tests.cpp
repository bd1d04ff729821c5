// The connection component without a server: server names, the Spanish
// descriptions of the driver's own failures, a server that cannot be reached.
#include "ClosedPort.h"
#include "QStringPrinter.h"
#include "ShortTimeouts.h"
#include "platform/connection/Bounded.h"
#include "platform/connection/Connect.h"
#include "platform/connection/DriverMessages.h"
#include "platform/connection/DriverRelay.h"
#include "platform/connection/FreeTdsConf.h"
#include "platform/connection/HostLookup.h"
#include "platform/connection/Link.h"
#include "platform/connection/PreloginGuard.h"
#include "platform/connection/PreloginReply.h"
#include "platform/connection/PrivateConf.h"
#include "platform/connection/ServerName.h"
#include "platform/odbc/ConnectionString.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

namespace {

using connection::ServerAddress;

TEST(ServerName, FormsUsersType) {
    EXPECT_EQ(connection::parseServerName(QStringLiteral("db1")),
              (ServerAddress{QStringLiteral("db1"), {}, {}}));
    EXPECT_EQ(connection::parseServerName(QStringLiteral("db1\\SQLEXPRESS")),
              (ServerAddress{QStringLiteral("db1"), QStringLiteral("SQLEXPRESS"), {}}));
    EXPECT_EQ(connection::parseServerName(QStringLiteral("db1,1500")),
              (ServerAddress{QStringLiteral("db1"), {}, 1500}));
    EXPECT_EQ(connection::parseServerName(QStringLiteral("tcp:10.0.0.5,1433")),
              (ServerAddress{QStringLiteral("10.0.0.5"), {}, 1433}));
    EXPECT_EQ(connection::parseServerName(QStringLiteral("TCP:db1")),
              (ServerAddress{QStringLiteral("db1"), {}, {}}));
    EXPECT_EQ(connection::parseServerName(QStringLiteral("(local)")),
              (ServerAddress{QStringLiteral("127.0.0.1"), {}, {}, true}));
    EXPECT_EQ(connection::parseServerName(QStringLiteral(".\\INST")),
              (ServerAddress{QStringLiteral("127.0.0.1"), QStringLiteral("INST"), {}, true}));
    EXPECT_EQ(connection::parseServerName(QStringLiteral("db1\\INST,2000")),
              (ServerAddress{QStringLiteral("db1"), QStringLiteral("INST"), 2000}));
}

// The text is named as it was typed, its invisible characters made visible:
// a right-to-left override cannot turn the sentence round.
TEST(ServerName, MalformedNamesAreRefusedNamingTheText) {
    const struct {
        QString typed;
        QString shown;
    } cases[] = {{QString(), QString()},
                 {QStringLiteral(" "), QStringLiteral(" ")},
                 {QStringLiteral("db1,"), QStringLiteral("db1,")},
                 {QStringLiteral("db1,0"), QStringLiteral("db1,0")},
                 {QStringLiteral("db1,65536"), QStringLiteral("db1,65536")},
                 {QStringLiteral("db1,14x"), QStringLiteral("db1,14x")},
                 {QStringLiteral("db1,-5"), QStringLiteral("db1,-5")},
                 {QStringLiteral("db1\\"), QStringLiteral("db1\\")},
                 {QStringLiteral("\\INST"), QStringLiteral("\\INST")},
                 {QStringLiteral(",1433"), QStringLiteral(",1433")},
                 {QStringLiteral("db1,\u202E3341"), QStringLiteral("db1,<U+202E>3341")}};
    for (const auto& c : cases) {
        try {
            connection::parseServerName(c.typed);
            ADD_FAILURE() << "accepted: " << c.typed.toStdString();
        } catch (const rt::RuntimeError& e) {
            EXPECT_EQ(e.description(),
                      QStringLiteral("El nombre de servidor '%1' no es válido.").arg(c.shown));
        }
    }
}

TEST(ServerName, OptionsForTheDriver) {
    auto options = [](const QString& typed) {
        QByteArray text;
        for (const auto& [option, value] :
             connection::serverConfLines(connection::parseServerName(typed))) {
            text += option + '=' + value + ';';
        }
        return text;
    };
    EXPECT_EQ(options(QStringLiteral("db1")), "host=db1;");
    EXPECT_EQ(options(QStringLiteral("db1\\INST")), "host=db1;instance=INST;");
    EXPECT_EQ(options(QStringLiteral("db1\\INST,2000")), "host=db1;port=2000;");
    EXPECT_EQ(options(QStringLiteral("tcp:db1,1433")), "host=db1;port=1433;");
}

// freetds.conf as FreeTDS 1.3's config.c reads it.
TEST(FreeTdsConf, ReadsLikeFreeTds) {
    const QByteArray longPath = "/" + QByteArray(300, 'x');
    const struct {
        const char* name;
        QByteArray text;
        bool found;
        QString host;
        std::optional<int> port;
        QString instance;
        QString caFile;
    } cases[] = {
        {"global applies", "[global]\n port = 2000\n[srv]\n host = h\n", true, "h", 2000, {}, {}},
        {"section overrides global",
         "[global]\nport = 2000\n[srv]\nport = 3000\n",
         true,
         {},
         3000,
         {},
         {}},
        {"comments end values",
         "[srv]\n host = 127.0.0.1 ; primary\n ca file = /a.pem # ours\n",
         true,
         "127.0.0.1",
         {},
         {},
         "/a.pem"},
        {"comment lines", "; [srv]\n# [srv]\n[other]\nhost = a\n", false, {}, {}, {}, {}},
        {"same-named sections add up",
         "[srv]\nhost = a\n[other]\nhost = b\n[SRV]\nport = 1500\n",
         true,
         "a",
         1500,
         {},
         {}},
        {"header without its bracket", "[srv\nhost = a\n", true, "a", {}, {}, {}},
        {"blanks in names and values",
         "[srv]\n  CA   File =  /a   b.pem\n",
         true,
         {},
         {},
         {},
         "/a b.pem"},
        {"a byte-order mark hides the header",
         "\xEF\xBB\xBF[srv]\nhost = a\n",
         false,
         {},
         {},
         {},
         {}},
        {"instance", "[srv]\ninstance = SQLEXPRESS\n", true, {}, {}, "SQLEXPRESS", {}},
        {"port read as atoi does", "[srv]\nport = 14x\n", true, {}, 14, {}, {}},
        {"port zero is no port", "[srv]\nport = 0\n", true, {}, {}, {}, {}},
        {"port beyond 16 bits kept", "[srv]\nport = 99999999\n", true, {}, 99999999, {}, {}},
        {"lines read 255 bytes at a time",
         "[srv]\nca file = " + longPath + "\n",
         true,
         {},
         {},
         {},
         QString::fromLatin1(("ca file = " + longPath).left(255).mid(10))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        connection::FreeTdsSection settings;
        EXPECT_EQ(connection::readFreeTdsConf(c.text, QStringLiteral("srv"), settings), c.found);
        EXPECT_EQ(settings.host, c.host);
        EXPECT_EQ(settings.port, c.port);
        EXPECT_EQ(settings.instance, c.instance);
        EXPECT_EQ(settings.caFile, c.caFile);
    }
}

// A FREETDSCONF that names a pipe is refused at once, naming it, instead of
// waiting for a writer that never comes.
TEST(FreeTdsConf, APipeIsRefusedWithoutWaiting) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("freetds.conf"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const auto user = connection::replaceUserFreeTdsConfForTests(fifo);
    auto lookup = std::async(std::launch::async, [] {
        try {
            connection::freeTdsSection(QStringLiteral("srv"));
        } catch (const rt::RuntimeError& e) {
            return e.description();
        }
        return QString();
    });
    if (lookup.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Lets the stuck reader finish before failing.
        ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY));
        lookup.wait();
        ADD_FAILURE() << "waited for the pipe";
    } else {
        EXPECT_TRUE(lookup.get().contains(u'\'' + fifo + u'\''));
    }
    connection::replaceUserFreeTdsConfForTests(user);
}

// The driver's own failures get a Spanish line before the driver's text; a
// message of the server passes as it came.
TEST(DriverMessages, DriverFailuresAreDescribedInSpanishServerMessagesAreNot) {
    struct Case {
        std::vector<odbc::DiagRecord> records;
        QString instance;
        QString description;
    };
    const QString refused = QStringLiteral("[FreeTDS][SQL Server]Unable to connect");
    const std::vector<Case> cases = {
        {{{"08S01", 20009, refused}},
         {},
         "No se puede conectar con el servidor: no está disponible, no existe o rechaza la "
         "conexión."},
        {{{"08S01", 20009, refused}},
         "SQLEXPRESS",
         "No se puede conectar con la instancia 'SQLEXPRESS': el servicio SQL Server Browser del "
         "equipo no la conoce o no responde, o la instancia no está disponible."},
        {{{"08001", 0, "B"}, {"01000", 20013, "Unknown host machine name."}},
         {},
         "No se encuentra el equipo servidor: su nombre no corresponde a ninguna dirección."},
        {{{"HYT00", 0, "Timeout expired"}},
         {},
         "El servidor no ha respondido en el tiempo de espera."},
        {{{"08S01", 20017, "Unexpected EOF from the server"}},
         {},
         "Se ha perdido la conexión con el servidor."},
        {{{"08S01", 20002, "Adaptive Server connection failed"}},
         {},
         "No se ha podido establecer la conexión con el servidor: el inicio de la sesión o su "
         "cifrado (TLS) han fallado."},
        {{{"IM002", 0, "Data source name not found"}},
         {},
         "El controlador de SQL Server (FreeTDS) ha informado de un error."},
        {{{"42000", 18456, "Login failed for user 'sa'."}, {"08S01", 20002, "failed"}}, {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(connection::driverFailureDescription(c.records, c.instance), c.description);
    }
}

// Only a handshake that failed without a more telling record is worth
// asking the server about.
TEST(DriverMessages, OnlyABareHandshakeFailureIsProbed) {
    const odbc::DiagRecord handshake{"08001", 20002, "Adaptive Server connection failed"};
    const odbc::DiagRecord summary{"08001", 0, "Unable to connect to data source"};
    const struct {
        std::vector<odbc::DiagRecord> records;
        bool probed;
    } cases[] = {
        {{handshake}, true},
        {{summary, handshake}, true},
        {{{"08S01", 20017, "Unexpected EOF from the server"}, handshake}, false},
        {{{"08S01", 20020, "Bad token from the server"}}, false},
        {{{"HYT00", 0, "Timeout expired"}, handshake}, false},
        {{{"08S01", 20003, "Adaptive Server connection timed out"}, handshake}, false},
        {{{"08001", 20013, "Unknown host machine name."}}, false},
        {{{"08001", 20009, "Unable to connect: Adaptive Server is unavailable"}}, false},
        {{summary}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(connection::onlyTheHandshakeFailed(c.records), c.probed)
            << c.records[0].text.toStdString();
    }
}

// A failure of a statement reads the description, then the driver's text;
// one whose cause is told already keeps it alone.
TEST(DriverMessages, StatementFailuresAreExplainedOnce) {
    const std::vector<odbc::DiagRecord> lost = {{"08S01", 20017, "Unexpected EOF"}};
    const odbc::Error once = connection::explained(odbc::Error(lost));
    EXPECT_EQ(once.description(),
              QStringLiteral("Se ha perdido la conexión con el servidor.\nUnexpected EOF"));
    EXPECT_EQ(connection::explained(once).description(), once.description());
    const odbc::Error server({{"42000", 3702, "in use"}});
    EXPECT_EQ(connection::explained(server).description(), QStringLiteral("in use"));
}

// A call without a bound of its own is waited for until the deadline only.
TEST(Bounded, AStalledCallIsGivenUpAtTheDeadline) {
    const struct {
        int workMs;
        bool finishes;
    } cases[] = {{0, true}, {3000, false}};
    for (const auto& c : cases) {
        QElapsedTimer waited;
        waited.start();
        const auto result = connection::finishedBy(
            [ms = c.workMs] {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                return ms;
            },
            QDeadlineTimer(300));
        EXPECT_EQ(result.has_value(), c.finishes) << c.workMs;
        EXPECT_LT(waited.elapsed(), 1000) << c.workMs;
    }
}

TEST(Connect, UnreachableServerIsExplainedWithoutThePassword) {
    try {
        connection::connect({testing_support::unreachableServer(),
                             QStringLiteral("sa"),
                             QStringLiteral("secret-pw"),
                             {},
                             QStringLiteral("7.3")});
        FAIL() << "connected to a closed port";
    } catch (const odbc::Error& e) {
        EXPECT_EQ(e.description(),
                  QStringLiteral("No se puede conectar con el servidor: no está disponible, no "
                                 "existe o rechaza la conexión."));
        EXPECT_FALSE(e.description().contains(QStringLiteral("secret-pw")));
        EXPECT_FALSE(e.serverMessageNumber());
    }
}

// A name server that never answers: the connection gives up at the login's
// time-out and says so.
TEST(Connect, AStalledNameLookupIsGivenUpAtTheLoginTimeOut) {
    const testing_support::ShortTimeouts shortened;
    const connection::HostLookup system = connection::replaceHostLookupForTests([](const QString&) {
        std::this_thread::sleep_for(std::chrono::seconds(30));
        return QList<QHostAddress>();
    });
    QElapsedTimer waited;
    waited.start();
    try {
        connection::connect({QStringLiteral("sql01.empresa.local"),
                             QStringLiteral("sa"),
                             QStringLiteral("pw"),
                             {},
                             QStringLiteral("7.3")});
        ADD_FAILURE() << "connected";
    } catch (const odbc::Error& e) {
        EXPECT_EQ(e.description(),
                  QStringLiteral("El servicio de nombres no ha respondido en el tiempo de espera "
                                 "al buscar el equipo servidor."));
    }
    EXPECT_LT(waited.elapsed(), 5000) << "the lookup was waited for past the login's time-out";
    connection::replaceHostLookupForTests(system);
}

// A host whose SQL Server Browser takes the question and never answers: the
// connection gives up within the Browser's bound of 5 s, and says which
// instance it could not find.
TEST(Connect, ASilentBrowserIsGivenUpWithinItsBound) {
    QUdpSocket browser;
    ASSERT_TRUE(browser.bind(QHostAddress(QStringLiteral("127.0.0.93")), 1434));
    QElapsedTimer waited;
    waited.start();
    try {
        connection::connect({QStringLiteral("127.0.0.93\\SILENCIO"),
                             QStringLiteral("sa"),
                             QStringLiteral("pw"),
                             {},
                             QStringLiteral("7.3")});
        FAIL() << "connected";
    } catch (const odbc::Error& e) {
        EXPECT_TRUE(e.description().startsWith(
            QStringLiteral("No se puede conectar con la instancia 'SILENCIO'")))
            << e.description().toStdString();
    }
    EXPECT_LT(waited.elapsed(), 7000) << "the Browser was waited for past its bound";
    EXPECT_TRUE(browser.hasPendingDatagrams()) << "the Browser was not asked";
}

} // namespace

namespace {

using connection::Interception;
using connection::PreloginGuard;

// A PRELOGIN-framed packet of `type` whose option table holds one entry of
// each value in `encryption`, in order.
QByteArray preloginWith(char type, std::initializer_list<int> encryption) {
    QByteArray table;
    QByteArray values;
    const int tableSize = static_cast<int>(encryption.size()) * 5 + 1;
    for (const int value : encryption) {
        const int offset = tableSize + static_cast<int>(values.size());
        table += QByteArray("\x01", 1) + char(offset >> 8) + char(offset & 0xFF) +
                 QByteArray("\x00\x01", 2);
        values += char(value);
    }
    const QByteArray payload = table + '\xFF' + values;
    const int length = 8 + static_cast<int>(payload.size());
    return QByteArray(1, type) + '\x01' + char(length >> 8) + char(length & 0xFF) +
           QByteArray(4, '\0') + payload;
}

// The server's answer is read as FreeTDS reads it: the last entry counts,
// none means "not supported", a table that runs past its packet is none.
TEST(PreloginAnswer, IsReadAsTheDriverReadsIt) {
    const struct {
        QByteArray packet;
        std::optional<std::uint8_t> answer;
    } cases[] = {{preloginWith(0x04, {1}), 1},
                 {preloginWith(0x04, {1, 0}), 0},
                 {preloginWith(0x04, {}), 2},
                 {preloginWith(0x04, {0}).left(12) + QByteArray("\x00\x00", 2), std::nullopt},
                 {preloginWith(0x12, {1}), std::nullopt}};
    for (const auto& c : cases) {
        const auto bytes = reinterpret_cast<const std::uint8_t*>(c.packet.constData());
        EXPECT_EQ(connection::replyEncryption(bytes, static_cast<std::size_t>(c.packet.size())),
                  c.answer)
            << c.packet.toHex().toStdString();
    }
}

// The guard ends a TDS 7.x connection before the answer reaches the driver
// when it is weaker than the request, and before a login or an answer
// crosses in clear; what it lets through passes byte for byte.
TEST(PreloginGuard, StopsAWeakenedExchangeAndPassesTheRest) {
    const QByteArray request = preloginWith(0x12, {1});
    const QByteArray clearLogin = preloginWith(0x10, {});
    const QByteArray clearAnswer = preloginWith(0x04, {});
    const QByteArray tlsRecord("\x17\x03\x03\x00\x01\x00", 6);
    const struct {
        const char* name;
        QByteArray answer;
        QByteArray driverThen;
        QByteArray serverThen;
        std::optional<Interception> stop;
    } cases[] = {
        {"login only", preloginWith(0x04, {0}), {}, {}, Interception::WeakerAnswer},
        {"no encryption", preloginWith(0x04, {2}), {}, {}, Interception::NoEncryption},
        {"a later entry weakens", preloginWith(0x04, {1, 0}), {}, {}, Interception::WeakerAnswer},
        {"login in clear", preloginWith(0x04, {1}), clearLogin, {}, Interception::ClearLogin},
        {"answer in clear", preloginWith(0x04, {1}), tlsRecord, clearAnswer,
         Interception::ClearAfterLogin},
        {"encrypted", preloginWith(0x04, {1}), tlsRecord, tlsRecord, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PreloginGuard guard(false, {});
        // The request arrives in two pieces: nothing goes on before it is whole.
        EXPECT_EQ(guard.fromDriver(request.left(5)).forward, QByteArray());
        EXPECT_EQ(guard.fromDriver(request.mid(5)).forward, request);
        std::optional<Interception> stop;
        for (const auto& [fromDriver, bytes] :
             {std::pair(false, c.answer), std::pair(true, c.driverThen),
              std::pair(false, c.serverThen)}) {
            if (stop || bytes.isEmpty()) {
                continue;
            }
            const PreloginGuard::Step step =
                fromDriver ? guard.fromDriver(bytes) : guard.fromServer(bytes);
            stop = step.stop;
            EXPECT_EQ(step.forward, stop ? QByteArray() : bytes);
        }
        EXPECT_EQ(stop, c.stop);
    }
    // TDS 8.0 has nothing in clear to read.
    PreloginGuard strict(true, {});
    EXPECT_EQ(strict.fromServer(preloginWith(0x04, {0})).stop, std::nullopt);
}

// The pieces of a TLS handshake as a server sends it inside PRELOGIN
// packets: handshake messages, records, and the packets around them.
QByteArray lengthOf(qsizetype size, int width) {
    QByteArray bytes;
    for (int i = width - 1; i >= 0; --i) {
        bytes += char((size >> (8 * i)) & 0xFF);
    }
    return bytes;
}
QByteArray handshakeMessage(char type, const QByteArray& body) {
    return type + lengthOf(body.size(), 3) + body;
}
QByteArray record(const QByteArray& messages) {
    return QByteArray("\x16\x03\x03", 3) + lengthOf(messages.size(), 2) + messages;
}
QByteArray preloginPacket(const QByteArray& payload) {
    return QByteArray("\x12\x01", 2) + lengthOf(8 + payload.size(), 2) + QByteArray(4, '\0') +
           payload;
}
// A ServerHello; with `tls13`, its supported_versions extension says so.
QByteArray serverHello(bool tls13) {
    const QByteArray extensions = tls13 ? QByteArray("\x00\x2b\x00\x02\x03\x04", 6) : QByteArray();
    return handshakeMessage(2, QByteArray("\x03\x03", 2) + QByteArray(32, '\x11') +
                                   QByteArray("\x00\x13\x01\x00", 4) +
                                   lengthOf(extensions.size(), 2) + extensions);
}
QByteArray certificateMessage(const QList<QByteArray>& chain) {
    QByteArray list;
    for (const QByteArray& der : chain) {
        list += lengthOf(der.size(), 3) + der;
    }
    return handshakeMessage(11, lengthOf(list.size(), 3) + list);
}

// Where the guard checks the certificate's name for the driver (FreeTDS
// 1.3), it reads the TLS 1.2 handshake inside the PRELOGIN packets, in
// whatever pieces it comes: a certificate that names the host passes, and
// the guard keeps the chain; one for another host, a TLS 1.3 handshake that
// hides it, and a handshake too long to read stop the connection before
// the driver gets a byte of the packet that told.
TEST(PreloginGuard, ReadsTheTlsHandshakeForTheCertificatesName) {
    const QByteArray ours("cert-for-sql01");
    const QByteArray authority("our-ca");
    const QByteArray flight = record(serverHello(false) + certificateMessage({ours, authority}));
    QList<QByteArray> tooLong{preloginPacket(record(serverHello(false)))};
    const QByteArray hugeMessage = handshakeMessage(11, QByteArray(300 * 1024, 'x'));
    for (qsizetype at = 0; at < hugeMessage.size(); at += 16000) {
        tooLong << preloginPacket(record(hugeMessage.mid(at, 16000)));
    }
    const struct {
        const char* name;
        QList<QByteArray> packets;
        std::optional<Interception> stop;
        QList<QByteArray> certificates;
        bool tls13;
    } cases[] = {
        {"names the host", {preloginPacket(flight)}, std::nullopt, {ours, authority}, false},
        {"another host",
         {preloginPacket(record(serverHello(false) + certificateMessage({"cert-for-other"})))},
         Interception::NameMismatch,
         {"cert-for-other"},
         false},
        {"TLS 1.3",
         {preloginPacket(record(serverHello(true)))},
         Interception::NameUncheckable,
         {},
         true},
        {"split over two packets",
         {preloginPacket(flight.left(50)), preloginPacket(flight.mid(50))},
         std::nullopt,
         {ours, authority},
         false},
        {"over the size bound", tooLong, Interception::NameUncheckable, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PreloginGuard guard(false, [&](const QByteArray& der) { return der == ours; });
        guard.fromDriver(preloginWith(0x12, {1}));
        ASSERT_FALSE(guard.fromServer(preloginWith(0x04, {1})).stop);
        std::optional<Interception> stop;
        for (const QByteArray& packet : c.packets) {
            const PreloginGuard::Step step = guard.fromServer(packet);
            EXPECT_EQ(step.forward, step.stop ? QByteArray() : packet);
            stop = step.stop;
            if (stop) {
                break;
            }
        }
        EXPECT_EQ(stop, c.stop);
        EXPECT_EQ(guard.seen().certificates, c.certificates);
        EXPECT_EQ(guard.seen().tls13, c.tls13);
        EXPECT_EQ(guard.seen().answer, std::optional<std::uint8_t>(1));
    }
}

} // namespace

namespace {

// A TCP connection to the relay's endpoint; -1 when nothing listens.
int connectToRelay(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The relay takes one connection, and only from this process: another
// program that reaches it first ends that one connection, and nothing is
// passed on to the server.
TEST(DriverRelay, TakesOneConnectionFromThisProcessOnly) {
    for (const bool foreign : {false, true}) {
        SCOPED_TRACE(foreign ? "another program first" : "this process");
        int server[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, server), 0);
        connection::DriverRelay relay(server[0], PreloginGuard(true, {}),
                                      QDeadlineTimer(std::chrono::seconds(10)));
        int driver = -1;
        if (foreign) {
            const pid_t child = fork();
            if (child == 0) {
                const int fd = connectToRelay(relay.port());
                char byte = 0;
                _exit(fd >= 0 && ::read(fd, &byte, 1) == 0 ? 0 : 1); // closed on it
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_EQ(relay.interception(), Interception::ForeignPeer);
            EXPECT_EQ(connectToRelay(relay.port()), -1) << "a second connection was taken";
        } else {
            driver = connectToRelay(relay.port());
            ASSERT_GE(driver, 0);
            ASSERT_EQ(::write(driver, "PRELOGIN", 8), 8);
            char received[8] = {};
            ASSERT_EQ(::read(server[1], received, sizeof received), 8);
            EXPECT_EQ(QByteArray(received, 8), QByteArray("PRELOGIN"));
            EXPECT_FALSE(relay.interception());
            EXPECT_FALSE(relay.driverLeft());
            ::close(driver);
        }
        ::close(server[1]);
    }
}

} // namespace
