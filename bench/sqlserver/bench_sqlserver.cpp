// CargaBBDD of 32767 names, and BorraDBSQL end to end, each beside FreeTDS's
// tsql doing the same work against the same test server in the same run:
// the removal beside the three logins the procedures describe, and beside
// the one session the tool's steps share, with the same batches.
// The figure to read is the ratio of each pair of times.  Every session is
// encrypted, the tool's as always and tsql's by a freetds.conf of its own
// that requires it, so both pay for TLS.  With BENCH_ENCRYPTION=strict the
// servers offer TDS 8.0 beside 7.x and tsql's file asks for strict
// encryption (FreeTDS 1.5 or later), as the tool does with such a driver.
#include "ServerStates.h"
#include "TestList.h"
#include "TestServer.h"
#include "platform/connection/CertificateProbe.h"
#include "platform/connection/Connect.h"
#include "platform/connection/PrivateConf.h"
#include "platform/ui/Services.h"
#include "sqlserver/Varios.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace testing_support;

// The benchmarks must run quietly: any message box means a failed run.
class SilentUi final : public ui::Services {
public:
    int showMessage(const QString& text, int) override {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(text));
        std::abort();
    }
    int showMessage(const QString& text, int style, const QString&, bool&) override {
        return showMessage(text, style);
    }
    std::unique_ptr<ui::Progress> openProgress(const QString& text,
                                               std::function<void()>) override {
        showMessage(text, 0);
        return nullptr;
    }
    void setMousePointer(int value) override { pointer_ = value; }
    int mousePointer() const override { return pointer_; }
    void processPendingEvents() override {}

private:
    int pointer_ = 0;
};

constexpr int kListed = 32767;
constexpr int kRemovals = 60;

QStringList numberedNames(const QString& prefix, int count) {
    QStringList names;
    for (int i = 0; i < count; ++i) {
        names << prefix + QString::number(i).rightJustified(5, u'0');
    }
    return names;
}

bool strict() { return qEnvironmentVariable("BENCH_ENCRYPTION") == QLatin1String("strict"); }

QJsonObject serverState(const QStringList& databases) {
    QJsonObject state = withDatabases(TestServer::defaultState(), databases);
    if (strict()) {
        state.insert("encryption", "strict-capable");
    }
    return state;
}

// Started on first use and stopped before the application object goes.
std::unique_ptr<TestServer> gListing;
std::unique_ptr<TestServer> gRemoval;

// The 32767 names: the four system databases and the rest user ones.
TestServer& listingServer() {
    if (!gListing) {
        gListing = std::make_unique<TestServer>(
            serverState(numberedNames(QStringLiteral("db"), kListed - 4)));
    }
    return *gListing;
}

TestServer& removalServer() {
    if (!gRemoval) {
        gRemoval = std::make_unique<TestServer>(
            serverState(numberedNames(QStringLiteral("ours"), kRemovals) +
                        numberedNames(QStringLiteral("tsql"), 2 * kRemovals)));
    }
    return *gRemoval;
}

// A freetds.conf that makes tsql require encryption, as the tool does;
// under strict encryption trusting exactly the server's own certificate, as
// the tool does once the user said Yes.
QString encryptingConf(const TestServer& server) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("freetds-%1.conf").arg(server.port()));
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
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

// One tsql session: logs in, sends the batches, logs out.  The password goes
// through stdin, where tsql asks for it, never on its command line.
QByteArray tsql(const TestServer& server, const QStringList& batches) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FREETDSCONF"), encryptingConf(server));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("tsql"),
                  {QStringLiteral("-H"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                   QString::number(server.port()), QStringLiteral("-U"), kSa});
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

void CargaBBDD_32767(benchmark::State& state) {
    TestServer& server = listingServer();
    TestList list;
    for (auto _ : state) {
        CargaBBDD(list, server.serverName(), kSa, kSaPassword);
    }
    if (list.ListCount() != kListed) {
        state.SkipWithError("the list is short");
    }
}

void Tsql_32767(benchmark::State& state) {
    TestServer& server = listingServer();
    qsizetype lines = 0;
    for (auto _ : state) {
        const QByteArray out = tsql(
            server, {QStringLiteral("SELECT name FROM master.dbo.sysdatabases ORDER BY name")});
        lines = out.count('\n');
    }
    if (lines < kListed) {
        state.SkipWithError("tsql read fewer names");
    }
}

void BorraDBSQL_EndToEnd(benchmark::State& state) {
    TestServer& server = removalServer();
    int next = 0;
    for (auto _ : state) {
        const QString name =
            QStringLiteral("ours") + QString::number(next++).rightJustified(5, u'0');
        if (!BorraDBSQL(server.serverName(), name, kSa, kSaPassword)) {
            state.SkipWithError("a removal failed");
            break;
        }
    }
}

// What BorraDBSQL sends, on three logins of its own.
void Tsql_ThreeLogins(benchmark::State& state) {
    TestServer& server = removalServer();
    int next = 0;
    for (auto _ : state) {
        const QString name =
            QStringLiteral("tsql") + QString::number(next++).rightJustified(5, u'0');
        tsql(server, {QStringLiteral("SELECT SERVERPROPERTY('ProductVersion')")});
        tsql(server, {QStringLiteral("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"),
                      QStringLiteral("SELECT DB_NAME(dbid) AS DB_NAME FROM sysdatabases")});
        tsql(server, {QStringLiteral("SELECT name FROM master.dbo.sysdatabases ORDER BY name"),
                      QStringLiteral("DROP DATABASE [%1]").arg(name)});
    }
}

// The same batches as the tool's one shared session sends, on one login.
void Tsql_OneSession(benchmark::State& state) {
    TestServer& server = removalServer();
    int next = 0;
    for (auto _ : state) {
        const QString name =
            QStringLiteral("tsql") + QString::number(kRemovals + next++).rightJustified(5, u'0');
        tsql(server, {QStringLiteral("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED\nSELECT "
                                     "DB_NAME(dbid) AS DB_NAME FROM sysdatabases"),
                      QStringLiteral("SET TRANSACTION ISOLATION LEVEL READ COMMITTED\nSELECT name "
                                     "FROM master.dbo.sysdatabases ORDER BY name"),
                      QStringLiteral("DROP DATABASE [%1]").arg(name)});
    }
}

BENCHMARK(CargaBBDD_32767)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(Tsql_32767)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BorraDBSQL_EndToEnd)->Unit(benchmark::kMillisecond)->Iterations(kRemovals);
BENCHMARK(Tsql_ThreeLogins)->Unit(benchmark::kMillisecond)->Iterations(kRemovals);
BENCHMARK(Tsql_OneSession)->Unit(benchmark::kMillisecond)->Iterations(kRemovals);

} // namespace

int main(int argc, char** argv) {
    connection::usePrivateFreeTdsConf();
    QCoreApplication app(argc, argv);
    // Each test server's certificate is asked about once and trusted, as a
    // user answers for a server with a certificate of its own.
    int questions = 0;
    connection::setCertificateQuestion([&](const connection::UnverifiedCertificate&) {
        ++questions;
        return true;
    });
    SilentUi silent;
    ui::install(&silent);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gListing.reset();
    gRemoval.reset();
    ui::install(nullptr);
    connection::removePrivateFreeTdsConf();
    std::fprintf(stderr, "certificate questions: %d\n", questions);
    return 0;
}
