// The state file: strict validation, and atomic rewriting.
#include "QStringPrinter.h"
#include "state/ServerState.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace state;

namespace {
const char* const Good = R"({
  "version": "10.50.6000.34",
  "logins": [{"name": "sa", "password": "Secreto.1", "sysadmin": true},
             {"name": "lector", "password": "lector", "deny": ["sysdatabases"]}],
  "databases": [{"name": "Ventas"}, {"name": "N\u00f3minas 2024", "inUse": true}],
  "faults": [{"stage": "rows", "action": "close", "after": 3, "login": "sa"}],
  "encryption": "required", "certificate": "/c.pem", "key": "/k.pem"
})";

QString errorFor(const QByteArray& json) {
    QString error;
    EXPECT_FALSE(parseState(json, error)) << json.toStdString();
    return error;
}
} // namespace

TEST(ServerState, ReadsTheDocumentedShape) {
    QString error;
    const auto s = parseState(Good, error);
    ASSERT_TRUE(s) << error.toStdString();
    EXPECT_EQ(s->version, "10.50.6000.34");
    ASSERT_EQ(s->logins.size(), 2);
    EXPECT_TRUE(s->logins[0].sysadmin);
    EXPECT_FALSE(s->logins[1].sysadmin);
    EXPECT_EQ(s->logins[1].deny, QStringList{"sysdatabases"});
    ASSERT_EQ(s->databases.size(), 2);
    EXPECT_EQ(s->databases[1].name, QString::fromUtf8("Nóminas 2024"));
    EXPECT_TRUE(s->databases[1].inUse);
    ASSERT_EQ(s->faults.size(), 1);
    EXPECT_EQ(s->faults[0].after, 3);
    EXPECT_EQ(s->faults[0].login, QString("sa"));
    EXPECT_EQ(s->encryption.mode, state::EncryptionMode::Required);
    EXPECT_EQ(s->encryption.key, "/k.pem");

    const auto again = parseState(serializeState(*s), error);
    ASSERT_TRUE(again);
    EXPECT_EQ(serializeState(*again), serializeState(*s));
}

TEST(ServerState, RefusesMalformedFilesWithAReason) {
    EXPECT_TRUE(errorFor("{").contains("not valid JSON"));
    EXPECT_TRUE(errorFor(R"({"logins": [], "databases": []})").contains("version"));
    EXPECT_TRUE(
        errorFor(R"({"version": "10.50", "logins": [], "databases": []})").contains("version"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "logins": [], "databases": [], "extra": 1})")
                    .contains("extra"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "logins": [],
                             "databases": [{"name": "A"}, {"name": "a"}]})")
                    .contains("twice"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "logins": [], "databases": [{"name": "MSDB"}]})")
                    .contains("system"));
    const QByteArray longName = "{\"version\": \"9.0.1\", \"logins\": [], \"databases\": "
                                "[{\"name\": \"" +
                                QByteArray(129, 'x') + "\"}]}";
    EXPECT_TRUE(errorFor(longName).contains("128"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "logins": [], "databases": [],
                             "faults": [{"stage": "query", "action": "refuse"}]})")
                    .contains("connect"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "logins": [], "databases": [],
                             "faults": [{"stage": "rows", "action": "delay", "ms": -1}]})")
                    .contains("ms"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "logins": [], "databases": [],
                             "faults": [{"stage": "login", "action": "stall",
                                         "statement": "DROP"}]})")
                    .contains("statement"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "logins": [], "databases": [],
                             "encryption": "on"})")
                    .contains("encryption"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "logins": [], "databases": [],
                             "certificate": "/c.pem"})")
                    .contains("key"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "logins": [], "databases": [],
                             "encryption": "unsupported", "certificate": "/c.pem", "key": "/k"})")
                    .contains("no certificate"));
}

TEST(ServerState, SavingReplacesTheFileWholeAndLeavesNoTemporaryFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("state.json");
    QString error;
    auto s = parseState(Good, error);
    ASSERT_TRUE(s);
    ASSERT_TRUE(saveState(path, *s, error)) << error.toStdString();
    s->databases.removeFirst();
    ASSERT_TRUE(saveState(path, *s, error)) << error.toStdString();
    const auto back = loadState(path, error);
    ASSERT_TRUE(back) << error.toStdString();
    EXPECT_EQ(back->databases.size(), 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"state.json"});
}

