// The window's two commands against the test server, with the message boxes
// recorded and answered by the test.
#include "RecordingUi.h"
#include "ShortTimeouts.h"
#include "TestServer.h"
#include "platform/ui/OffUiThread.h"
#include "window/frmIni.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

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

// The confirmation of a database of the default state, which has never
// been backed up and which no session holds.
// The confirmation of a database never backed up, on a server that names
// no backup folder: the final backup is offered and proposed.
Message confirmation(const QString& name, const QString& serverName) {
    return {QStringLiteral("¿Está seguro que desea eliminar la base de datos '") + name +
                QStringLiteral("'?\r\nLa base de datos se eliminará y será irreversible.\r\n"
                               "Servidor: '") +
                serverName +
                QStringLiteral("'\r\nÚltima copia de seguridad completa: nunca; por eso se "
                               "propone hacer antes una copia de seguridad final.\r\nTamaño: "
                               "10,0 MB.\r\nSesiones que la usan ahora: ninguna."),
            308,
            QStringLiteral("Hacer antes una copia de seguridad final (solo copia) en la carpeta "
                           "de copias de seguridad del servidor"),
            true};
}

const QJsonObject kAnaAtWork{{"login", "ana"}, {"host", "PC-ANA"}, {"program", "Contabilidad"}};

