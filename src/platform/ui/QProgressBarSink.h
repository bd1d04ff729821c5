#pragma once
// The progress sink shown on a QProgressBar.

#include "ProgressSink.h"

class QProgressBar;

namespace ui {

class QProgressBarSink final : public ProgressSink {
public:
    explicit QProgressBarSink(QProgressBar& bar) : bar_(bar) {}
    void setValue(float value) override;
    void setMaximum(float maximum) override;

private:
    QProgressBar& bar_;
};

} // namespace ui
