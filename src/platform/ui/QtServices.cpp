#include "QtServices.h"

#include "QtProgress.h"

#include <QApplication>
#include <QCheckBox>
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
    return showBox(text, style, nullptr, nullptr);
}

int QtServices::showMessage(const QString& text, int style, const QString& option, bool& checked) {
    return showBox(text, style, &option, &checked);
}

std::unique_ptr<Progress> QtServices::openProgress(const QString& title,
                                                   std::function<void()> cancel) {
    return std::make_unique<QtProgress>(title, std::move(cancel), QApplication::activeWindow());
}

int QtServices::showBox(const QString& text, int style, const QString* option, bool* checked) {
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
    if (option != nullptr) {
        auto* checkBox = new QCheckBox(*option); // the box owns it
        checkBox->setChecked(*checked);
        box.setCheckBox(checkBox);
    }
    // A question asked while work runs is answered with the pointer the
    // procedure set, not the busy one of the work.
    const bool working = working_;
    setWorking(false);
    const int chosen = box.exec();
    if (option != nullptr) {
        *checked = box.checkBox()->isChecked();
    }
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
