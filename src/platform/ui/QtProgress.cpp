#include "QtProgress.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace ui {

namespace {
constexpr int kMinimumWidth = 420;

// A screen reader hears a label when its accessible name changes.
void say(QLabel* label, const QString& text) {
    label->setText(text);
    label->setAccessibleName(text);
}
} // namespace

QtProgress::QtProgress(const QString& title, std::function<void()> cancel, QWidget* parent)
    : QDialog(parent), cancel_(std::move(cancel)), text_(new QLabel(this)),
      bar_(new QProgressBar(this)), detail_(new QLabel(this)),
      button_(new QPushButton(QStringLiteral("Cancelar"), this)) {
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(kMinimumWidth);
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    detail_->setTextFormat(Qt::PlainText);
    bar_->setRange(0, 0);
    bar_->setAccessibleName(title);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(bar_);
    layout->addWidget(detail_);
    layout->addWidget(button_, 0, Qt::AlignRight);
    connect(button_, &QPushButton::clicked, this, [this] { askToStop(); });
    show();
    button_->setFocus(Qt::OtherFocusReason);
}

void QtProgress::setText(const QString& text) { say(text_, text); }

void QtProgress::setPercent(std::optional<double> percent) {
    if (!percent) {
        bar_->setRange(0, 0); // moves without a percent
        return;
    }
    bar_->setRange(0, 100);
    bar_->setValue(static_cast<int>(std::floor(std::clamp(*percent, 0.0, 100.0))));
}

void QtProgress::setDetail(const QString& text) { say(detail_, text); }

void QtProgress::setCancellable(bool cancellable) { button_->setEnabled(cancellable); }

void QtProgress::reject() { askToStop(); }

void QtProgress::closeEvent(QCloseEvent* event) {
    event->ignore(); // the work closes the window when it ends
    askToStop();
}

void QtProgress::askToStop() {
    if (!button_->isEnabled() || !cancel_) {
        return;
    }
    button_->setEnabled(false);
    const std::function<void()> cancel = std::move(cancel_);
    cancel_ = nullptr;
    cancel();
}

} // namespace ui
