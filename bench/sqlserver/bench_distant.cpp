// A distant server: a relay on loopback holds every byte 25 ms in each
// direction (a 50 ms round trip, as over a VPN), the test server behind
// it.  Through it, beside one tsql session doing the same work in the same
// run:
// - the list (CargaBBDD) beside tsql listing the names;
// - the whole removal (the facts read before the confirmation, the
//   confirmation answered at once, the drop: BorraDBSQL) beside one tsql
//   session that logs in with encryption required and sends the DROP.
// - the removal with a final backup that the server takes 3 s to write,
//   beside the removal without: what the backup path adds on the
//   removal's own session, and what the progress reading costs on its
//   second connection, counted from the server's log and printed at the end.
// The figures to read are the ratios printed at the end, and the round
// trips counted by the relay (each time the client speaks after the server
// did).  BENCH_DELAY_MS sets the one-way delay; BENCH_ENCRYPTION=strict
// offers TDS 8.0 beside 7.x and makes tsql ask for it (FreeTDS 1.5 or later).
#include "ServerStates.h"
#include "TestList.h"
#include "TestServer.h"
#include "platform/connection/CertificateProbe.h"
#include "platform/connection/Connect.h"
#include "platform/connection/PrivateConf.h"
#include "platform/ui/OffUiThread.h"
#include "platform/ui/Services.h"
#include "sqlserver/Removal.h"
#include "sqlserver/Varios.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

const QString kFinalBackupMessage =
    QStringLiteral("Antes de eliminarla se ha hecho una copia de seguridad final");

class SilentUi final : public ui::Services {
public:
    // Only the message that names a final backup after its drop is expected.
    int showMessage(const QString& text, int style) override {
        if (style == ui::style::Information && text.startsWith(kFinalBackupMessage)) {
            return ui::answer::Ok;
        }
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(text));
        std::abort();
    }
    int showMessage(const QString& text, int style, const QString&, bool&) override {
        return showMessage(text, style);
    }
    // The progress window shows nothing here.
    std::unique_ptr<ui::Progress> openProgress(const QString&, std::function<void()>) override {
        return nullptr;
    }
    void setMousePointer(int value) override { pointer_ = value; }
    int mousePointer() const override { return pointer_; }
    void processPendingEvents() override {}

private:
    int pointer_ = 0;
};

std::chrono::milliseconds oneWayDelay() {
    const int ms = qEnvironmentVariableIntValue("BENCH_DELAY_MS");
    return std::chrono::milliseconds(ms > 0 ? ms : 25);
}

bool strict() { return qEnvironmentVariable("BENCH_ENCRYPTION") == QLatin1String("strict"); }

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<quint16>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Holds every byte `delay` before it goes on, in both directions, keeping
// their order: each direction has a reader that stamps what arrives and a
// writer that lets it go when its time comes.
class DelayRelay {
public:
    DelayRelay(int serverPort, std::chrono::milliseconds delay)
        : serverPort_(serverPort), delay_(delay) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in here{};
        here.sin_family = AF_INET;
        here.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof here;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&here), sizeof here) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&here), &size) != 0) {
            std::perror("relay");
            std::abort();
        }
        port_ = ntohs(here.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~DelayRelay() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        acceptor_.join();
        for (std::thread& t : threads_) {
            t.join();
        }
    }

    int port() const { return port_; }
    // Each time a client spoke after the server did, or first.
    long roundTrips() const { return roundTrips_; }

