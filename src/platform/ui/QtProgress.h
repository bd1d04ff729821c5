#pragma once
// The Qt progress window: a dialog, modal for the window it opens over,
// with the step's text, a bar, a line of detail and a "Cancelar" button.
// Escape and closing the window ask to stop as the button does.

#include "Services.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace ui {

class QtProgress final : public QDialog, public Progress {
public:
    QtProgress(const QString& title, std::function<void()> cancel, QWidget* parent);

    void setText(const QString& text) override;
    void setPercent(std::optional<double> percent) override;
    void setDetail(const QString& text) override;
    void setCancellable(bool cancellable) override;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void askToStop();

    std::function<void()> cancel_;
    QLabel* text_;
    QProgressBar* bar_;
    QLabel* detail_;
    QPushButton* button_;
};

} // namespace ui
