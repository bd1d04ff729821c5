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

private:
    int pointer_ = pointer::Default;
};

} // namespace ui