private:
    struct Chunk {
        Clock::time_point due;
        QByteArray bytes; // empty: the sender closed
    };
    struct Queue {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<Chunk> chunks;
    };
    struct Pair {
        int client;
        int server;
        std::atomic<bool> serverSpokeLast{true};
    };

    void acceptLoop() {
        for (;;) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                return;
            }
            const int one = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            auto pair = std::make_shared<Pair>();
            pair->client = client;
            pair->server = connectTo(serverPort_);
            const std::lock_guard lock(mutex_);
            for (const bool fromClient : {true, false}) {
                auto queue = std::make_shared<Queue>();
                threads_.emplace_back(
                    [this, pair, queue, fromClient] { read(*pair, *queue, fromClient); });
                threads_.emplace_back(
                    [this, pair, queue, fromClient] { write(*pair, *queue, fromClient); });
            }
        }
    }

    void read(Pair& pair, Queue& queue, bool fromClient) {
        char buffer[65536];
        for (;;) {
            const ssize_t n =
                ::recv(fromClient ? pair.client : pair.server, buffer, sizeof buffer, 0);
            if (n > 0 && fromClient && pair.serverSpokeLast.exchange(false)) {
                ++roundTrips_;
            }
            if (n > 0 && !fromClient) {
                pair.serverSpokeLast = true;
            }
            const std::lock_guard lock(queue.mutex);
            queue.chunks.push_back(
                {Clock::now() + delay_, n > 0 ? QByteArray(buffer, n) : QByteArray()});
            queue.ready.notify_one();
            if (n <= 0) {
                return;
            }
        }
    }

    void write(Pair& pair, Queue& queue, bool fromClient) {
        const int to = fromClient ? pair.server : pair.client;
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock lock(queue.mutex);
                queue.ready.wait(lock, [&] { return !queue.chunks.empty(); });
                chunk = std::move(queue.chunks.front());
                queue.chunks.pop_front();
            }
            std::this_thread::sleep_until(chunk.due);
            if (chunk.bytes.isEmpty()) {
                ::shutdown(to, SHUT_WR);
                return;
            }
            for (qsizetype at = 0; at < chunk.bytes.size();) {
                const ssize_t n =
                    ::send(to, chunk.bytes.constData() + at,
                           static_cast<size_t>(chunk.bytes.size() - at), MSG_NOSIGNAL);
                if (n <= 0) {
                    return;
                }
                at += n;
            }
        }
    }

    int serverPort_;
    std::chrono::milliseconds delay_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<long> roundTrips_{0};
    std::mutex mutex_;
    std::thread acceptor_;
    std::vector<std::thread> threads_;
};

constexpr int kListed = 1000;
constexpr int kRemovals = 20;
constexpr int kFinalBackups = 5;
constexpr int kBackupTakesMs = 3000;

QStringList numberedNames(const QString& prefix, int count) {
    QStringList names;
    for (int i = 0; i < count; ++i) {
        names << prefix + QString::number(i).rightJustified(5, u'0');
    }
    return names;
}

struct Distant {
    std::unique_ptr<TestServer> server;
    std::unique_ptr<DelayRelay> relay;
    QString name() const { return QStringLiteral("127.0.0.1,%1").arg(relay->port()); }
};

std::unique_ptr<Distant> gDistant;

Distant& distant() {
    if (!gDistant) {
        QJsonObject state = withDatabases(TestServer::defaultState(),
                                          numberedNames(QStringLiteral("ours"), kRemovals) +
                                              numberedNames(QStringLiteral("tsql"), kRemovals) +
                                              numberedNames(QStringLiteral("db"), kListed));
        QJsonArray databases = state["databases"].toArray();
        for (const QString& name : numberedNames(QStringLiteral("final"), kFinalBackups)) {
            databases.append(QJsonObject{{"name", name}, {"backupTakes", kBackupTakesMs}});
        }
        state["databases"] = databases;
        if (strict()) {
            state.insert("encryption", "strict-capable");
        }
        gDistant = std::make_unique<Distant>();
        gDistant->server = std::make_unique<TestServer>(state);
        gDistant->server->useOwnBackupFolder();
        gDistant->relay = std::make_unique<DelayRelay>(gDistant->server->port(), oneWayDelay());
    }
    return *gDistant;
}