QJsonObject stateWithOneDatabaseInUse() {
    QJsonObject state = testing_support::TestServer::defaultState();
    QJsonObject nominas{{"name", kNominas}, {"sessions", QJsonArray{kAnaAtWork}}};
    state["databases"] =
        QJsonArray{QJsonObject{{"name", "Ventas"}}, QJsonObject{{"name", "Compras"}}, nominas};
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
    for (const QStringList& values : cases) {
        SCOPED_TRACE(values.join('|').toStdString());
        ui.clear();
        ui.allow(1);
        fill(values[0], values[1], values[2]);
        list()->clear();
        list()->addItem(QStringLiteral("Anterior"));
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

// A listing cut short: the names read before the failure are in the list by
// the time its message comes up, and stay there.
TEST_F(WindowCommands, NamesReadBeforeAFailureAreListedWhenItsMessageComes) {
    QJsonObject state = testing_support::TestServer::defaultState();
    QJsonArray many;
    for (int i = 0; i < 3000; ++i) {
        many.append(QJsonObject{{"name", QStringLiteral("db%1").arg(i, 4, 10, QChar(u'0'))}});
    }
    state["databases"] = many;
    // Many packets: the driver hands over the rows of those that came whole.
    state["faults"] =
        QJsonArray{QJsonObject{{"stage", "rows"}, {"action", "close"}, {"after", 2000}}};
    testing_support::TestServer cut(state);
    fill(cut.serverName(), "sa", "Secreto.1");
    int listedAtMessage = -1;
    ui.onMessage = [&](const Message&) { listedAtMessage = list()->count(); };
    ui.allow(1);
    load();
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(QStringLiteral("CargaBBDD: ")));
    EXPECT_GT(list()->count(), 0);
    EXPECT_EQ(listedAtMessage, list()->count());
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
    ui.answer(7);
    remove();
    EXPECT_EQ(ui.messages(), (std::vector<Message>{confirmation("Ventas", server.serverName())}));
    EXPECT_EQ(server.readState(), before);
    // What the confirmation shows was only read.
    for (const QJsonObject& line : server.logLines()) {
        const QString statement = line["statement"].toString();
        EXPECT_FALSE(statement.startsWith(QStringLiteral("DROP")) ||
                     statement.startsWith(QStringLiteral("ALTER")))
            << statement.toStdString();
    }
    EXPECT_TRUE(removal()->isEnabled());
    EXPECT_EQ(status(), QString());
}

TEST_F(WindowCommands, ConfirmedRemovalDropsTheDatabaseAndDisablesTheButtonForGood) {
    loadAndPick(QStringLiteral("Compras"));
    ui.answer(6, false); // without a final backup
    remove();
    EXPECT_EQ(ui.messages(), (std::vector<Message>{confirmation("Compras", server.serverName())}));
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
    ui.allow(1);
    remove();
    // Told before any confirmation, while the server is asked.
    EXPECT_EQ(ui.messages(), (std::vector<Message>{{kMissingDatabase, 16}}));
    EXPECT_EQ(statusAtMessage.back(), QStringLiteral("Consultando la base de datos..."));
    EXPECT_EQ(status(), kFailed);
    EXPECT_FALSE(removal()->isEnabled());
    EXPECT_EQ(databasesOnServer(), (QStringList{"Ventas", "Compras", kNominas}));
}

// Only after the server refused with 3702: the holders are shown and the
// user decides.  No is the failure as before; Yes closes them and drops.
TEST_F(WindowCommands, RemovalOfADatabaseInUseOffersToCloseItsSessions) {
    struct Case {
        const char* name;
        int answer;
        const char* failure; // the server's text on the failure message's second line
        bool dropped;
    };
    const Case cases[] = {
        {"No", 7, "No se puede quitar la base de datos \"Nóminas 2024\" porque está en uso.",
         false},
        {"Yes", 6, nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::TestServer held(stateWithOneDatabaseInUse());
        frmIni window;
        auto* combo = window.findChild<QComboBox*>(QStringLiteral("cmbBDSQL"));
        window.findChild<QLineEdit*>(QStringLiteral("txtServerSQL"))->setText(held.serverName());
        window.findChild<QLineEdit*>(QStringLiteral("txtUserSQL"))->setText("sa");
        window.findChild<QLineEdit*>(QStringLiteral("txtPwdSQL"))->setText("Secreto.1");
        combo->setEditText(kNominas);
        ui.clear();
        ui.answer(6, false).answer(c.answer);
        if (c.failure) {
            ui.allow(1);
        }
        window.findChild<QPushButton*>(QStringLiteral("cmElimina"))->click();
        ASSERT_EQ(ui.messages().size(), c.failure ? 3u : 2u);
        EXPECT_EQ(ui.messages()[1].style, 308);
        EXPECT_TRUE(ui.messages()[1].text.contains(
            QStringLiteral("\r\n- ana en PC-ANA (Contabilidad)\r\n")))
            << ui.messages()[1].text.toStdString();
        if (c.failure) {
            EXPECT_TRUE(ui.messages()[2].text.startsWith(
                QStringLiteral("BorraDBSQL: Error borrando la Base de Datos (SQL Server).\r\n")));
            EXPECT_TRUE(ui.messages()[2].text.contains(QString::fromUtf8(c.failure)))
                << ui.messages()[2].text.toStdString();
        }
        const QString status = window.findChild<QLabel*>(QStringLiteral("lblEstado"))->text();
        EXPECT_EQ(status, c.dropped ? kRemoved : kFailed);
        QStringList left;
        QJsonObject nominas;
        for (const QJsonValue& db : held.readState()["databases"].toArray()) {
            left << db["name"].toString();
            if (db["name"].toString() == kNominas) {
                nominas = db.toObject();
            }
        }
        EXPECT_EQ(left, c.dropped ? (QStringList{"Ventas", "Compras"})
                                  : (QStringList{"Ventas", "Compras", kNominas}));
        EXPECT_FALSE(nominas.contains("singleUser"));
        // No leaves the holders at work; Yes ended them.
        EXPECT_EQ(nominas.contains("sessions"), c.answer == 7 && !c.dropped);
    }
}

TEST_F(WindowCommands, RemovalWithEmptyConnectionFieldsGoesOnAndReportsTheFailure) {
    list()->setEditText(QStringLiteral("Ventas"));
    ui.allow(1);
    remove();
    // The server cannot be reached: the version probe says so, once, before
    // any confirmation.
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(QStringLiteral("zuConexionUtil.dimeTipoSQL")));
    EXPECT_EQ(status(), kFailed);
    EXPECT_FALSE(removal()->isEnabled());
    EXPECT_EQ(databasesOnServer(), (QStringList{"Ventas", "Compras", kNominas}));
}

// A list loaded from one server never serves another: changing the server
// or the login empties it, and the warning names the server the drop goes to.
TEST_F(WindowCommands, TheListFollowsTheServerAndLoginFields) {
    const std::pair<const char*, bool> changes[] = {
        {"txtServerSQL", true}, {"txtUserSQL", true}, {"txtPwdSQL", false}};
    for (const auto& [name, empties] : changes) {
        SCOPED_TRACE(name);
        loadAndPick(QStringLiteral("Ventas"));
        field(name)->setText(field(name)->text() + u'x');
        EXPECT_EQ(listed().isEmpty(), empties);
        EXPECT_EQ(list()->currentText().isEmpty(), empties);
    }
    const testing_support::TestServer other;
    fill(other.serverName(), "sa", "Secreto.1");
    list()->setEditText(QStringLiteral("Ventas"));
    ui.clear();
    ui.answer(7);
    remove();
    EXPECT_EQ(ui.messages(), (std::vector<Message>{confirmation("Ventas", other.serverName())}));
}

// While a command's work waits for the server the window answers events,
// shows the busy pointer and its status, and ignores input to its controls.
// A stalled load can be abandoned (Esc or closing): at once, with nothing of
// it shown afterwards.  A drop cannot: closing is refused with a word why.
TEST_F(WindowCommands, AStalledLoadCanBeAbandoned) {
    // Long enough that only a cut link ends the abandoned login in time.
    const testing_support::ShortTimeouts shortened(std::chrono::seconds(10));
    QJsonObject state = testing_support::TestServer::defaultState();
    state["faults"] = QJsonArray{QJsonObject{{"stage", "login"}, {"action", "stall"}}};
    testing_support::TestServer silent(state);
    for (const bool byClosing : {false, true}) {
        SCOPED_TRACE(byClosing ? "closing" : "Esc");
        fill(silent.serverName(), "sa", "Secreto.1");
        ui.clear();
        QStringList seen;
        bool busy = false;
        QTimer::singleShot(300, [&] {
            seen << status();
            busy = ui.working();
            QTest::keyClicks(field("txtServerSQL"), QStringLiteral("typed"));
            seen << field("txtServerSQL")->text();
            if (byClosing) {
                form.close();
            } else {
                QTest::keyClick(field("txtPwdSQL"), Qt::Key_Escape);
            }
        });
        QElapsedTimer took;
        took.start();
        load();
        EXPECT_LT(took.elapsed(), 1500) << "the load was not abandoned at once";
        EXPECT_EQ(seen, (QStringList{kLoading, silent.serverName()}));
        EXPECT_TRUE(busy);
        EXPECT_FALSE(ui.working());
        EXPECT_EQ(status(), QString());
        EXPECT_EQ(list()->count(), 0);
        EXPECT_EQ(ui.mousePointer(), 1);
        // The abandoned login's link is cut at once, and its message is not
        // shown.
        QElapsedTimer cut;
        cut.start();
        while (ui::workStillRunning() && cut.elapsed() < 5000) {
            QTest::qWait(20);
        }
        EXPECT_FALSE(ui::workStillRunning()) << "the abandoned login still waits on its link";
        EXPECT_TRUE(ui.messages().empty()) << ui.messages()[0].text.toStdString();
    }
    ui.clear();
    fillForTheServer();
    load();
    EXPECT_EQ(listed(), kAllNames);
}

TEST_F(WindowCommands, ASlowDropKeepsTheWindowAliveAndCannotBeAbandoned) {
    QJsonObject state = stateWithOneDatabaseInUse();
    state["faults"] = QJsonArray{QJsonObject{
        {"stage", "query"}, {"action", "delay"}, {"ms", 1500}, {"statement", "DROP DATABASE"}}};
    testing_support::TestServer slow(state);
    fill(slow.serverName(), "sa", "Secreto.1");
    list()->setEditText(QStringLiteral("Compras"));
    ui.answer(6, false).allow(1);
    // Escape and closing are tried once the drop itself runs, whenever the
    // steps before it end (a loaded machine takes its time over them).
    bool tried = false;
    bool closed = true;
    int ticks = 0;
    QTimer ticking;
    QObject::connect(&ticking, &QTimer::timeout, [&] {
        ++ticks;
        if (!tried && status() == kRemoving) {
            tried = true;
            QTest::keyClick(list(), Qt::Key_Escape);
            closed = form.close();
        }
    });
    ticking.start(100);
    remove();
    EXPECT_GE(ticks, 5) << "the window did not answer events during the drop";
    EXPECT_TRUE(tried) << "the drop's status never showed while it ran";
    EXPECT_FALSE(closed);
    ASSERT_EQ(ui.messages().size(), 2u);
    EXPECT_EQ(ui.messages()[1].style, 48);
    EXPECT_TRUE(ui.messages()[1].text.startsWith(
        QStringLiteral("La eliminación de la base de datos está en curso")));
    EXPECT_EQ(status(), kRemoved);
    QStringList left;
    for (const QJsonValue& db : slow.readState()["databases"].toArray()) {
        left << db["name"].toString();
    }
    EXPECT_EQ(left, (QStringList{"Ventas", kNominas}));
    // The outcome is announced and the focus stays in the window.
    EXPECT_EQ(control<QLabel>("lblEstado")->accessibleName(), kRemoved);
    EXPECT_EQ(form.focusWidget(), list());
}

} // namespace
