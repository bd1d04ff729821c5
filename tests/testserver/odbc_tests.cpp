// The test server against FreeTDS's ODBC driver, the driver the tool uses.
#include "OdbcClient.h"
#include "QStringPrinter.h"
#include "TestServer.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <tuple>

using odbc_check::OdbcClient;
using odbc_check::Row;
using testing_support::TestServer;

namespace {

QStringList column(const std::vector<Row>& rows, std::size_t c = 0) {
    QStringList out;
    for (const Row& r : rows) {
        out << r.at(c).value_or(QStringLiteral("<NULL>"));
    }
    return out;
}

QStringList statements(const TestServer& s) {
    QStringList out;
    for (const QJsonObject& line : s.logLines()) {
        if (line.value("request") == QLatin1String("batch")) {
            out << line.value("statement").toString();
        }
    }
    return out;
}

QStringList databaseNames(const QJsonObject& state) {
    QStringList out;
    for (const QJsonValue& d : state.value("databases").toArray()) {
        out << d.toObject().value("name").toString();
    }
    return out;
}

} // namespace

TEST(OdbcAgainstTestServer, ConnectsAndAnswersTheToolsQueries) {
    TestServer server;
    for (const char* tds : {"7.1", "7.2", "7.3", "7.4"}) {
        SCOPED_TRACE(tds);
        OdbcClient c;
        ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1", {}, tds)) << c.lastMessages();
        std::vector<Row> rows;
        ASSERT_TRUE(c.query("SELECT SERVERPROPERTY('ProductVersion')", rows)) << c.lastMessages();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][0], QStringLiteral("10.50.6000.34"));

        ASSERT_TRUE(c.query("SELECT name FROM master.dbo.sysdatabases ORDER BY name", rows))
            << c.lastMessages();
        EXPECT_EQ(column(rows),
                  (QStringList{"Compras", "master", "model", "msdb",
                               QString::fromUtf8("Nóminas 2024"), "tempdb", "Ventas"}));
    }
}

TEST(OdbcAgainstTestServer, ExistenceQueryOnMasterWithReadUncommitted) {
    TestServer server;
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1", "MASTER", "7.3", true))
        << c.lastMessages();
    std::vector<Row> rows;
    ASSERT_TRUE(c.query("SELECT DB_NAME(dbid) AS DB_NAME FROM sysdatabases", rows))
        << c.lastMessages();
    EXPECT_EQ(column(rows), (QStringList{"master", "tempdb", "model", "msdb", "Ventas", "Compras",
                                         QString::fromUtf8("Nóminas 2024")}));
    EXPECT_TRUE(statements(server).contains("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"))
        << statements(server).join(" | ").toStdString();
}

TEST(OdbcAgainstTestServer, DropsABracketQuotedNameAndWritesTheState) {
    QJsonObject state = TestServer::defaultState();
    const QString odd = QString::fromUtf8("a]b'c;d\"e ñ");
    QJsonArray dbs = state.value("databases").toArray();
    dbs.append(QJsonObject{{"name", odd}});
    state.insert("databases", dbs);
    TestServer server(state);
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1")) << c.lastMessages();
    QString quoted = odd;
    quoted.replace("]", "]]");
    ASSERT_TRUE(c.execute("DROP DATABASE [" + quoted + "]")) << c.lastMessages();
    EXPECT_EQ(databaseNames(server.readState()),
              (QStringList{"Ventas", "Compras", QString::fromUtf8("Nóminas 2024")}));
}

