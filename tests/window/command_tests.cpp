// The window's two commands against the test server, with the message boxes
// recorded and answered by the test.
#include "RecordingUi.h"
#include "ShortTimeouts.h"
#include "TestServer.h"
#include "window/frmIni.h"

#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

using testing_support::Message;
using testing_support::UiEvent;
using Kind = testing_support::UiEvent::Kind;

const QString kMissingData = QStringLiteral(
    "Debe rellenar los datos necesarios para realizar la conexión con el servidor SQL "
    "Server.\r\n(Servidor, Usuario, Contraseña)");
const QString kLoading = QStringLiteral("Cargando bases de datos...");
const QString kRemoving = QStringLiteral("Eliminando base de datos...");
const QString kRemoved = QStringLiteral("Base de datos eliminada correctamente.");
const QString kFailed =
    QStringLiteral("Se han producido errores durante la eliminación de la base de datos.");
const QString kMissingDatabase = QStringLiteral("La Base de Datos a borrar no existe.");
const QString kNominas = QStringLiteral("Nóminas 2024");

QString confirmation(const QString& name) {
    return QStringLiteral("¿Está seguro que desea eliminar la base de datos '") + name +
           QStringLiteral("'?\r\nLa base de datos se eliminará y será irreversible.");
}

QJsonObject stateWithOneDatabaseInUse() {
    QJsonObject state = testing_support::TestServer::defaultState();
    state["databases"] =
        QJsonArray{QJsonObject{{"name", "Ventas"}}, QJsonObject{{"name", "Compras"}},
                   QJsonObject{{"name", kNominas}, {"inUse", true}}};
    return state;
}

class WindowCommands : public ::testing::Test {
protected:
    template <class W> W* control(const char* name) {
        return form.findChild<W*>(QString::fromLatin1(name));
    }
    QLineEdit* field(const char* name) { return control<QLineEdit>(name); }
    QComboBox* list() { return control<QComboBox>("cmbBDSQL"); }
    QPushButton* removal() { return control<QPushButton>("cmElimina"); }
    QString status() { return control<QLabel>("lblEstado")->text(); }

    void fill(const QString& serverName, const QString& login, const QString& password) {
        field("txtServerSQL")->setText(serverName);
        field("txtUserSQL")->setText(login);
        field("txtPwdSQL")->setText(password);
    }
    void fillForTheServer() { fill(server.serverName(), "sa", "Secreto.1"); }
    void load() { control<QPushButton>("cmCargaBDSQL")->click(); }
    void remove() { removal()->click(); }
    void loadAndPick(const QString& name) {
        fillForTheServer();
        load();
        list()->setCurrentIndex(list()->findText(name));
        ASSERT_EQ(list()->currentText(), name);
        ui.clear();
    }

    QStringList listed() {
        QStringList names;
        for (int i = 0; i < list()->count(); ++i) {
            names << list()->itemText(i);
        }
        return names;
    }
    QStringList databasesOnServer() {
        QStringList names;
        for (const QJsonValue& db : server.readState()["databases"].toArray()) {
            names << db["name"].toString();
        }
        return names;
    }
    // What the window shows at the moment a message box comes up.
    void watchStatusAtMessages() {
        ui.onMessage = [this](const Message&) {
            statusAtMessage << status();
            removalEnabledAtMessage.push_back(removal()->isEnabled());
            pointerAtMessage.push_back(ui.mousePointer());
        };
    }

    testing_support::RecordingUi ui;
    testing_support::TestServer server{stateWithOneDatabaseInUse()};
    frmIni form;
    QStringList statusAtMessage;
    std::vector<bool> removalEnabledAtMessage;
    std::vector<int> pointerAtMessage;
};

const QStringList kAllNames{"Compras", "master", "model", "msdb", kNominas, "tempdb", "Ventas"};

TEST_F(WindowCommands, LoadWithAnEmptyFieldOnlyWarns) {
    const QString serverName = server.serverName();
    const QStringList cases[] = {
        {"", "sa", "Secreto.1"}, {serverName, "", "Secreto.1"}, {serverName, "sa", ""}};
    list()->addItem(QStringLiteral("Anterior"));
    for (const QStringList& values : cases) {
        SCOPED_TRACE(values.join('|').toStdString());
        ui.clear();
        ui.allow(1);
        fill(values[0], values[1], values[2]);
        load();
        EXPECT_EQ(ui.events(), (std::vector<UiEvent>{{Kind::Message, kMissingData, 48}}));
        EXPECT_EQ(listed(), QStringList{"Anterior"});
        EXPECT_EQ(status(), QString());
    }
    EXPECT_TRUE(server.logLines().isEmpty());
}

