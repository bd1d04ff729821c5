// The final backup as the tool makes it, through FreeTDS's ODBC driver:
// the server facts it reads first, the BACKUP as an sp_executesql call with
// its progress read on a second connection, msdb's rows and VERIFYONLY
// after it, and a backup cancelled or whose link is lost.
#include "OdbcClient.h"
#include "QStringPrinter.h"
#include "TestServer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

using odbc_check::OdbcClient;
using odbc_check::Row;
using testing_support::TestServer;

namespace {

const QString kBackup = QStringLiteral(
    "BACKUP DATABASE ? TO DISK = ? WITH COPY_ONLY, CHECKSUM, NOINIT, NAME = ?, DESCRIPTION = ?, "
    "STATS = 10");

const QString kLookup = QStringLiteral(
    "SELECT TOP (1) bs.position, bs.backup_size, bs.has_backup_checksums, bs.is_copy_only, "
    "bs.is_damaged, bs.backup_finish_date, mf.physical_device_name FROM msdb.dbo.backupset AS bs "
    "JOIN msdb.dbo.backupmediafamily AS mf ON mf.media_set_id = bs.media_set_id WHERE "
    "bs.database_name = ? AND bs.name = ? AND bs.type = 'D' ORDER BY bs.backup_set_id DESC");

QJsonObject backupState(int backupTakesMs, const QJsonArray& faults = {}) {
    QJsonObject state = TestServer::defaultState();
    state["version"] = "15.0.2000.5";
    state["databases"] =
        QJsonArray{QJsonObject{{"name", "Ventas"}, {"backupTakes", backupTakesMs}}};
    if (!faults.isEmpty()) {
        state["faults"] = faults;
    }
    return state;
}

QList<long> natives(const OdbcClient& c) {
    QList<long> out;
    for (const auto& d : c.diagnostics()) {
        out << d.native;
    }
    return out;
}

int spidOf(OdbcClient& c) {
    std::vector<Row> rows;
    EXPECT_TRUE(c.query("SELECT @@SPID", rows)) << c.lastMessages();
    return rows.empty() ? 0 : rows[0][0].value_or(QString()).toInt();
}

QJsonArray setsIn(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return QJsonDocument::fromJson(f.readAll()).object().value("sets").toArray();
}

// Waits up to `ms` for `done`.
template <typename Check> bool waitFor(Check done, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (done()) {
            return true;
        }
        QThread::msleep(20);
    }
    return done();
}

} // namespace