// A freetds.conf that makes tsql require encryption, as the tool does; under
// strict encryption trusting exactly the server's own certificate, as the
// tool does once the user said Yes.
QString encryptingConf(const TestServer& server) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("freetds.conf"));
    if (QFile::exists(path)) {
        return path;
    }
    QByteArray text = "[global]\n\tencryption = require\n";
    if (strict()) {
        const connection::Route route{
            QStringLiteral("127.0.0.1"), server.port(), {QHostAddress(QHostAddress::LocalHost)}};
        const auto chain = connection::presentedCertificates(route, connection::Framing::Strict,
                                                             QDeadlineTimer(5000));
        if (!chain) {
            std::fprintf(stderr, "the server showed no certificate\n");
            std::abort();
        }
        const QString pem = connection::pinnedCertificateFile(chain->front());
        text = "[global]\n\tencryption = strict\n\tcheck certificate hostname = no\n\tca file = " +
               QFile::encodeName(pem) + "\n";
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        std::abort();
    }
    return path;
}

// One tsql session through the relay: logs in, sends the batches, logs out.
// The password goes through stdin, where tsql asks for it.
QByteArray tsql(const QStringList& batches) {
    Distant& d = distant();
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FREETDSCONF"), encryptingConf(*d.server));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("tsql"),
                  {QStringLiteral("-H"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                   QString::number(d.relay->port()), QStringLiteral("-U"), kSa});
    QByteArray input = kSaPassword.toUtf8() + '\n';
    for (const QString& batch : batches) {
        input += batch.toUtf8() + "\ngo\n";
    }
    input += "exit\n";
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    return process.readAllStandardOutput();
}

void countRoundTrips(benchmark::State& state, long before) {
    state.counters["round_trips"] =
        benchmark::Counter(static_cast<double>(distant().relay->roundTrips() - before),
                           benchmark::Counter::kAvgIterations);
}

void Distant_CargaBBDD(benchmark::State& state) {
    Distant& d = distant();
    TestList list;
    const long before = d.relay->roundTrips();
    for (auto _ : state) {
        CargaBBDD(list, d.name(), kSa, kSaPassword);
    }
    countRoundTrips(state, before);
    if (list.ListCount() < kListed) {
        state.SkipWithError("the list is short");
    }
}

void Distant_TsqlList(benchmark::State& state) {
    const long before = distant().relay->roundTrips();
    for (auto _ : state) {
        tsql({QStringLiteral("SELECT name FROM master.dbo.sysdatabases ORDER BY name")});
    }
    countRoundTrips(state, before);
}

void Distant_Removal(benchmark::State& state) {
    Distant& d = distant();
    int next = 0;
    const long before = d.relay->roundTrips();
    for (auto _ : state) {
        const QString name =
            QStringLiteral("ours") + QString::number(next++).rightJustified(5, u'0');
        if (!BorraDBSQL(d.name(), name, kSa, kSaPassword)) {
            state.SkipWithError("a removal failed");
            break;
        }
    }
    countRoundTrips(state, before);
}

void Distant_TsqlDrop(benchmark::State& state) {
    int next = 0;
    const long before = distant().relay->roundTrips();
    for (auto _ : state) {
        tsql({QStringLiteral("DROP DATABASE [tsql%1]")
                  .arg(QString::number(next++).rightJustified(5, u'0'))});
    }
    countRoundTrips(state, before);
}

// The removal with its final backup, made off the main thread as the
// window makes it, since its progress is shown from a thread of its own.
void Distant_RemovalWithFinalBackup(benchmark::State& state) {
    Distant& d = distant();
    int next = 0;
    const long before = d.relay->roundTrips();
    for (auto _ : state) {
        const QString name =
            QStringLiteral("final") + QString::number(next++).rightJustified(5, u'0');
        bool dropped = false;
        ui::OffUiThreadCall call([&] {
            Removal removal(d.name(), name, kSa, kSaPassword);
            dropped = removal.prepare() == Removal::Outcome::Ready &&
                      removal.backupOffer().possible && removal.drop({}, true);
        });
        call.wait();
        if (!dropped) {
            state.SkipWithError("a removal with a final backup failed");
            break;
        }
    }
    countRoundTrips(state, before);
}

