#pragma once
// The Qt implementation of the user-interface services.

#include "Services.h"

namespace ui {

class QtServices final : public Services {
public:
    int showMessage(const QString& text, int style) override;
    void setMousePointer(int value) override;
    int mousePointer() const override { return pointer_; }
    void processPendingEvents() override;
    void setWorking(bool working) override;

private:
    void showPointer();

    int pointer_ = pointer::Default;
    bool working_ = false;
};

} // namespace ui
