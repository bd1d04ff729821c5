#pragma once
// A progress display with a settable maximum and current value, driven by
// long operations; QProgressBarSink.h shows it on a QProgressBar.

namespace ui {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setValue(float value) = 0;
    virtual void setMaximum(float maximum) = 0;
};

} // namespace ui