TEST_F(WindowCommands, LoadSelectsTheFirstNameClearsTheStatusAndRestoresTheArrow) {
    fillForTheServer();
    for (int run = 0; run < 2; ++run) { // a second load replaces the list
        ui.clear();
        load();
        EXPECT_TRUE(ui.messages().empty());
        EXPECT_EQ(listed(), kAllNames);
        EXPECT_EQ(list()->currentIndex(), 0);
        EXPECT_EQ(list()->currentText(), QStringLiteral("Compras"));
        EXPECT_EQ(status(), QString());
        EXPECT_EQ(ui.events(), (std::vector<UiEvent>{{Kind::Pointer, {}, 11},
                                                     {Kind::Events, {}, 0},
                                                     {Kind::Events, {}, 0},
                                                     {Kind::Pointer, {}, 1}}));
    }
}

TEST_F(WindowCommands, BlanksCountAsFilledAndTheConnectionIsTried) {
    fill(server.serverName(), QStringLiteral(" "), QStringLiteral(" "));
    ui.allow(1);
    load();
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(QStringLiteral("CargaBBDD: ")));
    EXPECT_EQ(ui.pointers(), (std::vector<int>{11, 1}));
}

TEST_F(WindowCommands, FailedLoadLeavesTheListEmptyAndNothingSelected) {
    watchStatusAtMessages();
    for (const QString& password : {QStringLiteral("incorrecta"), QStringLiteral("Secreto.1")}) {
        SCOPED_TRACE(password.toStdString());
        list()->addItem(QStringLiteral("Anterior"));
        list()->setCurrentIndex(0);
        ui.clear();
        ui.allow(1);
        fill(server.serverName(), QStringLiteral("sa"), password);
        if (password == QStringLiteral("Secreto.1")) {
            server.stop(); // the server is no longer reachable
        }
        load();
        ASSERT_EQ(ui.messages().size(), 1u);
        EXPECT_TRUE(ui.messages()[0].text.startsWith(QStringLiteral("CargaBBDD: ")));
        EXPECT_EQ(ui.messages()[0].style, 0);
        EXPECT_EQ(statusAtMessage.back(), kLoading);
        EXPECT_EQ(pointerAtMessage.back(), 11);
        EXPECT_EQ(list()->count(), 0);
        EXPECT_EQ(list()->currentIndex(), -1);
        EXPECT_EQ(list()->currentText(), QString());
        EXPECT_EQ(status(), QString());
        EXPECT_EQ(ui.mousePointer(), 1);
        const auto& events = ui.events();
        ASSERT_EQ(events.size(), 5u);
        EXPECT_EQ(events[1].kind, Kind::Events);
        EXPECT_EQ(events[2].kind, Kind::Message);
        EXPECT_EQ(events[3].kind, Kind::Events);
    }
}

// A server that accepts and never answers, at the login or at the listing:
// the load gives up with its message and the window serves the next load.
TEST_F(WindowCommands, SilentServerIsGivenUpAndTheWindowLoadsAgain) {
    const testing_support::ShortTimeouts shortened;
    for (const char* stage : {"login", "query"}) {
        SCOPED_TRACE(stage);
        QJsonObject state = testing_support::TestServer::defaultState();
        state["faults"] = QJsonArray{QJsonObject{{"stage", stage}, {"action", "stall"}}};
        testing_support::TestServer silent(state);
        ui.clear();
        ui.allow(1);
        fill(silent.serverName(), "sa", "Secreto.1");
        load();
        ASSERT_EQ(ui.messages().size(), 1u);
        EXPECT_TRUE(ui.messages()[0].text.startsWith(
            QStringLiteral("CargaBBDD: El servidor no ha respondido en el tiempo de espera.")))
            << ui.messages()[0].text.toStdString();
        EXPECT_EQ(list()->count(), 0);
        EXPECT_EQ(status(), QString());
        EXPECT_EQ(ui.mousePointer(), 1);
    }
    ui.clear();
    fillForTheServer();
    load();
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(listed(), kAllNames);
}

