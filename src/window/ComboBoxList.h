#pragma once
// The window's drop-down list as the list that CargaBBDD fills, on the UI
// thread or from work running off it.

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

// The list as work off the UI thread fills it: every call reaches the combo
// box on the UI thread, the names added in batches that always come before
// the work's next step there (a message box included); once the work is
// abandoned, none does (and the count reads 0).
class UiThreadList final : public ListaBBDD {
public:
    explicit UiThreadList(QComboBox& combo) : list_(combo) {}

    void Clear() override;
    void AddItem(const QString& sNombre) override;
    int ListCount() const override;

private:
    ComboBoxList list_;
};

} // namespace window
