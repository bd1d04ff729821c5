// The removal's confirmation through the real Qt message box, offscreen: it
// names the database and the server literally, whatever markup or invisible characters the
// name holds, and answering No changes nothing.
#include "TestServer.h"
#include "platform/ui/QtServices.h"
#include "window/frmIni.h"

#include <QApplication>
#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

struct Shown {
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    Qt::TextFormat labelFormat = Qt::AutoText;
};

// Clicks the removal button with `name` typed in the list and answers the
// first box with Esc, recording what the box showed.
Shown confirmationFor(const QString& name, const QString& serverName) {
    ui::QtServices services;
    ui::install(&services);
    frmIni form;
    form.findChild<QLineEdit*>(QStringLiteral("txtServerSQL"))->setText(serverName);
    form.findChild<QLineEdit*>(QStringLiteral("txtUserSQL"))->setText(QStringLiteral("sa"));
    form.findChild<QLineEdit*>(QStringLiteral("txtPwdSQL"))->setText(QStringLiteral("Secreto.1"));
    auto* combo = form.findChild<QComboBox*>(QStringLiteral("cmbBDSQL"));
    combo->setEditText(name);
    Shown shown;
    bool seen = false;
    // The box comes once the server has told what it knows of the database.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || seen) {
            return;
        }
        seen = true;
        shown.text = box->text();
        shown.format = box->textFormat();
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
            shown.labelFormat = label->textFormat();
        }
        QTest::keyClick(box, Qt::Key_Escape);
    });
    poll.start(20);
    form.findChild<QPushButton*>(QStringLiteral("cmElimina"))->click();
    EXPECT_TRUE(seen) << "no confirmation box was shown";
    EXPECT_TRUE(form.findChild<QPushButton*>(QStringLiteral("cmElimina"))->isEnabled());
    ui::install(nullptr);
    return shown;
}

TEST(Confirmation, NamesTheDatabaseAndTheServerLiterallyWithInvisibleCharactersShown) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("<b>Ventas</b>"), QStringLiteral("<b>Ventas</b>")},
        {QStringLiteral("a&lt;b"), QStringLiteral("a&lt;b")},
        {QStringLiteral("<img src=x>"), QStringLiteral("<img src=x>")},
        {QStringLiteral(" Nóminas  2024 "), QStringLiteral(" Nóminas  2024 ")},
        {QStringLiteral("x\ny"), QStringLiteral("x<U+000A>y")},
        {QStringLiteral("Ventas") + QChar(0x200B), QStringLiteral("Ventas<U+200B>")},
        {QChar(0x202E) + QStringLiteral("satneV"), QStringLiteral("<U+202E>satneV")},
        {QStringLiteral("a") + QChar(0x2028) + QChar(0xFEFF) + QChar(0x2066) + QChar(0x7F),
         QStringLiteral("a<U+2028><U+FEFF><U+2066><U+007F>")},
        // A format character beyond the first plane is one character.
        {QStringLiteral("t") + QString::fromUcs4(U"\U000E0001"), QStringLiteral("t<U+E0001>")},
    };
    QJsonObject state = testing_support::TestServer::defaultState();
    QJsonArray databases;
    for (const auto& named : cases) {
        databases.append(QJsonObject{{"name", named.first}});
    }
    state["databases"] = databases;
    const testing_support::TestServer server(state);
    for (const auto& [name, written] : cases) {
        SCOPED_TRACE(name.toStdString());
        const Shown shown = confirmationFor(name, server.serverName());
        EXPECT_TRUE(shown.text.startsWith(
            QStringLiteral("¿Está seguro que desea eliminar la base de datos '") + written +
            QStringLiteral("'?\r\nLa base de datos se eliminará y será irreversible.\r\n"
                           "Servidor: '") +
            server.serverName() + QStringLiteral("'\r\n")))
            << shown.text.toStdString();
        EXPECT_EQ(shown.format, Qt::PlainText);
        EXPECT_EQ(shown.labelFormat, Qt::PlainText);
    }
}

} // namespace
