#pragma once
// The Qt implementation of the user-interface services.

#include "Services.h"

namespace ui {

class QtServices final : public Services {
public:
    int showMessage(const QString& text, int style) override;
    int showMessage(const QString& text, int style, const QString& option, bool& checked) override;
    std::unique_ptr<Progress> openProgress(const QString& title,
                                           std::function<void()> cancel) override;
    void setMousePointer(int value) override;
    int mousePointer() const override { return pointer_; }
    void processPendingEvents() override;
    void setWorking(bool working) override;

private:
    // `option`, when given: the check box's label, `checked` its state.
    int showBox(const QString& text, int style, const QString* option, bool* checked);
    void showPointer();

    int pointer_ = pointer::Default;
    bool working_ = false;
};

} // namespace ui
