// The removal command against servers whose database cannot simply be
// dropped, or whose drop leaves something behind, and the rule that no
// second command starts while one runs, whatever the way in.
#include "RecordingUi.h"
#include "ShortTimeouts.h"
#include "TestServer.h"
#include "window/frmIni.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using testing_support::Message;

const QString kRemoved = QStringLiteral("Base de datos eliminada correctamente.");
const QString kFailed =
    QStringLiteral("Se han producido errores durante la eliminación de la base de datos.");

const QJsonObject kAna{{"login", "ana"}, {"host", "PC-ANA"}, {"program", "Contabilidad"}};

// What one message must hold: its style and a text it contains.
struct Told {
    int style;
    const char* contains;
};

struct Case {
    const char* name;
    QJsonObject ventas; // Ventas' keys beside its name
    QJsonArray others;  // the server's other databases
    QJsonArray faults;
    const char* version; // the product the server claims
    std::vector<int> answers;
    std::vector<Told> told; // every message, in order
    bool dropped;
    const char* status;
    const char* neverSent = nullptr; // a statement the server must not get
    QJsonArray denied = {};          // catalogue views sa may not read
};

QJsonObject stateFor(const Case& c) {
    QJsonObject state = testing_support::TestServer::defaultState();
    state["version"] = QString::fromLatin1(c.version);
    QJsonObject ventas = c.ventas;
    ventas["name"] = "Ventas";
    QJsonArray databases{ventas};
    for (const QJsonValue& other : c.others) {
        databases.append(other);
    }
    state["databases"] = databases;
    if (!c.faults.isEmpty()) {
        state["faults"] = c.faults;
    }
    QJsonArray logins = state["logins"].toArray();
    QJsonObject sa = logins[0].toObject();
    sa["deny"] = c.denied;
    logins[0] = sa;
    state["logins"] = logins;
    return state;
}

QString statusOf(frmIni& window) {
    return window.findChild<QLabel*>(QStringLiteral("lblEstado"))->text();
}

void aimAt(frmIni& window, const testing_support::TestServer& server) {
    window.findChild<QLineEdit*>(QStringLiteral("txtServerSQL"))->setText(server.serverName());
    window.findChild<QLineEdit*>(QStringLiteral("txtUserSQL"))->setText("sa");
    window.findChild<QLineEdit*>(QStringLiteral("txtPwdSQL"))->setText("Secreto.1");
    window.findChild<QComboBox*>(QStringLiteral("cmbBDSQL"))->setEditText("Ventas");
}

bool serverGot(const testing_support::TestServer& server, const QString& statement) {
    for (const QJsonObject& line : server.logLines()) {
        if (line["statement"].toString().contains(statement)) {
            return true;
        }
    }
    return false;
}

