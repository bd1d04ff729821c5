// The removal with a final backup, against the test server: each condition
// a real server may be in, the messages in order, what the progress window
// showed, and what the state file holds afterwards.  Nothing is dropped
// unless every proof held; on every other end the database keeps its
// access.
#include "RecordingUi.h"
#include "TestServer.h"
#include "window/frmIni.h"

#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kRemoved = QStringLiteral("Base de datos eliminada correctamente.");
const QString kFailed =
    QStringLiteral("Se han producido errores durante la eliminación de la base de datos.");
const char* kSql2019 = "15.0.2000.5";
const char* kSql2017 = "14.0.3456.2";
constexpr int kYes = 6;
constexpr int kNo = 7;

// What one message must hold: its style, and texts it contains ("%F": the
// server's backup folder).
struct Told {
    int style;
    std::vector<const char*> contains;
};

struct Reply {
    int value;
    std::optional<bool> backup = std::nullopt; // the check box as the user leaves it
};

struct Case {
    const char* name;
    QJsonObject ventas; // Ventas' keys beside its name
    QJsonObject server; // keys of the state beside the defaults
    const char* login;
    std::vector<Reply> answers;
    std::optional<double> cancelAt;
    std::vector<Told> told; // every message, in order
    bool dropped;
    QStringList sent; // statements the server got, in this order
    // Whether a percent was shown; none where that depends on timing.
    std::optional<bool> percentShown = false;
    bool folderMissing = false;
};

// Logins beside sa: the owner of Ventas with CREATE DATABASE (dbcreator)
// and without VIEW SERVER STATE; a db_owner with VIEW SERVER STATE and
// without CREATE DATABASE; a login that may drop any database but may not
// back Ventas up.
const QJsonArray kLogins{
    QJsonObject{{"name", "dueno"}, {"password", "dueno"}, {"roles", QJsonArray{"dbcreator"}}},
    QJsonObject{{"name", "operador"},
                {"password", "operador"},
                {"permissions", QJsonArray{"VIEW SERVER STATE"}}},
    QJsonObject{{"name", "gestor"},
                {"password", "gestor"},
                {"permissions", QJsonArray{"ALTER ANY DATABASE"}}}};

// "alsoDatabases" in `server` adds databases beside Ventas and Compras.
QJsonObject stateFor(QJsonObject ventas, const QJsonObject& server, const QString& folder) {
    QJsonObject state = testing_support::TestServer::defaultState();
    state["version"] = QString::fromLatin1(kSql2019);
    state["backupFolder"] = folder;
    QJsonArray logins = state["logins"].toArray();
    for (const QJsonValue& login : kLogins) {
        logins.append(login);
    }
    state["logins"] = logins;
    ventas["name"] = "Ventas";
    ventas["owner"] = "dueno";
    ventas["dbOwners"] = QJsonArray{"operador"};
    if (!ventas.contains("backupTakes")) {
        ventas["backupTakes"] = 1500;
    }
    QJsonArray databases{ventas, QJsonObject{{"name", "Compras"}}};
    for (const QJsonValue& other : server["alsoDatabases"].toArray()) {
        databases.append(other);
    }
    state["databases"] = databases;
    for (auto it = server.begin(); it != server.end(); ++it) {
        if (it.key() != u"alsoDatabases") {
            state[it.key()] = it.value();
        }
    }
    return state;
}

QJsonObject ventasIn(const QJsonObject& state) {
    for (const QJsonValue& db : state["databases"].toArray()) {
        if (db["name"].toString() == u"Ventas") {
            return db.toObject();
        }
    }
    return {};
}