// The conditions that stand in a drop's way: every key read, and written
// back unchanged.
TEST(ServerState, ReadsAndWritesBackTheConditionsOfADatabase) {
    const char* const json = R"({"version": "15.0.2000.5",
      "systemNames": ["master", "tempdb", "model", "msdb_vieja"],
      "logins": [{"name": "consulta", "password": "c", "permissions": ["view server state"],
                  "roles": ["dbcreator"]}],
      "databases": [
        {"name": "Ventas", "state": "RESTORING", "restrictedUser": true, "mirrored": true,
         "dbOwners": ["consulta"], "dropTakes": 2000, "backupOperators": ["consulta"],
         "backupTakes": 0, "backupFault": {"kind": "diskFull", "atPercent": 40},
         "encrypted": true,
         "logShipping": "primary", "availabilityGroup": {"name": "GA_Ventas", "role": "SECONDARY"},
         "files": [{"name": "Ventas", "physical": "/d/Ventas.mdf", "state": "OFFLINE", "size": 8}],
         "backups": [{"finished": "2026-11-30T22:15:03.250", "type": "L", "device": "/b/V.trn"},
                     {"finished": "2026-12-01T10:00:00", "type": "D", "device": "/b/V.bak",
                      "name": "Tarvelo 1", "description": "final", "position": 2,
                      "started": "2026-12-01T09:59:58", "size": 8404992,
                      "compressedSize": 2101248, "checksums": true, "copyOnly": true}],
         "running": {"command": "BACKUP LOG", "percent": 42.5},
         "slotTaker": {"login": "ana", "host": "PC-ANA", "program": "Excel"}},
        {"name": "Ventas_foto", "snapshotOf": "ventas", "state": "OFFLINE"}],
      "edition": "Azure SQL Managed Instance", "backupFolder": "/srv/copias",
      "backupHistory": [{"database": "Vieja", "databaseCreated": "2020-01-01T00:00:00",
                         "finished": "2025-01-01T00:00:00", "type": "D", "device": "/b/Vieja.bak",
                         "damaged": true}]})";
    QString error;
    const auto s = parseState(json, error);
    ASSERT_TRUE(s) << error.toStdString();
    const Database& d = s->databases[0];
    EXPECT_EQ(d.status, DatabaseStatus::Restoring);
    EXPECT_TRUE(d.restrictedUser && d.mirrored);
    EXPECT_EQ(d.logShipping, LogShipping::Primary);
    EXPECT_EQ(d.availabilityGroup, (AvailabilityGroup{"GA_Ventas", false}));
    EXPECT_EQ(databaseFiles(d), (QList<DatabaseFile>{{"Ventas", "/d/Ventas.mdf", false, 8}}));
    ASSERT_EQ(d.backups.size(), 2);
    EXPECT_EQ(d.backups[0].finished.time().msec(), 250);
    EXPECT_EQ(d.backups[0].type, 'L');
    // Without them: started a second before it finished, 8 MB.
    EXPECT_EQ(backupStarted(d.backups[0]), d.backups[0].finished.addSecs(-1));
    EXPECT_EQ(backupSize(d.backups[0]), 8 * 1024 * 1024);
    EXPECT_EQ(d.backups[1].position, 2);
    EXPECT_EQ(backupSize(d.backups[1]), 8404992);
    EXPECT_TRUE(d.backups[1].checksums && d.backups[1].copyOnly && !d.backups[1].damaged);
    EXPECT_EQ(d.backupOperators, QStringList{"consulta"});
    EXPECT_EQ(d.backupTakesMs, 0);
    EXPECT_EQ(d.backupFault, (BackupFault{BackupFault::Kind::DiskFull, 40}));
    EXPECT_TRUE(d.encrypted);
    EXPECT_EQ(s->edition, Edition::AzureManagedInstance);
    EXPECT_EQ(s->backupFolder, "/srv/copias");
    ASSERT_EQ(s->backupHistory.size(), 1);
    EXPECT_TRUE(s->backupHistory[0].backup.damaged);
    EXPECT_EQ(d.running, (RunningRequest{"BACKUP LOG", 42.5}));
    EXPECT_EQ(d.slotTaker, (HoldingSession{"ana", "PC-ANA", "Excel"}));
    EXPECT_EQ(d.dbOwners, QStringList{"consulta"});
    EXPECT_EQ(d.dropTakesMs, 2000);
    EXPECT_EQ(s->logins[0].permissions, QStringList{"VIEW SERVER STATE"});
    EXPECT_EQ(s->logins[0].roles, QStringList{"dbcreator"});
    EXPECT_EQ(s->systemNames.last(), "msdb_vieja");
    const Database& snapshot = s->databases[1];
    EXPECT_EQ(snapshot.snapshotOf, QString("ventas"));
    // Without "files": a data and a log file, offline with the database.
    EXPECT_EQ(databaseFiles(snapshot),
              (QList<DatabaseFile>{
                  {"Ventas_foto", "/var/opt/mssql/data/Ventas_foto.mdf", false, 1024},
                  {"Ventas_foto_log", "/var/opt/mssql/data/Ventas_foto_log.ldf", false, 256}}));

    const QByteArray written = serializeState(*s);
    const auto again = parseState(written, error);
    ASSERT_TRUE(again) << error.toStdString();
    EXPECT_EQ(serializeState(*again), written);
    EXPECT_TRUE(written.contains("\"finished\": \"2026-11-30T22:15:03.250\""))
        << written.toStdString();
}

