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