// Whether the server got these statements in this order.
::testing::AssertionResult sentInOrder(const testing_support::TestServer& server,
                                       const QStringList& statements) {
    qsizetype next = 0;
    QStringList got;
    for (const QJsonObject& line : server.logLines()) {
        const QString statement = line["statement"].toString();
        got << statement;
        if (next < statements.size() && statement.contains(statements[next])) {
            ++next;
        }
    }
    if (next == statements.size()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "missing '" << statements[next].toStdString() << "' in order among:\n"
           << got.join(u'\n').toStdString();
}

void aimAt(frmIni& window, const testing_support::TestServer& server, const QString& login) {
    const QString password = login == u"sa" ? QStringLiteral("Secreto.1") : login;
    window.findChild<QLineEdit*>(QStringLiteral("txtServerSQL"))->setText(server.serverName());
    window.findChild<QLineEdit*>(QStringLiteral("txtUserSQL"))->setText(login);
    window.findChild<QLineEdit*>(QStringLiteral("txtPwdSQL"))->setText(password);
    window.findChild<QComboBox*>(QStringLiteral("cmbBDSQL"))->setEditText("Ventas");
}

QString statusOf(frmIni& window) {
    return window.findChild<QLabel*>(QStringLiteral("lblEstado"))->text();
}

const QStringList kProvenAndDropped{"SET SINGLE_USER WITH NO_WAIT", "BACKUP DATABASE",
                                    "msdb.dbo.backupset", "RESTORE VERIFYONLY", "DROP DATABASE"};
const char* kGivenBack = "Se le ha devuelto el acceso que tenía (MULTI_USER).";
const char* kNotDropped = "No se ha eliminado la base de datos 'Ventas': la copia de seguridad "
                          "final no se ha completado.";

TEST(FinalBackup, EachConditionEndsInAProvenDropOrInNothingDropped) {
    const Case cases[] = {
        {"the backup, its verification and the drop",
         {},
         {},
         "sa",
         {{kYes}},
         {},
         {{308, {"Última copia de seguridad completa: nunca; por eso se propone"}},
          {64,
           {"copia de seguridad final de la base de datos 'Ventas' (solo copia, comprobada con "
            "RESTORE VERIFYONLY).",
            "Archivo: '%F/Tarvelo_Ventas_",
            "Para restaurarla: RESTORE DATABASE [Ventas] FROM DISK "
            "= N'%F/Tarvelo_Ventas_",
            "SET MULTI_USER;", "los trabajos de limpieza"}}},
         true,
         kProvenAndDropped,
         true},
        {"2017 names no folder: the file is named alone and msdb gives its path",
         {{"encrypted", true}},
         {{"version", kSql2017}},
         "sa",
         {{kYes}},
         {},
         {{308, {"nunca; por eso se propone"}},
          {64, {"Archivo: '%F/Tarvelo_Ventas_", "cifrado TDE"}}},
         true,
         kProvenAndDropped,
         true},
        {"Cancelar at 40 %",
         {{"backupTakes", 6000}},
         {},
         "sa",
         {{kYes}},
         40.0,
         {{308, {}},
          {64,
           {"Se ha cancelado la copia de seguridad final. La base de datos 'Ventas' no se ha "
            "eliminado y sigue intacta.",
            "Si el servidor ha dejado el archivo '%F/Tarvelo_Ventas_", "no sirve para restaurar",
            kGivenBack}}},
         false,
         {"BACKUP DATABASE", "SET MULTI_USER"},
         true},
        {"a missing folder (3201, OS error 2)",
         {},
         {},
         "sa",
         {{kYes}},
         {},
         {{308, {"(solo copia) en '%F'"}},
          {0, {kNotDropped, "no encuentra la carpeta '%F' (error 2", kGivenBack}}},
         false,
         {"BACKUP DATABASE", "SET MULTI_USER"},
         false,
         true},
        {"access denied (3201, OS error 5)",
         {{"backupFault", QJsonObject{{"kind", "accessDenied"}}}},
         {},
         "sa",
         {{kYes}},
         {},
         {{308, {}},
          {0, {kNotDropped, "no puede escribir en la carpeta '%F' (error 5", kGivenBack}}},
         false,
         {"BACKUP DATABASE", "SET MULTI_USER"}},
        {"a full disk at 50 % (3202, OS error 112)",
         {{"backupFault", QJsonObject{{"kind", "diskFull"}, {"atPercent", 50}}},
          {"backupTakes", 4000}},
         {},
         "sa",
         {{kYes}},
         {},
         {{308, {}},
          {0,
           {kNotDropped, "se ha llenado", "Si el servidor ha dejado el archivo '%F/Tarvelo_Ventas_",
            kGivenBack}}},
         false,
         {"BACKUP DATABASE", "SET MULTI_USER"},
         true},
        {"a damaged page (3043)",
         {{"backupFault", QJsonObject{{"kind", "damagedPage"}, {"atPercent", 40}}},
          {"backupTakes", 4000}},
         {},
         "sa",
         {{kYes}},
         {},
         {{308, {}}, {0, {kNotDropped, "DBCC CHECKDB", kGivenBack}}},
         false,
         {"BACKUP DATABASE", "SET MULTI_USER"},
         true},
        {"no BACKUP right (262)",
         {},
         {},
         "gestor",
         {{kYes}},
         {},
         {{308, {}}, {0, {kNotDropped, "db_backupoperator", kGivenBack}}},
         false,
         {"BACKUP DATABASE", "SET MULTI_USER"}},
        {"compression refused (1844)",
         {{"backupFault", QJsonObject{{"kind", "compressionRefused"}}}},
         {{"edition", "Enterprise"}},
         "sa",
         {{kYes}},
         {},
         {{308, {}}, {0, {kNotDropped, "no admite copias comprimidas", kGivenBack}}},
         false,
         {"WITH COPY_ONLY, CHECKSUM, NOINIT", "SET MULTI_USER"}},
        {"no VIEW SERVER STATE: a bar without a percent",
         {},
         {},
         "dueno",
         {{kYes}},
         {},
         {{308, {}}, {64, {"comprobada con RESTORE VERIFYONLY"}}},
         true,
         kProvenAndDropped,
         false},
        {"no CREATE DATABASE: asked, Yes",
         {},
         {},
         "operador",
         {{kYes}, {kYes}},
         {},
         {{308, {}},
          {308,
           {"el servidor la ha confirmado (mensaje 3014)", "el permiso CREATE DATABASE",
            "¿Desea eliminar la base de datos sin esa comprobación?"}},
          {64, {"sin comprobar con RESTORE VERIFYONLY"}}},
         true,
         {"BACKUP DATABASE", "RESTORE VERIFYONLY", "DROP DATABASE"},
         true},
        {"no CREATE DATABASE: asked, No",
         {},
         {},
         "operador",
         {{kYes}, {kNo}},
         {},
         {{308, {}},
          {308, {"CREATE DATABASE"}},
          {64,
           {"No se ha eliminado la base de datos 'Ventas'. Su copia de seguridad final se queda "
            "en '%F/Tarvelo_Ventas_",
            kGivenBack}}},
         false,
         {"RESTORE VERIFYONLY", "SET MULTI_USER"},
         true},
        {"Azure SQL Database",
         {},
         {{"edition", "Azure SQL Database"}, {"version", "12.0.2000.8"}},
         "sa",
         {{kNo}},
         {},
         {{308,
           {"nunca.\r\nNo se puede hacer una copia de seguridad final: Azure SQL Database no "
            "admite BACKUP DATABASE"}}},
         false,
         {}},
        {"Azure SQL Managed Instance",
         {},
         {{"edition", "Azure SQL Managed Instance"}, {"version", "16.0.5100.1"}},
         "sa",
         {{kNo}},
         {},
         {{308, {"Managed Instance solo hace copias a una URL"}}},
         false,
         {}},
        {"Amazon RDS",
         {},
         {{"logins",
           QJsonArray{QJsonObject{{"name", "rdsa"}, {"password", "x"}, {"sysadmin", true}},
                      QJsonObject{{"name", "sa"}, {"password", "Secreto.1"}, {"sysadmin", true}},
                      kLogins[0], kLogins[1], kLogins[2]}},
          {"alsoDatabases", QJsonArray{QJsonObject{{"name", "rdsadmin"}}}},
          {"version", kSql2017}},
         "sa",
         {{kNo}},
         {},
         {{308, {"en Amazon RDS las copias nativas se hacen con msdb.dbo.rds_backup_database"}}},
         false,
         {}},
        {"offline",
         {{"state", "OFFLINE"}},
         {},
         "sa",
         {{kNo}},
         {},
         {{308,
           {"No se puede hacer una copia de seguridad final: la base de datos no está en "
            "línea (OFFLINE)."}}},
         false,
         {}},
        {"in use: the question before the backup, then the drop",
         {{"sessions", QJsonArray{QJsonObject{
                           {"login", "ana"}, {"host", "PC-ANA"}, {"program", "Contabilidad"}}}}},
         {},
         "sa",
         {{kYes}, {kYes}},
         {},
         {{308, {"Sesiones que la usan ahora: 1"}},
          {308, {"está en uso por estas sesiones:\r\n- ana en PC-ANA (Contabilidad)"}},
          {64, {"comprobada con RESTORE VERIFYONLY"}}},
         true,
         {"SET SINGLE_USER WITH NO_WAIT", "SET SINGLE_USER WITH ROLLBACK IMMEDIATE",
          "BACKUP DATABASE", "RESTORE VERIFYONLY", "DROP DATABASE"},
         true},
        {"a link lost during the backup",
         {},
         {{"faults",
           QJsonArray{QJsonObject{
               {"stage", "query"}, {"action", "loseLink"}, {"ms", 400}, {"statement", "BACKUP"}}}}},
         "sa",
         {{kYes}},
         {},
         {{308, {}},
          {0,
           {"Se ha perdido la conexión con el servidor durante la copia de seguridad final. La "
            "base "
            "de datos 'Ventas' no se ha eliminado y sigue en el servidor.",
            "La copia de seguridad se ha completado: msdb la registra en '%F/Tarvelo_Ventas_",
            kGivenBack}}},
         false,
         {"BACKUP DATABASE", "SET MULTI_USER"},
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString folder = c.folderMissing ? dir.path() + QStringLiteral("/falta") : dir.path();
        testing_support::TestServer server(stateFor(c.ventas, c.server, folder));
        const QJsonObject before = ventasIn(server.readState());
        testing_support::RecordingUi ui;
        for (const Reply& reply : c.answers) {
            if (reply.backup) {
                ui.answer(reply.value, *reply.backup);
            } else {
                ui.answer(reply.value);
            }
        }
        ui.allow(static_cast<int>(c.told.size()));
        if (c.cancelAt) {
            ui.cancelAtPercent(*c.cancelAt);
        }
        frmIni window;
        aimAt(window, server, QString::fromLatin1(c.login));
        window.findChild<QPushButton*>(QStringLiteral("cmElimina"))->click();

        ASSERT_EQ(ui.messages().size(), c.told.size())
            << ui.messageTexts().join("\n---\n").toStdString();
        for (std::size_t i = 0; i < c.told.size(); ++i) {
            EXPECT_EQ(ui.messages()[i].style, c.told[i].style) << i;
            // The text, and below it the check box's label, if any.
            const QString shown = ui.messages()[i].text + u'\n' + ui.messages()[i].option;
            for (const char* part : c.told[i].contains) {
                const QString expected = QString::fromUtf8(part).replace("%F", folder);
                EXPECT_TRUE(shown.contains(expected))
                    << "expected '" << expected.toStdString() << "' in:\n"
                    << shown.toStdString();
            }
        }
        EXPECT_FALSE(ui.progressOpen());
        const bool anyPercent =
            std::any_of(ui.progressPercents().begin(), ui.progressPercents().end(),
                        [](const std::optional<double>& p) { return p.has_value(); });
        if (c.percentShown) {
            EXPECT_EQ(anyPercent, *c.percentShown);
        }
        EXPECT_TRUE(sentInOrder(server, c.sent));
        EXPECT_EQ(statusOf(window), c.dropped ? kRemoved : (c.told.size() > 1 ? kFailed : ""));
        const QJsonObject after = ventasIn(server.readState());
        EXPECT_EQ(after.isEmpty(), c.dropped);
        if (!c.dropped) {
            // Its access as before; a backup that completed may be listed.
            QJsonObject kept = after;
            kept.remove("backups");
            QJsonObject earlier = before;
            earlier.remove("backups");
            EXPECT_EQ(kept, earlier);
        } else {
            EXPECT_FALSE(QDir(folder).entryList({"Tarvelo_Ventas_*.bak"}).isEmpty());
        }
    }
}

// What the message after the drop names brings the database back, through
// another client.
TEST(FinalBackup, TheRestoreStatementItNamesBringsTheDatabaseBack) {
    QTemporaryDir dir;
    testing_support::TestServer server(stateFor({}, {}, dir.path()));
    testing_support::RecordingUi ui;
    ui.answer(kYes).allow(1);
    frmIni window;
    aimAt(window, server, QStringLiteral("sa"));
    window.findChild<QPushButton*>(QStringLiteral("cmElimina"))->click();
    ASSERT_EQ(ui.messages().size(), 2u);
    ASSERT_TRUE(ventasIn(server.readState()).isEmpty());
    const QRegularExpressionMatch restore =
        QRegularExpression(QStringLiteral("RESTORE DATABASE \\[Ventas\\] FROM DISK = N'[^']*'"))
            .match(ui.messages()[1].text);
    ASSERT_TRUE(restore.hasMatch()) << ui.messages()[1].text.toStdString();

    QProcess tsql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    tsql.setProcessEnvironment(env);
    tsql.start(QStringLiteral("tsql"), {"-H", server.host(), "-p", QString::number(server.port()),
                                        "-U", "sa", "-P", "Secreto.1", "-o", "q"});
    tsql.write((restore.captured(0) + QStringLiteral("\ngo\nexit\n")).toUtf8());
    tsql.closeWriteChannel();
    ASSERT_TRUE(tsql.waitForFinished(20000)) << "waited 20 s for tsql";
    const QJsonObject back = ventasIn(server.readState());
    EXPECT_EQ(back["name"].toString(), QStringLiteral("Ventas"))
        << tsql.readAllStandardOutput().toStdString();
    EXPECT_EQ(back["owner"].toString(), QStringLiteral("dueno"));
}

} // namespace