TEST(ServerState, RefusesBadConditionsWithAReason) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"name": "A", "state": "online"})", "state"},
        {R"({"name": "A", "singleUser": true, "restrictedUser": true})", "restrictedUser"},
        {R"({"name": "A", "snapshotOf": "Nadie"})", "snapshot"},
        {R"({"name": "A", "snapshotOf": "A"})", "snapshot"},
        {R"({"name": "A", "mirrored": "yes"})", "mirrored"},
        {R"({"name": "A", "availabilityGroup": {"name": "G", "role": "primary"}})", "role"},
        {R"({"name": "A", "availabilityGroup": {"name": "G", "role": "PRIMARY", "x": 1}})",
         "\"x\""},
        {R"({"name": "A", "logShipping": "both"})", "logShipping"},
        {R"({"name": "A", "files": []})", "at least one file"},
        {R"({"name": "A", "files": [{"name": "A", "physical": "/a", "size": 0}]})", "size"},
        {R"({"name": "A", "files": [{"name": "A", "physical": "/a", "size": 1, "state": "GONE"}]})",
         "state"},
        {R"({"name": "A", "backups": [{"finished": "2026-11-30T22:15:03Z", "type": "D",
                                       "device": "/b"}]})",
         "finished"},
        {R"({"name": "A", "backups": [{"finished": "2026-02-30T22:15:03", "type": "D",
                                       "device": "/b"}]})",
         "finished"},
        {R"({"name": "A", "backups": [{"finished": "2026-11-30T22:15:03", "type": "F",
                                       "device": "/b"}]})",
         "type"},
        {R"({"name": "A", "running": {"command": "BACKUP DATABASE", "percent": 101}})", "percent"},
        {R"({"name": "A", "running": {"command": "", "percent": 1}})", "command"},
        {R"({"name": "A", "slotTaker": {"host": "PC"}})", "login"},
        {R"({"name": "A", "dbOwners": ["nadie"]})", "dbOwners"},
        {R"({"name": "A", "dropTakes": -1})", "dropTakes"},
        {R"({"name": "A", "backupOperators": ["nadie"]})", "backupOperators"},
        {R"({"name": "A", "backupTakes": 1.5})", "backupTakes"},
        {R"({"name": "A", "backupFault": {"kind": "fire"}})", "kind"},
        {R"({"name": "A", "backupFault": {"kind": "diskFull"}})", "atPercent"},
        {R"({"name": "A", "backupFault": {"kind": "accessDenied", "atPercent": 5}})", "atPercent"},
        {R"({"name": "A", "backupFault": {"kind": "damagedPage", "atPercent": 101}})", "atPercent"},
        {R"({"name": "A", "encrypted": 1})", "encrypted"},
        {R"({"name": "A", "backups": [{"finished": "2026-11-30T22:15:03", "type": "D",
                                       "device": "/b", "size": -1}]})",
         "size"},
        {R"({"name": "A", "backups": [{"finished": "2026-11-30T22:15:03", "type": "D",
                                       "device": "/b", "position": 0}]})",
         "position"},
        {R"({"name": "A", "backups": [{"finished": "2026-11-30T22:15:03", "type": "D",
                                       "device": "/b", "copyOnly": "yes"}]})",
         "copyOnly"},
    };
    for (const auto& [database, reason] : cases) {
        const QByteArray json =
            QByteArray(R"({"version": "15.0.1", "logins": [], "databases": [)") + database +
            R"(, {"name": "B"}]})";
        EXPECT_TRUE(errorFor(json).contains(reason))
            << database << ": " << errorFor(json).toStdString();
    }
    // A snapshot of a snapshot, and one group with two roles.
    EXPECT_TRUE(errorFor(R"({"version": "15.0.1", "logins": [], "databases": [{"name": "A"},
                   {"name": "B", "snapshotOf": "A"}, {"name": "C", "snapshotOf": "B"}]})")
                    .contains("snapshot itself"));
    EXPECT_TRUE(errorFor(R"({"version": "15.0.1", "logins": [], "databases": [
                   {"name": "A", "availabilityGroup": {"name": "G", "role": "PRIMARY"}},
                   {"name": "B", "availabilityGroup": {"name": "g", "role": "SECONDARY"}}]})")
                    .contains("two roles"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "logins": [], "databases": [],
                             "faults": [{"stage": "rows", "action": "loseAnswer"}]})")
                    .contains("query stage"));
    // The server's own keys.
    const std::pair<const char*, const char*> server[] = {
        {R"("edition": "Developer Edition")", "edition"},
        {R"("backupFolder": "copias/")", "backupFolder"},
        {R"("backupHistory": [{"database": "V", "finished": "2026-11-30T22:15:03",
                               "type": "D", "device": "/b"}])",
         "databaseCreated"},
    };
    for (const auto& [key, reason] : server) {
        const QByteArray json =
            QByteArray(R"({"version": "15.0.1", "logins": [], "databases": [], )") + key + "}";
        EXPECT_TRUE(errorFor(json).contains(reason)) << key << ": " << errorFor(json).toStdString();
    }
}