// The facts the tool reads before it offers a final backup, in its TRY
// batch form: what the edition allows, where the server puts backups, RDS,
// the server's clock and the login's rights.
TEST(FinalBackup, TheServerFactsItReadsFirst) {
    const QString query = QStringLiteral(
        "BEGIN TRY EXEC sp_executesql N'SELECT SERVERPROPERTY(''EngineEdition'') AS "
        "engine_edition, SERVERPROPERTY(''EditionID'') AS edition_id, "
        "SERVERPROPERTY(''InstanceDefaultBackupPath'') AS default_backup_path, "
        "DB_ID(N''rdsadmin'') AS rdsadmin_id, SUSER_SNAME(0x01) AS first_login, GETDATE() AS "
        "server_now, HAS_PERMS_BY_NAME(NULL, NULL, ''VIEW SERVER STATE'') AS "
        "may_view_server_state, HAS_PERMS_BY_NAME(NULL, NULL, ''CREATE ANY DATABASE'') AS "
        "may_create_database, is_encrypted FROM sys.databases WHERE name = @db', N'@db "
        "nvarchar(128)', @db = N'Ventas' END TRY BEGIN CATCH SELECT ERROR_NUMBER() AS unread_0 "
        "END CATCH");
    struct Case {
        const char* edition;
        const char* version;
        const char* firstLogin; // the first sysadmin of the state
        const char* login;      // who asks
        QStringList expected;   // all but server_now
    };
    const Case cases[] = {
        {"Developer",
         "15.0.2000.5",
         "sa",
         "sa",
         {"3", "-2117995310", "/srv/copias/", "<NULL>", "sa", "1", "1", "1"}},
        {"Express",
         "14.0.1000.169",
         "sa",
         "lector",
         {"4", "-1592396055", "<NULL>", "<NULL>", "sa", "0", "0", "1"}},
        // Amazon RDS: its master login is rdsa, and rdsadmin is its database.
        {"Standard",
         "15.0.2000.5",
         "rdsa",
         "sa",
         {"2", "-1534726760", "/srv/copias/", "6", "rdsa", "1", "1", "1"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.edition);
        const bool rds = QLatin1String(k.firstLogin) == u"rdsa";
        QJsonObject state = TestServer::defaultState();
        state["version"] = k.version;
        state["edition"] = k.edition;
        state["backupFolder"] = "/srv/copias";
        QJsonArray logins{QJsonObject{{"name", "lector"}, {"password", "lector"}}};
        if (rds) {
            logins.append(QJsonObject{{"name", "rdsa"}, {"password", "x"}, {"sysadmin", true}});
        }
        logins.append(QJsonObject{{"name", "sa"}, {"password", "Secreto.1"}, {"sysadmin", true}});
        state["logins"] = logins;
        QJsonArray databases{QJsonObject{{"name", "Ventas"}, {"encrypted", true}}};
        if (rds) {
            databases.append(QJsonObject{{"name", "rdsadmin"}});
        }
        state["databases"] = databases;
        TestServer server(state);
        OdbcClient c;
        ASSERT_TRUE(c.connect(server.port(), k.login,
                              QLatin1String(k.login) == u"sa" ? QStringLiteral("Secreto.1")
                                                              : QStringLiteral("lector")))
            << c.lastMessages();
        std::vector<Row> rows;
        ASSERT_TRUE(c.query(query, rows)) << c.lastMessages();
        ASSERT_EQ(rows.size(), 1u);
        QStringList got;
        for (std::size_t i = 0; i < rows[0].size(); ++i) {
            if (i != 5) {
                got << rows[0][i].value_or(QStringLiteral("<NULL>"));
            }
        }
        EXPECT_EQ(got, k.expected);
        const QDateTime now = QDateTime::fromString(rows[0][5].value_or(QString()).left(19),
                                                    QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        EXPECT_LT(std::abs(now.secsTo(QDateTime::currentDateTime())), 60)
            << rows[0][5].value_or(QString()).toStdString();
    }
}

// The backup as the tool sends it: an sp_executesql call, no time-out; its
// progress read on a second connection while it runs, the database held
// meanwhile; then msdb's row, the set verified, and the file on disk.
TEST(FinalBackup, TheToolsBackupThroughTheDriver) {
    TestServer server(backupState(1500));
    const QString folder = server.useOwnBackupFolder();
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1", {}, "7.4")) << c.lastMessages();
    const int spid = spidOf(c);
    bool backedUp = false;
    std::thread backup([&] {
        std::vector<Row> rows;
        backedUp = c.query(kBackup, {"Ventas", "final.bak", "Tarvelo 1", "Ventas, final"}, rows);
    });
    OdbcClient poller;
    ASSERT_TRUE(poller.connect(server.port(), "sa", "Secreto.1", {}, "7.4"));
    QList<double> seen;
    const QString poll =
        QStringLiteral("SELECT percent_complete FROM sys.dm_exec_requests WHERE session_id = %1")
            .arg(spid);
    bool refusedDrop = false;
    for (int i = 0; i < 60; ++i) {
        std::vector<Row> rows;
        ASSERT_TRUE(poller.query(poll, rows)) << poller.lastMessages();
        if (rows.empty()) {
            if (!seen.isEmpty()) {
                break;
            }
        } else {
            seen << rows[0][0].value_or(QString()).toDouble();
            if (!refusedDrop) {
                EXPECT_FALSE(poller.execute("DROP DATABASE [Ventas]"));
                EXPECT_EQ(natives(poller).value(0), 3702) << poller.lastMessages();
                refusedDrop = true;
            }
        }
        QThread::msleep(100);
    }
    backup.join();
    ASSERT_TRUE(backedUp) << c.lastMessages();
    ASSERT_GE(seen.size(), 3) << seen.size();
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GT(seen.last(), seen.first());
    // The driver hands over every message at the end, in an order of its own.
    const QList<long> said = natives(c);
    EXPECT_EQ(said.count(3211), 10) << c.lastMessages();
    EXPECT_EQ(said.count(4035), 2);
    EXPECT_EQ(said.count(3014), 1);

    std::vector<Row> rows;
    ASSERT_TRUE(c.query(kLookup, {"Ventas", "Tarvelo 1"}, rows)) << c.lastMessages();
    ASSERT_EQ(rows.size(), 1u);
    const QString path = folder + "/final.bak";
    EXPECT_EQ(rows[0][0], "1");
    EXPECT_EQ(rows[0][1], "8404992"); // 1024 + 2 pages of 8 KB
    EXPECT_EQ((QStringList{*rows[0][2], *rows[0][3], *rows[0][4]}), (QStringList{"1", "1", "0"}));
    EXPECT_EQ(rows[0][6], path);
    EXPECT_EQ(c.columnTypes().at(1), SQL_NUMERIC);

    ASSERT_TRUE(c.query("RESTORE VERIFYONLY FROM DISK = ? WITH FILE = 1, CHECKSUM", {path}, rows))
        << c.lastMessages();
    EXPECT_EQ(natives(c), QList<long>{3262});
    const QJsonArray sets = setsIn(path);
    ASSERT_EQ(sets.size(), 1);
    EXPECT_EQ(sets.at(0)["complete"], true);
    EXPECT_EQ(sets.at(0)["database"]["name"], "Ventas");
    // msdb keeps it in the state, also once the database is dropped.
    ASSERT_TRUE(c.execute("DROP DATABASE [Ventas]")) << c.lastMessages();
    EXPECT_EQ(server.readState()["backupHistory"][0]["name"], "Tarvelo 1");
    ASSERT_TRUE(c.query(kLookup, {"Ventas", "Tarvelo 1"}, rows)) << c.lastMessages();
    EXPECT_EQ(rows.size(), 1u);
}

// A cancel while the backup runs (the driver's ATTENTION) aborts it: no
// msdb row, the set left on the device marked incomplete, which VERIFYONLY
// refuses; the connection goes on.  A lost link does not: the backup goes
// on to its end.
TEST(FinalBackup, ACancelAbortsItALostLinkDoesNot) {
    {
        TestServer server(backupState(3000));
        const QString folder = server.useOwnBackupFolder();
        OdbcClient c;
        ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1")) << c.lastMessages();
        OdbcClient poller;
        ASSERT_TRUE(poller.connect(server.port(), "sa", "Secreto.1"));
        bool backedUp = true;
        std::thread backup([&] {
            std::vector<Row> rows;
            backedUp = c.query(kBackup, {"Ventas", "final.bak", "Tarvelo 2", ""}, rows);
        });
        EXPECT_TRUE(waitFor(
            [&] {
                std::vector<Row> rows;
                return poller.query("SELECT command FROM sys.dm_exec_requests", rows) &&
                       !rows.empty();
            },
            3000));
        c.cancel();
        backup.join();
        EXPECT_FALSE(backedUp);
        EXPECT_TRUE(natives(c).isEmpty() || !natives(c).contains(3014)) << c.lastMessages();
        std::vector<Row> rows;
        ASSERT_TRUE(c.query(kLookup, {"Ventas", "Tarvelo 2"}, rows)) << c.lastMessages();
        EXPECT_TRUE(rows.empty());
        EXPECT_EQ(setsIn(folder + "/final.bak").at(0)["complete"], false);
        EXPECT_FALSE(c.query("RESTORE VERIFYONLY FROM DISK = ?", {folder + "/final.bak"}, rows));
        EXPECT_EQ(natives(c), (QList<long>{3256, 3013})) << c.lastMessages();
    }
    TestServer server(backupState(
        800,
        QJsonArray{QJsonObject{
            {"stage", "query"}, {"action", "loseLink"}, {"ms", 200}, {"statement", "BACKUP"}}}));
    const QString folder = server.useOwnBackupFolder();
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1")) << c.lastMessages();
    std::vector<Row> rows;
    EXPECT_FALSE(c.query(kBackup, {"Ventas", "final.bak", "Tarvelo 3", ""}, rows));
    EXPECT_TRUE(waitFor(
        [&] {
            return server.readState()["databases"][0]["backups"][0]["name"].toString() ==
                   u"Tarvelo 3";
        },
        5000))
        << QJsonDocument(server.readState()).toJson().toStdString();
    EXPECT_EQ(setsIn(folder + "/final.bak").at(0)["complete"], true);
}