// Each condition a real server's database may be in: what the user reads
// before any confirmation (or in it), and what the server holds afterwards.
TEST(RemovalConditions, EachIsToldBeforeTheDropAndOnlyADroppableDatabaseGoes) {
    const char* sql2008 = "10.50.6000.34";
    const char* sql2019 = "15.0.2000.5";
    const Case cases[] = {
        {"a snapshot refers to it",
         {},
         {QJsonObject{{"name", "Ventas_Instantánea"}, {"snapshotOf", "Ventas"}}},
         {},
         sql2008,
         {},
         {{16, "'Ventas_Instantánea'. Elimínelas antes con DROP DATABASE [Ventas_Instantánea];"}},
         false,
         ""},
        {"published for replication",
         {{"replicated", true}},
         {},
         {},
         sql2008,
         {},
         {{16, "replicación con EXEC sp_removedbreplication N'Ventas';"}},
         false,
         ""},
        {"mirrored",
         {{"mirrored", true}},
         {},
         {},
         sql2008,
         {},
         {{16, "ALTER DATABASE [Ventas] SET PARTNER OFF;"}},
         false,
         ""},
        {"primary of an availability group",
         {{"availabilityGroup", QJsonObject{{"name", "GA_Ventas"}, {"role", "PRIMARY"}}}},
         {},
         {},
         sql2019,
         {},
         {{16, "'GA_Ventas', y esta réplica es la principal. Sáquela antes del grupo en la réplica "
               "principal, ALTER AVAILABILITY GROUP [GA_Ventas] REMOVE DATABASE [Ventas];"}},
         false,
         ""},
        {"secondary of an availability group",
         {{"availabilityGroup", QJsonObject{{"name", "GA_Ventas"}, {"role", "SECONDARY"}}}},
         {},
         {},
         sql2019,
         {},
         {{16, "esta réplica es secundaria. Sáquela antes del grupo en esta réplica con ALTER "
               "DATABASE [Ventas] SET HADR OFF;"}},
         false,
         ""},
        {"log shipping primary, a warning in the confirmation",
         {{"logShipping", "primary"}},
         {},
         {},
         sql2008,
         {7},
         {{308, "sp_delete_log_shipping_primary_database N'Ventas';"}},
         false,
         ""},
        {"last full backup and its device",
         {{"backups", QJsonArray{QJsonObject{{"finished", "2026-11-30T22:15:03"},
                                             {"type", "D"},
                                             {"device", "/var/opt/mssql/backup/Ventas.bak"}},
                                 QJsonObject{{"finished", "2026-12-01T08:00:00"},
                                             {"type", "L"},
                                             {"device", "/var/opt/mssql/backup/Ventas.trn"}}}}},
         {},
         {},
         sql2008,
         {7},
         {{308, "\r\nÚltima copia de seguridad completa: 30/11/2026 22:15:03 (hora del servidor), "
                "en '/var/opt/mssql/backup/Ventas.bak'; tiene más de 24 horas, por eso se propone "
                "hacer antes una copia de seguridad final.\r\nTamaño: 10,0 MB.\r\n"}},
         false,
         ""},
        {"the only full backup is of an earlier database of that name",
         {{"created", "2026-06-01T12:00:00"},
          {"backups", QJsonArray{QJsonObject{{"finished", "2026-05-30T22:15:03"},
                                             {"type", "D"},
                                             {"device", "/var/opt/mssql/backup/Ventas.bak"},
                                             {"databaseCreated", "2025-02-03T08:00:00"}}}}},
         {},
         {},
         sql2008,
         {7},
         {{308, "\r\nÚltima copia de seguridad completa: nunca (las que guarda msdb con este "
                "nombre son de una base de datos anterior); por eso se propone hacer antes una "
                "copia de seguridad final.\r\n"}},
         false,
         ""},
        {"offline: dropped, its files named",
         {{"state", "OFFLINE"}},
         {},
         {},
         sql2008,
         {6},
         {{308, "Estado: OFFLINE (no está en línea).\r\nTamaño: 10,0 MB.\r\nSesiones que la usan "
                "ahora: ninguna.\r\nLa base de datos está fuera de línea: sus archivos se quedarán "
                "en el disco del servidor:\r\n- /var/opt/mssql/data/Ventas.mdf\r\n"},
          {64, "se han quedado en el disco del servidor:\r\n- /var/opt/mssql/data/Ventas.mdf\r\n- "
               "/var/opt/mssql/data/Ventas_log.ldf"}},
         true,
         "Base de datos eliminada correctamente."},
        {"restoring and held: no single-user attempt",
         {{"state", "RESTORING"}, {"sessions", QJsonArray{kAna}}},
         {},
         {},
         sql2008,
         {6},
         {{308, "Estado: RESTORING (no está en línea)."},
          {0, "porque está en uso.\r\nLa base de datos no está en línea (RESTORING)"}},
         false,
         "Se han producido errores durante la eliminación de la base de datos.",
         "SINGLE_USER"},
        {"a running backup is named with its progress",
         {{"running", QJsonObject{{"command", "BACKUP DATABASE"}, {"percent", 42.0}}}},
         {},
         {},
         sql2008,
         {6, 7},
         {{308, "En curso sobre ella: BACKUP DATABASE, completado al 42 %."},
          {308, "Sobre ella se está ejecutando BACKUP DATABASE, completado al 42 %."},
          {0, "No se puede quitar la base de datos \"Ventas\" porque está en uso."}},
         false,
         "Se han producido errores durante la eliminación de la base de datos."},
        {"a session takes the single slot first",
         {{"sessions", QJsonArray{kAna}},
          {"slotTaker",
           QJsonObject{{"login", "luis"}, {"host", "PC-LUIS"}, {"program", "Informes"}}}},
         {},
         {},
         sql2008,
         {6, 6},
         {{308, "Sesiones que la usan ahora: 1 (ana en PC-ANA (Contabilidad))."},
          {308, "\r\n- ana en PC-ANA (Contabilidad)\r\n"},
          {0, "Otra sesión ha entrado en la base de datos en cuanto ha quedado con acceso de un "
              "solo usuario, antes que Tarvelo, y la base de datos no se ha eliminado."}},
         false,
         "Se han producido errores durante la eliminación de la base de datos."},
        {"a program name that reverses the text after it",
         {{"sessions",
           QJsonArray{QJsonObject{
               {"login", "ana"}, {"host", "PC-ANA"}, {"program", "Cont\u202Eabilidad"}}}}},
         {},
         {},
         sql2008,
         {6, 7},
         {{308, "(ana en PC-ANA (Cont<U+202E>abilidad))."},
          {308, "\r\n- ana en PC-ANA (Cont<U+202E>abilidad)\r\n"},
          {0, "porque está en uso."}},
         false,
         "Se han producido errores durante la eliminación de la base de datos."},
        {"facts sa may not read; the server's refusal then told as before the confirmation",
         {{"replicated", true}},
         {},
         {},
         sql2008,
         {6},
         {{308, "No se ha podido consultar: el estado, la replicación, las instantáneas, la "
                "última copia de seguridad."},
          {16, "replicación con EXEC sp_removedbreplication N'Ventas';"}},
         false,
         "Se han producido errores durante la eliminación de la base de datos.",
         nullptr,
         {"databases", "backupset"}},
        {"SQL Server 2000: state and files from sysdatabases and sysaltfiles",
         {{"state", "OFFLINE"}},
         {},
         {},
         "8.00.2039",
         {7},
         {{308, "Estado: OFFLINE (no está en línea).\r\nTamaño: 10,0 MB.\r\nSesiones que la usan "
                "ahora: ninguna.\r\nLa base de datos está fuera de línea: sus archivos se quedarán "
                "en el disco del servidor:\r\n- /var/opt/mssql/data/Ventas.mdf"}},
         false,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::TestServer server(stateFor(c));
        const QJsonObject before = server.readState();
        testing_support::RecordingUi ui;
        // A confirmation's final backup is left out: not what these cases are about.
        for (const int answer : c.answers) {
            ui.answer(answer, false);
        }
        ui.allow(static_cast<int>(c.told.size()));
        frmIni window;
        aimAt(window, server);
        window.findChild<QPushButton*>(QStringLiteral("cmElimina"))->click();

        ASSERT_EQ(ui.messages().size(), c.told.size())
            << ui.messageTexts().join("\n---\n").toStdString();
        for (std::size_t i = 0; i < c.told.size(); ++i) {
            EXPECT_EQ(ui.messages()[i].style, c.told[i].style) << i;
            EXPECT_TRUE(ui.messages()[i].text.contains(QString::fromUtf8(c.told[i].contains)))
                << ui.messages()[i].text.toStdString();
        }
        // An obstacle is told instead of the confirmation.
        if (!c.told.empty() && c.told[0].style == 16) {
            EXPECT_FALSE(serverGot(server, QStringLiteral("DROP DATABASE")));
        }
        if (c.neverSent) {
            EXPECT_FALSE(serverGot(server, QString::fromLatin1(c.neverSent)));
        }
        EXPECT_EQ(statusOf(window), QString::fromUtf8(c.status));
        bool ventasLeft = false;
        for (const QJsonValue& db : server.readState()["databases"].toArray()) {
            ventasLeft = ventasLeft || db["name"].toString() == u"Ventas";
        }
        EXPECT_EQ(ventasLeft, !c.dropped);
        if (!c.dropped && c.told.size() <= 1) {
            EXPECT_EQ(server.readState(), before);
        }
    }
}

// What the login may not drop is told before any confirmation, and a drop
// whose answer is lost is told as what is true once the server no longer
// runs it: gone, still there, or (past the wait's bound) still being removed.
TEST(RemovalConditions, WhatMayNotBeDroppedAndTheTruthAfterALostAnswer) {
    const testing_support::ShortTimeouts waitFour(
        std::chrono::seconds(15), std::chrono::seconds(30), std::chrono::seconds(4));
    const QJsonObject consulta{{"name", "consulta"}, {"password", "consulta"}};
    const QJsonObject dueno{{"name", "dueno"}, {"password", "dueno"}};
    const auto linkLostAt = [](int ms) {
        return QJsonArray{QJsonObject{{"stage", "query"},
                                      {"action", "loseLink"},
                                      {"ms", ms},
                                      {"statement", "DROP DATABASE"}}};
    };
    const char* lostButGone = "Se ha perdido la respuesta del servidor a la eliminación, pero la "
                              "base de datos 'Ventas' ya no está en el servidor: se ha eliminado.";
    const struct {
        const char* name;
        const char* database;
        QJsonObject ventas; // Ventas' keys beside its name
        QJsonArray faults;
        const QJsonObject* login; // none: sa
        std::vector<int> answers;
        std::vector<Told> told; // every message, in order
        bool dropped;
        const char* status;
        QJsonArray systemNames = {};
    } cases[] = {
        {"the link is lost while the drop still runs for 2 s",
         "Ventas",
         {{"dropTakes", 2000}},
         linkLostAt(300),
         nullptr,
         {6},
         {{308, "Sesiones que la usan ahora: ninguna."}, {64, lostButGone}},
         true,
         "Base de datos eliminada correctamente."},
        {"the link is lost while the drop runs past the wait",
         "Ventas",
         {{"dropTakes", 9000}},
         linkLostAt(300),
         nullptr,
         {6},
         {{308, "Sesiones que la usan ahora: ninguna."},
          {0, "El servidor sigue eliminando la base de datos: la orden que la elimina sigue en "
              "curso."}},
         false,
         "Se han producido errores durante la eliminación de la base de datos."},
        {"the link is lost after the drop has finished",
         "Ventas",
         {},
         QJsonArray{QJsonObject{
             {"stage", "query"}, {"action", "loseAnswer"}, {"statement", "DROP DATABASE"}}},
         nullptr,
         {6},
         {{308, "Sesiones que la usan ahora: ninguna."}, {64, lostButGone}},
         true,
         "Base de datos eliminada correctamente."},
        {"a db_owner that may not see other sessions waits for the database to go",
         "Ventas",
         {{"dropTakes", 2000}, {"dbOwners", QJsonArray{"dueno"}}},
         linkLostAt(300),
         &dueno,
         {6},
         {{308, "Sesiones que la usan ahora: ninguna."}, {64, lostButGone}},
         true,
         "Base de datos eliminada correctamente."},
        {"a login without the right to drop it",
         "Ventas",
         {},
         {},
         &consulta,
         {},
         {{16, "El inicio de sesión 'consulta' no tiene permiso para eliminarla: necesita el "
               "permiso CONTROL sobre la base de datos, el permiso ALTER ANY DATABASE en el "
               "servidor o pertenecer al rol db_owner de la base de datos."}},
         false,
         ""},
        {"master",
         "master",
         {},
         {},
         nullptr,
         {},
         {{16, "es una base de datos del sistema (master, model, msdb o tempdb), que SQL Server "
               "necesita para funcionar."}},
         false,
         ""},
        {"msdb under another name",
         "msdb_vieja",
         {},
         {},
         nullptr,
         {},
         {{16, "es una base de datos del sistema (master, model, msdb o tempdb)"}},
         false,
         "",
         QJsonArray{"master", "tempdb", "model", "msdb_vieja"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QJsonObject state = testing_support::TestServer::defaultState();
        QJsonObject ventas = c.ventas;
        ventas["name"] = "Ventas";
        state["databases"] = QJsonArray{ventas};
        state["faults"] = c.faults;
        QJsonArray logins = state["logins"].toArray();
        logins << consulta << dueno;
        state["logins"] = logins;
        if (!c.systemNames.isEmpty()) {
            state["systemNames"] = c.systemNames;
        }
        testing_support::TestServer server(state);
        const QJsonObject before = server.readState();
        testing_support::RecordingUi ui;
        // A confirmation's final backup is left out: not what these cases are about.
        for (const int answer : c.answers) {
            ui.answer(answer, false);
        }
        ui.allow(static_cast<int>(c.told.size()));
        frmIni window;
        aimAt(window, server);
        // The list follows the login: the name is typed after it.
        if (c.login) {
            window.findChild<QLineEdit*>(QStringLiteral("txtUserSQL"))
                ->setText((*c.login)["name"].toString());
            window.findChild<QLineEdit*>(QStringLiteral("txtPwdSQL"))
                ->setText((*c.login)["password"].toString());
        }
        window.findChild<QComboBox*>(QStringLiteral("cmbBDSQL"))
            ->setEditText(QString::fromUtf8(c.database));
        window.findChild<QPushButton*>(QStringLiteral("cmElimina"))->click();

        ASSERT_EQ(ui.messages().size(), c.told.size())
            << ui.messageTexts().join("\n---\n").toStdString();
        for (std::size_t i = 0; i < c.told.size(); ++i) {
            EXPECT_EQ(ui.messages()[i].style, c.told[i].style) << i;
            EXPECT_TRUE(ui.messages()[i].text.contains(QString::fromUtf8(c.told[i].contains)))
                << ui.messages()[i].text.toStdString();
        }
        EXPECT_EQ(statusOf(window), QString::fromUtf8(c.status));
        const bool refused = c.told[0].style == 16;
        EXPECT_EQ(window.findChild<QPushButton*>(QStringLiteral("cmElimina"))->isEnabled(),
                  refused);
        if (refused) {
            EXPECT_FALSE(serverGot(server, QStringLiteral("DROP DATABASE")));
        }
        bool ventasLeft = false;
        for (const QJsonValue& db : server.readState()["databases"].toArray()) {
            ventasLeft = ventasLeft || db["name"].toString() == u"Ventas";
        }
        EXPECT_EQ(ventasLeft, !c.dropped);
        if (!c.dropped) {
            EXPECT_EQ(server.readState(), before);
        }
    }
}

// An assistive technology presses buttons through their accessible action,
// around the input filter, and edits fields through their accessible text:
// while a load or a removal runs, neither starts anything or changes the list.
TEST(RemovalConditions, NoSecondCommandByAnAccessibleActionWhileWorkRuns) {
    for (const bool duringRemoval : {false, true}) {
        SCOPED_TRACE(duringRemoval ? "removal" : "load");
        QJsonObject state = testing_support::TestServer::defaultState();
        state["faults"] =
            QJsonArray{QJsonObject{{"stage", "query"},
                                   {"action", "delay"},
                                   {"ms", 1200},
                                   {"statement", duringRemoval ? "DROP" : "SELECT name"}}};
        testing_support::TestServer server(state);
        testing_support::RecordingUi ui;
        frmIni window;
        aimAt(window, server);
        auto* load = window.findChild<QPushButton*>(QStringLiteral("cmCargaBDSQL"));
        auto* removal = window.findChild<QPushButton*>(QStringLiteral("cmElimina"));
        auto* serverField = window.findChild<QLineEdit*>(QStringLiteral("txtServerSQL"));
        const QString serverName = serverField->text();
        QTimer::singleShot(500, [&] {
            for (QPushButton* button : {load, removal}) {
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
                accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            }
            QAccessibleInterface* field = QAccessible::queryAccessibleInterface(serverField);
            field->editableTextInterface()->insertText(0, QStringLiteral("otro"));
        });
        if (duringRemoval) {
            ui.answer(6, false);
            removal->click();
        } else {
            load->click();
        }
        // The accessible press's own click comes a moment later.
        QTest::qWait(300);
        EXPECT_EQ(ui.messages().size(), duringRemoval ? 1u : 0u)
            << ui.messageTexts().join("\n---\n").toStdString();
        EXPECT_EQ(serverField->text(), serverName);
        EXPECT_EQ(statusOf(window), duringRemoval ? kRemoved : QString());
        if (!duringRemoval) {
            EXPECT_GT(window.findChild<QComboBox*>(QStringLiteral("cmbBDSQL"))->count(), 0);
        }
    }
}

} // namespace