TEST(OdbcAgainstTestServer, ServerMessagesReachTheDriverWithTheirNumbers) {
    TestServer server;
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1"));
    EXPECT_FALSE(c.execute("DROP DATABASE [NoExiste]"));
    ASSERT_FALSE(c.diagnostics().empty());
    EXPECT_EQ(c.diagnostics()[0].native, 3701);
    EXPECT_TRUE(c.diagnostics()[0].text.endsWith(
        "Cannot drop the database 'NoExiste', because it does not exist or you do not have "
        "permission."))
        << c.lastMessages();

    OdbcClient refused;
    EXPECT_FALSE(refused.connect(server.port(), "sa", "wrong"));
    bool seen = false;
    for (const auto& d : refused.diagnostics()) {
        seen = seen || (d.native == 18456 && d.text.endsWith("Login failed for user 'sa'."));
    }
    EXPECT_TRUE(seen) << refused.lastMessages();
}

TEST(OdbcAgainstTestServer, PasswordsWithQuotingCharactersArriveIntact) {
    QJsonObject state = TestServer::defaultState();
    const QString pwd = QString::fromUtf8("p;w{d=ñ'\" x");
    state.insert("logins",
                 QJsonArray{QJsonObject{{"name", "raro"}, {"password", pwd}, {"sysadmin", true}}});
    TestServer server(state);
    OdbcClient c;
    EXPECT_TRUE(c.connect(server.port(), "raro", pwd)) << c.lastMessages();
    for (const QJsonObject& line : server.logLines()) {
        EXPECT_FALSE(QJsonDocument(line).toJson().contains(pwd.toUtf8()));
    }
}

// Single-user access as the in-use removal uses it: the refusals by their
// numbers, sysprocesses naming the holders, ROLLBACK IMMEDIATE ending them,
// a second user kept out while one is in, and the state saved at each step.
TEST(OdbcAgainstTestServer, SingleUserAccessEndsTheHoldersAndKeepsOthersOut) {
    QJsonObject state = TestServer::defaultState();
    state["databases"] = QJsonArray{
        QJsonObject{{"name", "Ocupada"},
                    {"sessions", QJsonArray{QJsonObject{{"login", "ana"}, {"host", "PC-ANA"}}}}}};
    TestServer server(state);
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1"));
    const QString holders = "SELECT loginame, hostname, program_name FROM master.dbo.sysprocesses "
                            "WHERE dbid = DB_ID(N'Ocupada')";
    std::vector<Row> rows;
    ASSERT_TRUE(c.query(holders, rows)) << c.lastMessages();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0]->trimmed(), "ana");
    EXPECT_EQ(rows[0][1]->size(), 128); // nchar(128), padded
    EXPECT_EQ(rows[0][1]->trimmed(), "PC-ANA");

    const std::pair<const char*, long> refused[] = {
        {"ALTER DATABASE [master] SET SINGLE_USER WITH ROLLBACK IMMEDIATE", 5058},
        {"ALTER DATABASE [NoExiste] SET MULTI_USER", 5011},
        {"ALTER DATABASE [Ocupada] SET SINGLE_USER WITH NO_WAIT", 5070},
        {"DROP DATABASE [Ocupada]", 3702},
    };
    for (const auto& [sql, number] : refused) {
        EXPECT_FALSE(c.execute(sql)) << sql;
        ASSERT_FALSE(c.diagnostics().empty()) << sql;
        EXPECT_EQ(c.diagnostics()[0].native, number) << sql << c.lastMessages();
    }
    // Refused, nothing changed: the holder is still there.
    EXPECT_EQ(server.readState()["databases"][0]["sessions"][0]["login"], "ana");
    EXPECT_FALSE(server.readState()["databases"][0].toObject().contains("singleUser"));

    ASSERT_TRUE(c.execute("ALTER DATABASE [Ocupada] SET SINGLE_USER WITH ROLLBACK IMMEDIATE"))
        << c.lastMessages();
    EXPECT_EQ(server.readState()["databases"].toArray(),
              (QJsonArray{QJsonObject{{"name", "Ocupada"}, {"singleUser", true}}}));
    ASSERT_TRUE(c.query(holders, rows));
    EXPECT_TRUE(rows.empty());

    ASSERT_TRUE(c.execute("USE [Ocupada]")) << c.lastMessages();
    OdbcClient second;
    ASSERT_TRUE(second.connect(server.port(), "sa", "Secreto.1"));
    EXPECT_FALSE(second.execute("USE [Ocupada]"));
    ASSERT_FALSE(second.diagnostics().empty());
    EXPECT_EQ(second.diagnostics()[0].native, 924) << second.lastMessages();

    ASSERT_TRUE(c.execute("USE master"));
    ASSERT_TRUE(c.execute("ALTER DATABASE [Ocupada] SET MULTI_USER")) << c.lastMessages();
    EXPECT_EQ(server.readState()["databases"].toArray(),
              (QJsonArray{QJsonObject{{"name", "Ocupada"}}}));
}

