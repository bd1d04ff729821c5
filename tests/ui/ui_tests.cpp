// The Qt message-box and pointer services on the offscreen platform.  A
// timer plays the user: it finds the modal box, records what it shows and
// presses a key.
#include "platform/ui/QtServices.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Shows a box through the Qt services and answers it by pressing `key`.
int showAndPress(int style, int key, SeenBox& seen) {
    QTimer::singleShot(0, [&seen, key] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        if (QAbstractButton* b = box->defaultButton()) {
            seen.defaultButton = box->standardButton(b);
        }
        QTest::keyClick(box, static_cast<Qt::Key>(key));
    });
    ui::QtServices services;
    return services.showMessage(QStringLiteral("¿Seguro?"), style);
}

TEST(QtMessageBox, ConfirmationDefaultsToNoOnEnterAndEscape) {
    SeenBox seen;
    EXPECT_EQ(showAndPress(ui::style::YesNoWarningDefaultNo, Qt::Key_Return, seen), ui::answer::No);
    EXPECT_EQ(seen.title, QStringLiteral("Tarvelo"));
    EXPECT_EQ(seen.text, QStringLiteral("¿Seguro?"));
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen.defaultButton, QMessageBox::No);
    EXPECT_EQ(showAndPress(ui::style::YesNoWarningDefaultNo, Qt::Key_Escape, seen), ui::answer::No);
}

TEST(QtMessageBox, ConfirmationAnswersYesOnlyWhenYesIsChosen) {
    SeenBox seen;
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Yes)->click();
    });
    ui::QtServices services;
    EXPECT_EQ(services.showMessage(QStringLiteral("x"), ui::style::YesNoWarningDefaultNo),
              ui::answer::Yes);
}

TEST(QtMessageBox, StylesGiveTheirIconsAndAnOkButton) {
    const std::pair<int, QMessageBox::Icon> cases[] = {
        {ui::style::Ok, QMessageBox::NoIcon},
        {ui::style::Critical, QMessageBox::Critical},
        {ui::style::Warning, QMessageBox::Warning},
        {ui::style::Information, QMessageBox::Information},
    };
    for (const auto& [style, icon] : cases) {
        SeenBox seen;
        EXPECT_EQ(showAndPress(style, Qt::Key_Return, seen), ui::answer::Ok) << style;
        EXPECT_EQ(seen.icon, icon) << style;
        EXPECT_EQ(seen.buttons, QMessageBox::Ok) << style;
        EXPECT_EQ(seen.title, QStringLiteral("Tarvelo")) << style;
    }
}

TEST(QtMousePointer, HourglassThenArrowThenDefault) {
    ui::QtServices services;
    services.setMousePointer(ui::pointer::Hourglass);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    services.setMousePointer(ui::pointer::Arrow);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    EXPECT_EQ(services.mousePointer(), ui::pointer::Arrow);
    services.setMousePointer(ui::pointer::Default);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// While work runs the screen shows the busy pointer whatever value the work
// sets, except over a question the work asks; afterwards, the value set.
TEST(QtMousePointer, BusyWhileWorkingButNotOverItsQuestions) {
    ui::QtServices services;
    auto shape = [] {
        return QGuiApplication::overrideCursor() ? QGuiApplication::overrideCursor()->shape()
                                                 : Qt::BitmapCursor; // none
    };
    services.setWorking(true);
    services.setMousePointer(ui::pointer::Arrow);
    EXPECT_EQ(shape(), Qt::WaitCursor);
    Qt::CursorShape overTheBox = Qt::BitmapCursor;
    QTimer::singleShot(0, [&] {
        overTheBox = shape();
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
    });
    services.showMessage(QStringLiteral("¿Seguro?"), ui::style::YesNoWarningDefaultNo);
    EXPECT_EQ(overTheBox, Qt::ArrowCursor);
    EXPECT_EQ(shape(), Qt::WaitCursor);
    services.setWorking(false);
    EXPECT_EQ(shape(), Qt::ArrowCursor);
    EXPECT_EQ(services.mousePointer(), ui::pointer::Arrow);
    services.setMousePointer(ui::pointer::Default);
}

} // namespace
