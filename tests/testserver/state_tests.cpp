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
    EXPECT_EQ(s->encryption.mode, "required");
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
