#include "QtServices.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>

namespace ui {

namespace {
QMessageBox::Icon iconFor(int style) {
    switch (style & 0x70) {
    case 16:
        return QMessageBox::Critical;
    case 32:
        return QMessageBox::Question;
    case 48:
        return QMessageBox::Warning;
    case 64:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}
} // namespace

int QtServices::showMessage(const QString& text, int style) {
    QMessageBox box(iconFor(style), QString::fromUtf8(kApplicationTitle), text,
                    QMessageBox::NoButton, QApplication::activeWindow());
    // Names, paths and server messages are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    const bool yesNo = (style & 0x7) == 4;
    if (yesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // Style bit 256 makes the second button, No, the default.
        box.setDefaultButton((style & 0x300) == 256 ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    // A question asked while work runs is answered with the pointer the
    // procedure set, not the busy one of the work.
    const bool working = working_;
    setWorking(false);
    const int chosen = box.exec();
    setWorking(working);
    if (chosen == QMessageBox::Yes) {
        return answer::Yes;
    }
    if (chosen == QMessageBox::No) {
        return answer::No;
    }
    return answer::Ok;
}

void QtServices::setMousePointer(int value) {
    pointer_ = value;
    showPointer();
}

void QtServices::setWorking(bool working) {
    working_ = working;
    showPointer();
}

void QtServices::showPointer() {
    if (pointer_ == pointer::Default && !working_) {
        while (QGuiApplication::overrideCursor()) {
            QGuiApplication::restoreOverrideCursor();
        }
        return;
    }
    const bool busy = working_ || pointer_ == pointer::Hourglass;
    const QCursor cursor(busy ? Qt::WaitCursor : Qt::ArrowCursor);
    if (QGuiApplication::overrideCursor()) {
        QGuiApplication::changeOverrideCursor(cursor);
    } else {
        QGuiApplication::setOverrideCursor(cursor);
    }
}

void QtServices::processPendingEvents() { QCoreApplication::processEvents(); }

} // namespace ui