BENCHMARK(Distant_CargaBBDD)->Unit(benchmark::kMillisecond)->Iterations(kRemovals);
BENCHMARK(Distant_TsqlList)->Unit(benchmark::kMillisecond)->Iterations(kRemovals);
BENCHMARK(Distant_Removal)->Unit(benchmark::kMillisecond)->Iterations(kRemovals);
BENCHMARK(Distant_TsqlDrop)->Unit(benchmark::kMillisecond)->Iterations(kRemovals);
BENCHMARK(Distant_RemovalWithFinalBackup)->Unit(benchmark::kMillisecond)->Iterations(kFinalBackups);

// The requests of each session that sent a statement containing `marker`,
// from the server's log.
QList<QList<QJsonObject>> sessionsThatSent(const QString& marker) {
    QHash<int, QList<QJsonObject>> bySession;
    QList<int> order;
    for (const QJsonObject& line : distant().server->logLines()) {
        const QString kind = line["request"].toString();
        if (kind != u"batch" && kind != u"rpc") {
            continue;
        }
        const int session = line["session"].toInt();
        if (!bySession.contains(session)) {
            order << session;
        }
        bySession[session] << line;
    }
    QList<QList<QJsonObject>> found;
    for (const int session : order) {
        const QList<QJsonObject>& lines = bySession[session];
        if (std::any_of(lines.begin(), lines.end(), [&](const QJsonObject& l) {
                return l["statement"].toString().contains(marker);
            })) {
            found << lines;
        }
    }
    return found;
}

// What the final backup adds to a removal's own session, and what reading
// its progress costs, as the server's log shows them.
void printBackupCosts() {
    const auto perRemoval = [](const QList<QList<QJsonObject>>& sessions) {
        qsizetype requests = 0;
        for (const auto& lines : sessions) {
            requests += lines.size();
        }
        return sessions.isEmpty() ? 0.0 : double(requests) / double(sessions.size());
    };
    const double plain = perRemoval(sessionsThatSent(QStringLiteral("DROP DATABASE [ours")));
    const double backedUp = perRemoval(sessionsThatSent(QStringLiteral("BACKUP DATABASE")));
    const auto readers =
        sessionsThatSent(QStringLiteral("percent_complete FROM sys.dm_exec_requests"));
    std::printf("requests on the removal's session: %.1f without a final backup, %.1f with one "
                "(%.1f more, BACKUP, VERIFYONLY among them)\n",
                plain, backedUp, backedUp - plain);
    std::printf("progress: %.1f statements per removal on its own connection, for a backup of "
                "%d ms\n",
                perRemoval(readers), kBackupTakesMs);
}

// Prints the runs as the console does, then the ratio of each pair.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            times_.insert(QString::fromStdString(run.benchmark_name()), run.GetAdjustedRealTime());
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto ratio = [&](const char* ours, const char* theirs) {
            const double a = times_.value(QString::fromLatin1(ours));
            const double b = times_.value(QString::fromLatin1(theirs));
            std::printf("%-20s %8.1f ms / tsql %8.1f ms = %.2fx\n", ours, a, b, b > 0 ? a / b : 0);
        };
        std::printf("one-way delay %lld ms, %s\n", static_cast<long long>(oneWayDelay().count()),
                    strict() ? "strict encryption offered" : "TDS 7.x");
        ratio("Distant_CargaBBDD/iterations:20", "Distant_TsqlList/iterations:20");
        ratio("Distant_Removal/iterations:20", "Distant_TsqlDrop/iterations:20");
        printBackupCosts();
    }

private:
    QHash<QString, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    connection::usePrivateFreeTdsConf();
    QCoreApplication app(argc, argv);
    // The test server's certificate is asked about once and trusted, as a
    // user answers for a server with a certificate of its own.
    connection::setCertificateQuestion(
        [](const connection::UnverifiedCertificate&) { return true; });
    SilentUi silent;
    ui::install(&silent);
    // The certificate is trusted before the runs, as after a user's first Yes.
    TestList warmUp;
    CargaBBDD(warmUp, distant().name(), kSa, kSaPassword);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    gDistant.reset();
    ui::install(nullptr);
    connection::removePrivateFreeTdsConf();
    return 0;
}