TEST_F(WindowCommands, RemovalWithoutANameOnlyInforms) {
    ui.allow(1);
    remove();
    EXPECT_EQ(ui.messages(),
              (std::vector<Message>{
                  {QStringLiteral("Debe seleccionar la base de datos a eliminar."), 64}}));
    EXPECT_TRUE(removal()->isEnabled());
    EXPECT_EQ(status(), QString());
    EXPECT_TRUE(server.logLines().isEmpty());
}

TEST_F(WindowCommands, RemovalAnsweredNoChangesNothing) {
    loadAndPick(QStringLiteral("Ventas"));
    const QJsonObject before = server.readState();
    const qsizetype requestsBefore = server.logLines().size();
    ui.answer(7);
    remove();
    EXPECT_EQ(ui.messages(), (std::vector<Message>{{confirmation("Ventas"), 308}}));
    EXPECT_EQ(server.readState(), before);
    EXPECT_EQ(server.logLines().size(), requestsBefore);
    EXPECT_TRUE(removal()->isEnabled());
    EXPECT_EQ(status(), QString());
}

TEST_F(WindowCommands, ConfirmedRemovalDropsTheDatabaseAndDisablesTheButtonForGood) {
    loadAndPick(QStringLiteral("Compras"));
    ui.answer(6);
    remove();
    EXPECT_EQ(ui.messages(), (std::vector<Message>{{confirmation("Compras"), 308}}));
    EXPECT_EQ(status(), kRemoved);
    EXPECT_FALSE(removal()->isEnabled());
    EXPECT_EQ(databasesOnServer(), (QStringList{"Ventas", kNominas}));
    // The removed name stays listed until the next load.
    EXPECT_EQ(listed(), kAllNames);
    EXPECT_EQ(list()->currentText(), QStringLiteral("Compras"));

    ui.clear();
    load();
    EXPECT_FALSE(listed().contains(QStringLiteral("Compras")));
    EXPECT_FALSE(removal()->isEnabled());
}

TEST_F(WindowCommands, RemovalOfATypedNameTheServerLacksReportsTheFailure) {
    loadAndPick(QStringLiteral("Ventas"));
    list()->setEditText(QStringLiteral("Ventas "));
    watchStatusAtMessages();
    ui.answer(6).allow(1);
    remove();
    EXPECT_EQ(ui.messages(),
              (std::vector<Message>{{confirmation("Ventas "), 308}, {kMissingDatabase, 16}}));
    EXPECT_EQ(statusAtMessage.back(), kRemoving);
    EXPECT_FALSE(removalEnabledAtMessage.back());
    EXPECT_EQ(status(), kFailed);
    EXPECT_FALSE(removal()->isEnabled());
    EXPECT_EQ(databasesOnServer(), (QStringList{"Ventas", "Compras", kNominas}));
}

TEST_F(WindowCommands, RemovalOfADatabaseInUseReportsTheFailure) {
    loadAndPick(kNominas);
    ui.answer(6).allow(1);
    remove();
    ASSERT_EQ(ui.messages().size(), 2u);
    EXPECT_TRUE(ui.messages()[1].text.startsWith(
        QStringLiteral("BorraDBSQL: Error borrando la Base de Datos (SQL Server).\r\n")));
    EXPECT_EQ(status(), kFailed);
    EXPECT_FALSE(removal()->isEnabled());
    EXPECT_EQ(databasesOnServer(), (QStringList{"Ventas", "Compras", kNominas}));
}

TEST_F(WindowCommands, RemovalWithEmptyConnectionFieldsGoesOnAndReportsTheFailure) {
    list()->setEditText(QStringLiteral("Ventas"));
    ui.answer(6).allow(1);
    remove();
    // The server cannot be reached: the version probe says so, once, after
    // the confirmation.
    ASSERT_EQ(ui.messages().size(), 2u);
    EXPECT_TRUE(ui.messages()[1].text.startsWith(QStringLiteral("zuConexionUtil.dimeTipoSQL")));
    EXPECT_EQ(status(), kFailed);
    EXPECT_FALSE(removal()->isEnabled());
    EXPECT_EQ(databasesOnServer(), (QStringList{"Ventas", "Compras", kNominas}));
}

} // namespace