namespace {

// The databases of the drop's obstacles, one condition each.
QJsonObject obstaclesState(const QString& version) {
    QJsonObject state = TestServer::defaultState();
    state["version"] = version;
    const QJsonObject backup{{"finished", "2026-11-30T22:15:03"},
                             {"type", "D"},
                             {"device", "/var/opt/mssql/backup/Ventas.bak"}};
    const QJsonObject later{
        {"finished", "2026-12-01T08:00:00.5"}, {"type", "D"}, {"device", "/b/Ventas2.bak"}};
    const QJsonObject log{
        {"finished", "2026-12-02T08:00:00"}, {"type", "L"}, {"device", "/b/V.trn"}};
    state["databases"] = QJsonArray{
        QJsonObject{{"name", "Ventas"},
                    {"backups", QJsonArray{backup, later, log}},
                    {"logShipping", "primary"}},
        QJsonObject{{"name", "Ventas_foto"}, {"snapshotOf", "Ventas"}},
        QJsonObject{{"name", "Espejo"}, {"mirrored", true}, {"state", "OFFLINE"}},
        QJsonObject{{"name", "Grupo"},
                    {"availabilityGroup", QJsonObject{{"name", "GA_Ventas"}, {"role", "PRIMARY"}}},
                    {"restrictedUser", true}},
        QJsonObject{
            {"name", "Copia"},
            {"running", QJsonObject{{"command", "BACKUP DATABASE"}, {"percent", 42.5}}},
            {"files",
             QJsonArray{QJsonObject{
                 {"name", "C"}, {"physical", "/d/C.mdf"}, {"state", "OFFLINE"}, {"size", 8}}}}},
        QJsonObject{{"name", "Secundaria"}, {"logShipping", "secondary"}}};
    state["logins"] = QJsonArray{
        QJsonObject{{"name", "sa"}, {"password", "Secreto.1"}, {"sysadmin", true}},
        QJsonObject{{"name", "lector"},
                    {"password", "lector"},
                    {"deny", QJsonArray{"backupset", "master_files"}}},
        QJsonObject{{"name", "ajeno"}, {"password", "ajeno"}, {"deny", QJsonArray{"msdb"}}}};
    return state;
}

QString joined(const std::vector<Row>& rows) {
    QStringList out;
    for (const Row& r : rows) {
        QStringList cells;
        for (const auto& c : r) {
            cells << (c ? c->trimmed() : QStringLiteral("<NULL>"));
        }
        out << cells.join(u'|');
    }
    return out.join(u'\n');
}

} // namespace