// Collations: which names are one name, how ORDER BY sorts (accented letters
// among their base letters; Spanish puts Ñ after N), and the bytes clients
// receive.
TEST(Collation, ComparesSortsAndEncodesAsItsNameSays) {
    struct Case {
        const char* name;
        bool caseSensitive;
        QStringList sorted;
        std::array<std::uint8_t, 5> bytes;
    };
    const QStringList names = {"Zeta", "Ñandú", "oso", "Nube", "árbol", "abeto", "Nóminas"};
    const std::vector<Case> cases = {
        {"SQL_Latin1_General_CP1_CI_AS",
         false,
         {"abeto", "árbol", "Ñandú", "Nóminas", "Nube", "oso", "Zeta"},
         {0x09, 0x04, 0xD0, 0x00, 0x34}},
        {"Modern_Spanish_CS_AS",
         true,
         {"abeto", "árbol", "Nóminas", "Nube", "Ñandú", "oso", "Zeta"},
         {0x0A, 0x0C, 0xC0, 0x00, 0x00}},
        {"Latin1_General_BIN2",
         true,
         {"Nube", "Nóminas", "Zeta", "abeto", "oso", "Ñandú", "árbol"},
         {0x09, 0x04, 0x00, 0x02, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto collation = Collation::named(QString::fromLatin1(c.name));
        ASSERT_TRUE(collation);
        EXPECT_EQ(collation->caseSensitive(), c.caseSensitive);
        EXPECT_EQ(collation->same(u"Ventas", u"VENTAS"), !c.caseSensitive);
        QStringList sorted = names;
        std::stable_sort(sorted.begin(), sorted.end(), [&](const QString& a, const QString& b) {
            return collation->compare(a, b) < 0;
        });
        EXPECT_EQ(sorted, c.sorted);
        EXPECT_EQ(collation->tdsBytes(), c.bytes);
    }
    EXPECT_FALSE(Collation::named("Klingon_CI_AS"));
    EXPECT_FALSE(Collation::named("SQL_Latin1_General_CP1_CS_AI"));
    EXPECT_TRUE(errorFor(R"({"version": "9.0.1", "collation": "Latin1_General", "logins": [],
                             "databases": []})")
                    .contains("collation"));
    QString error;
    const auto twins = parseState(R"({"version": "9.0.1", "collation": "Latin1_General_CS_AS",
                                      "logins": [], "databases": [{"name": "A"}, {"name": "a"}]})",
                                  error);
    ASSERT_TRUE(twins) << error.toStdString();
    EXPECT_EQ(twins->databases.size(), 2);
}
