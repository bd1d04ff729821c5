// The Qt message-box and pointer services on the offscreen platform.  A
// timer plays the user: it finds the modal box, records what it shows and
// presses a key.
#include "platform/ui/OffUiThread.h"
#include "platform/ui/QtServices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

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

// Work off the UI thread, driven directly: its result, a question it asks
// the UI thread in the middle of its steps, and a call the user gives up.
TEST(OffUiThread, ResultsQuestionsAndAbandonment) {
    {
        int result = 0;
        ui::OffUiThreadCall call([&result] { result = 42; });
        EXPECT_TRUE(call.wait());
        EXPECT_EQ(result, 42);
    }
    {
        std::vector<QString> steps;
        std::thread::id askedOn;
        ui::OffUiThreadCall call([&] {
            steps.push_back(QStringLiteral("antes"));
            EXPECT_TRUE(ui::onUiThread([&] {
                askedOn = std::this_thread::get_id();
                steps.push_back(QStringLiteral("pregunta"));
            }));
            steps.push_back(QStringLiteral("después"));
        });
        EXPECT_TRUE(call.wait());
        EXPECT_EQ(askedOn, std::this_thread::get_id());
        EXPECT_EQ(steps, (std::vector<QString>{"antes", "pregunta", "después"}));
    }
    {
        auto release = std::make_shared<std::atomic<bool>>(false);
        auto askedAfter = std::make_shared<std::atomic<int>>(-1);
        auto call = std::make_unique<ui::OffUiThreadCall>([release, askedAfter] {
            while (!release->load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            *askedAfter = ui::onUiThread([] {}) ? 1 : 0;
        });
        QTimer::singleShot(50, [&call] { call->abandon(); });
        EXPECT_FALSE(call->wait());
        EXPECT_TRUE(ui::workStillRunning());
        call.reset(); // an abandoned call does not wait for its work
        release->store(true);
        QElapsedTimer waited;
        waited.start();
        while (ui::workStillRunning() && waited.elapsed() < 5000) {
            QTest::qWait(10);
        }
        EXPECT_FALSE(ui::workStillRunning()) << "the abandoned work did not end";
        EXPECT_EQ(askedAfter->load(), 0) << "an abandoned call's question still ran";
    }
}