// The catalogue queries of a drop's checks: their rows, their NULLs and the
// types FreeTDS reads them as (BIT, GUID, DATETIME and REAL on the wire).
TEST(OdbcAgainstTestServer, AnswersTheCatalogueQueriesOfTheDropsChecks) {
    TestServer server(obstaclesState("15.0.2000.5"));
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1", {}, "7.4")) << c.lastMessages();
    struct Case {
        const char* sql;
        const char* rows;
        std::vector<SQLSMALLINT> types;
    };
    const std::vector<Case> cases = {
        {"SELECT name, state_desc, user_access_desc, is_read_only, is_published, "
         "is_merge_published, source_database_id FROM sys.databases WHERE database_id = "
         "DB_ID(N'Ventas_foto')",
         "Ventas_foto|ONLINE|MULTI_USER|1|0|0|5",
         {SQL_WVARCHAR, SQL_WVARCHAR, SQL_WVARCHAR, SQL_BIT, SQL_BIT, SQL_BIT, SQL_INTEGER}},
        {"SELECT name, state_desc, user_access_desc, source_database_id FROM sys.databases "
         "WHERE database_id = DB_ID(N'Grupo')",
         "Grupo|ONLINE|RESTRICTED_USER|<NULL>",
         {SQL_WVARCHAR, SQL_WVARCHAR, SQL_WVARCHAR, SQL_INTEGER}},
        {"SELECT state_desc FROM sys.databases WHERE database_id = DB_ID(N'Espejo')",
         "OFFLINE",
         {SQL_WVARCHAR}},
        {"SELECT replica_id, group_database_id FROM sys.databases WHERE database_id = "
         "DB_ID(N'Ventas')",
         "<NULL>|<NULL>",
         {SQL_GUID, SQL_GUID}},
        {"SELECT name FROM sys.databases WHERE source_database_id = DB_ID(N'Ventas')",
         "Ventas_foto",
         {SQL_WVARCHAR}},
        {"SELECT mirroring_guid FROM sys.database_mirroring WHERE database_id = DB_ID(N'Ventas')",
         "<NULL>",
         {SQL_GUID}},
        {"SELECT name, physical_name, state_desc, size FROM sys.master_files WHERE database_id = "
         "DB_ID(N'Ventas')",
         "Ventas|/var/opt/mssql/data/Ventas.mdf|ONLINE|1024\n"
         "Ventas_log|/var/opt/mssql/data/Ventas_log.ldf|ONLINE|256",
         {SQL_WVARCHAR, SQL_WVARCHAR, SQL_WVARCHAR, SQL_INTEGER}},
        {"SELECT name, physical_name, state_desc, size FROM sys.master_files WHERE database_id = "
         "DB_ID(N'Copia')",
         "C|/d/C.mdf|OFFLINE|8",
         {SQL_WVARCHAR, SQL_WVARCHAR, SQL_WVARCHAR, SQL_INTEGER}},
        {"SELECT TOP 1 backup_finish_date, media_set_id FROM msdb.dbo.backupset WHERE "
         "database_name = N'Ventas' AND type = 'D' ORDER BY backup_finish_date DESC",
         "2026-12-01 08:00:00.500|2",
         {SQL_TYPE_TIMESTAMP, SQL_INTEGER}},
        {"SELECT TOP 1 backup_finish_date FROM msdb.dbo.backupset WHERE database_name = "
         "N'Espejo' ORDER BY backup_finish_date DESC",
         "",
         {SQL_TYPE_TIMESTAMP}},
        {"SELECT physical_device_name FROM msdb.dbo.backupmediafamily WHERE media_set_id = 1",
         "/var/opt/mssql/backup/Ventas.bak",
         {SQL_WVARCHAR}},
        {"SELECT primary_database FROM msdb.dbo.log_shipping_primary_databases WHERE "
         "primary_database = N'Ventas'",
         "Ventas",
         {SQL_WVARCHAR}},
        {"SELECT secondary_database FROM msdb.dbo.log_shipping_secondary_databases WHERE "
         "secondary_database = N'Ventas'",
         "",
         {SQL_WVARCHAR}},
        {"SELECT command, percent_complete FROM sys.dm_exec_requests WHERE database_id = "
         "DB_ID(N'Copia')",
         "BACKUP DATABASE|42.5",
         {SQL_WVARCHAR, SQL_REAL}},
        {"SELECT loginame, hostname, program_name FROM master.dbo.sysprocesses WHERE dbid = "
         "DB_ID(N'Copia')",
         "sa||SQLCMD",
         {SQL_WVARCHAR, SQL_WVARCHAR, SQL_WVARCHAR}},
        {"SELECT role_desc FROM sys.dm_hadr_availability_replica_states WHERE replica_id = "
         "'00000000-0000-0000-0000-000000000000' AND is_local = 1",
         "",
         {SQL_WVARCHAR}},
        {"SELECT TOP 1 bs.backup_finish_date, mf.physical_device_name FROM msdb.dbo.backupset AS "
         "bs LEFT JOIN msdb.dbo.backupmediafamily AS mf ON mf.media_set_id = bs.media_set_id "
         "WHERE bs.database_name = N'Ventas' AND bs.type = 'D' ORDER BY bs.backup_finish_date "
         "DESC",
         "2026-12-01 08:00:00.500|/b/Ventas2.bak",
         {SQL_TYPE_TIMESTAMP, SQL_WVARCHAR}},
        {"SELECT rs.role_desc, ag.name FROM sys.databases AS d LEFT JOIN "
         "sys.dm_hadr_availability_replica_states AS rs ON rs.replica_id = d.replica_id AND "
         "rs.is_local = 1 LEFT JOIN sys.availability_groups AS ag ON ag.group_id = rs.group_id "
         "WHERE d.name = N'Grupo'",
         "PRIMARY|GA_Ventas",
         {SQL_WVARCHAR, SQL_WVARCHAR}},
        {"SELECT rs.role_desc FROM sys.databases d LEFT OUTER JOIN "
         "sys.dm_hadr_availability_replica_states rs ON rs.replica_id = d.replica_id WHERE "
         "d.name = N'Ventas'",
         "<NULL>",
         {SQL_WVARCHAR}},
    };
    std::vector<Row> rows;
    for (const Case& k : cases) {
        ASSERT_TRUE(c.query(k.sql, rows)) << k.sql << c.lastMessages();
        EXPECT_EQ(joined(rows), k.rows) << k.sql;
        EXPECT_EQ(c.columnTypes(), k.types) << k.sql;
    }

    // The GUIDs read back as they were sent: the replica found by the text
    // FreeTDS made of its bytes, in lower case too.
    ASSERT_TRUE(
        c.query("SELECT replica_id FROM sys.databases WHERE database_id = DB_ID(N'Grupo')", rows));
    ASSERT_EQ(rows.size(), 1u);
    const QString replica = rows[0][0].value_or(QString());
    ASSERT_EQ(replica.size(), 36);
    ASSERT_TRUE(c.query("SELECT role_desc, group_id FROM sys.dm_hadr_availability_replica_states "
                        "WHERE replica_id = '" +
                            replica.toLower() + "' AND is_local = 1",
                        rows))
        << c.lastMessages();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], QStringLiteral("PRIMARY"));
    ASSERT_TRUE(c.query("SELECT name FROM sys.availability_groups WHERE group_id = '" +
                            rows[0][1].value_or(QString()) + "'",
                        rows));
    EXPECT_EQ(joined(rows), "GA_Ventas");
    ASSERT_TRUE(c.query(
        "SELECT mirroring_guid FROM sys.database_mirroring WHERE database_id = DB_ID(N'Espejo')",
        rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0][0].has_value());

    // Denied: a view by its name, msdb as a whole.
    const std::tuple<const char*, const char*, const char*, long> refused[] = {
        {"lector", "lector", "SELECT media_set_id FROM msdb.dbo.backupset", 229},
        {"lector", "lector", "SELECT name FROM sys.master_files", 229},
        {"ajeno", "ajeno", "SELECT physical_device_name FROM msdb.dbo.backupmediafamily", 916},
        {"sa", "Secreto.1", "SELECT name FROM sys.availability_groups WHERE group_id = 'x'", 8169},
    };
    for (const auto& [login, password, sql, number] : refused) {
        OdbcClient other;
        ASSERT_TRUE(other.connect(server.port(), login, password)) << other.lastMessages();
        EXPECT_FALSE(other.query(sql, rows)) << sql;
        ASSERT_FALSE(other.diagnostics().empty()) << sql;
        EXPECT_EQ(other.diagnostics()[0].native, number) << sql << other.lastMessages();
    }

    // A query run by sp_executesql inside TRY is read on its own: a refusal
    // goes to the CATCH, which tells its number, and nothing reaches the
    // client as an error.
    for (const auto& [login, password, first] :
         {std::tuple{"lector", "lector", "229"}, std::tuple{"sa", "Secreto.1", "Ventas"}}) {
        OdbcClient other;
        ASSERT_TRUE(other.connect(server.port(), login, password)) << other.lastMessages();
        ASSERT_TRUE(other.query("BEGIN TRY EXEC sp_executesql N'SELECT name FROM "
                                "sys.master_files WHERE database_id = DB_ID(@db)', N'@db "
                                "nvarchar(128)', @db = N'Ventas' END TRY BEGIN CATCH SELECT "
                                "ERROR_NUMBER() AS unread END CATCH",
                                rows))
            << login << other.lastMessages();
        ASSERT_FALSE(rows.empty()) << login;
        EXPECT_EQ(rows[0][0], QString::fromLatin1(first)) << login;
    }
}

