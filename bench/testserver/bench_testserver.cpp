// The test server holding the largest catalog SQL Server allows (32767
// databases: the four system ones and 32763 user ones).
//   BM_ListingThroughTsql: tsql lists every name; wall time per listing,
//     with counters for the server's own time from the request's arrival
//     to the last byte handed to the socket, and the server's peak RSS.
//   BM_ListingTokens: the same listing answered in process (recogniser,
//     executor and token writer, no sockets).
#include "engine/Executor.h"
#include "protocol/TdsVersion.h"
#include "sql/Statements.h"
#include "state/ServerState.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kUserDatabases = 32767 - 4;
const QString kListing = QStringLiteral("SELECT name FROM master.dbo.sysdatabases ORDER BY name");

state::ServerState fullCatalog() {
    state::ServerState s;
    s.version = QStringLiteral("10.50.6000.34");
    state::Login sa;
    sa.name = QStringLiteral("sa");
    sa.password = QStringLiteral("Secreto.1");
    sa.sysadmin = true;
    s.logins.append(sa);
    for (int i = 0; i < kUserDatabases; ++i) {
        // Names of a realistic length, with a non-ASCII letter.
        state::Database d;
        d.name = QStringLiteral("Contabilidad_Año_%1").arg(i, 5, 10, QLatin1Char('0'));
        s.databases.append(d);
    }
    return s;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "bench_testserver: %s\n", what);
    std::exit(1);
}

qint64 peakRssKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

void BM_ListingThroughTsql(benchmark::State& st) {
    QTemporaryDir dir;
    const QString statePath = dir.filePath(QStringLiteral("state.json"));
    QString error;
    if (!state::saveState(statePath, fullCatalog(), error)) {
        fail("cannot write the state file");
    }
    QProcess server;
    server.start(QStringLiteral(TARVELO_TESTSERVER_PATH),
                 {"--state", statePath, "--port", "0", "--timing"});
    if (!server.waitForReadyRead(10000)) {
        fail("the server did not start");
    }
    const QByteArray first = server.readLine().trimmed();
    const QString port = QString::fromLatin1(first.mid(first.lastIndexOf(':') + 1));

    const QByteArray input = (kListing + QStringLiteral("\ngo\nexit\n")).toUtf8();
    static const QRegularExpression timing(
        QStringLiteral("packet_type=1 bytes=(\\d+) elapsed_us=(\\d+)"));
    double serverUs = 0;
    qint64 responseBytes = 0;
    qint64 listings = 0;
    for (auto _ : st) {
        QProcess tsql;
        tsql.start(QStringLiteral("tsql"),
                   {"-H", "127.0.0.1", "-p", port, "-U", "sa", "-P", "Secreto.1", "-o", "q"});
        tsql.write(input);
        tsql.closeWriteChannel();
        if (!tsql.waitForFinished(60000)) {
            fail("tsql did not finish");
        }
        const int rows = tsql.readAllStandardOutput().count('\n') - 1;
        if (rows != kUserDatabases + 4) {
            fail("tsql did not list every database");
        }
        // The server reports each request once its last byte has gone out.
        server.waitForReadyRead(200);
        const QString report = QString::fromLatin1(server.readAllStandardError());
        auto it = timing.globalMatch(report);
        while (it.hasNext()) {
            const auto m = it.next();
            if (m.captured(1).toLongLong() > 100000) { // the listing, not the drivers' SETs
                serverUs += m.captured(2).toDouble();
                responseBytes = m.captured(1).toLongLong();
                ++listings;
            }
        }
    }
    st.counters["server_ms"] = listings ? serverUs / listings / 1000.0 : -1;
    st.counters["response_KiB"] = static_cast<double>(responseBytes) / 1024.0;
    st.counters["peak_rss_MiB"] = static_cast<double>(peakRssKiB(server.processId())) / 1024.0;
    server.terminate();
    server.waitForFinished(5000);
}
BENCHMARK(BM_ListingThroughTsql)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ListingTokens(benchmark::State& st) {
    QTemporaryDir dir;
    engine::Catalog catalog(fullCatalog(), dir.filePath(QStringLiteral("state.json")));
    engine::SessionState session;
    session.sysadmin = true;
    const auto notInUse = [](const engine::DatabaseEntry&) { return false; };
    std::size_t bytes = 0;
    for (auto _ : st) {
        const auto batch = std::make_shared<const sql::Batch>(sql::parseBatch(kListing));
        tds::TokenWriter w(tds::version::V7_3B);
        engine::runBatch(batch, session, catalog, notInUse, w);
        bytes = w.size();
        benchmark::DoNotOptimize(w.bytes().data());
    }
    st.counters["tokens_KiB"] = static_cast<double>(bytes) / 1024.0;
}
BENCHMARK(BM_ListingTokens)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
