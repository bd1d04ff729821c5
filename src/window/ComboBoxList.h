#pragma once
// The window's drop-down list as the list that CargaBBDD fills.

#include "sqlserver/Varios.h"

class QComboBox;

namespace window {

class ComboBoxList final : public ListaBBDD {
public:
    explicit ComboBoxList(QComboBox& combo) : combo_(combo) {}

    void Clear() override;
    // Adds at the end of the list and leaves the text field and the
    // selection as they were.
    void AddItem(const QString& sNombre) override;
    int ListCount() const override;

private:
    QComboBox& combo_;
};

} // namespace window
