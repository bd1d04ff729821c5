#pragma once
// A progress display with a settable maximum and current value, driven by
// long operations; QProgressBarSink shows it on a QProgressBar.

class QProgressBar;

namespace ui {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setValue(float value) = 0;
    virtual void setMaximum(float maximum) = 0;
};

class QProgressBarSink final : public ProgressSink {
public:
    explicit QProgressBarSink(QProgressBar& bar) : bar_(bar) {}
    void setValue(float value) override;
    void setMaximum(float maximum) override;

private:
    QProgressBar& bar_;
};

} // namespace ui