// SQL Server 2000 and 2008 R2: the old system tables, and no availability
// group columns or views.
TEST(OdbcAgainstTestServer, OlderVersionsAnswerWithWhatTheyHad) {
    std::vector<Row> rows;
    {
        TestServer server(obstaclesState("8.00.2039"));
        OdbcClient c;
        ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1", {}, "7.1")) << c.lastMessages();
        ASSERT_TRUE(c.query("SELECT status, category FROM master.dbo.sysdatabases WHERE dbid = "
                            "DB_ID(N'Grupo')",
                            rows));
        EXPECT_EQ(joined(rows), "2048|0");
        ASSERT_TRUE(c.query(
            "SELECT status FROM master.dbo.sysdatabases WHERE dbid = DB_ID(N'Espejo')", rows));
        EXPECT_EQ(joined(rows), "512");
        ASSERT_TRUE(c.query("SELECT name, filename, size FROM master.dbo.sysaltfiles WHERE dbid = "
                            "DB_ID(N'Copia')",
                            rows));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][1]->size(), 260); // nchar(260), padded
        EXPECT_EQ(joined(rows), "C|/d/C.mdf|8");
        EXPECT_FALSE(c.query("SELECT name FROM sys.master_files", rows));
        EXPECT_EQ(c.diagnostics().at(0).native, 208);
    }
    TestServer server(obstaclesState("10.50.6000.34"));
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1")) << c.lastMessages();
    EXPECT_FALSE(c.query("SELECT replica_id, group_database_id FROM sys.databases", rows));
    EXPECT_EQ(c.diagnostics().at(0).native, 207);
    EXPECT_FALSE(c.query("SELECT name FROM sys.availability_groups", rows));
    EXPECT_EQ(c.diagnostics().at(0).native, 208);
}

// A session whose login asks for Spanish hears the executor in Spanish.
TEST(OdbcAgainstTestServer, ALoginInSpanishGetsSpanishMessages) {
    TestServer server(obstaclesState("15.0.2000.5"));
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1", {}, "7.4", false, "Language=Spanish;"))
        << c.lastMessages();
    std::vector<Row> rows;
    ASSERT_TRUE(c.query("SELECT @@LANGUAGE", rows));
    EXPECT_EQ(joined(rows), QString::fromUtf8("Español"));
    EXPECT_FALSE(c.execute("DROP DATABASE [Espejo]"));
    ASSERT_FALSE(c.diagnostics().empty());
    EXPECT_EQ(c.diagnostics()[0].native, 3743);
    EXPECT_TRUE(c.diagnostics()[0].text.endsWith(QString::fromUtf8(
        "La base de datos 'Espejo' está habilitada para la creación de reflejo de la base de "
        "datos. Debe quitarse la creación de reflejo de la base de datos antes de quitar la base "
        "de datos.")))
        << c.lastMessages();
}
