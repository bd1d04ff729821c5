#include "ComboBoxList.h"

#include "platform/ui/OffUiThread.h"

#include <QComboBox>

namespace window {

void ComboBoxList::Clear() {
    combo_.clear();
    combo_.clearEditText();
}

void ComboBoxList::AddItem(const QString& sNombre) {
    // Qt selects the first entry added to an empty list and copies it into
    // the text field; a list that is only being filled must not change what
    // the text field says.
    const int selected = combo_.currentIndex();
    const QString text = combo_.currentText();
    combo_.addItem(sNombre);
    if (combo_.currentIndex() != selected) {
        combo_.setCurrentIndex(selected);
        combo_.setEditText(text);
    }
}

int ComboBoxList::ListCount() const { return combo_.count(); }

void UiThreadList::Clear() {
    ui::onUiThread([this] { list_.Clear(); });
}

void UiThreadList::AddItem(const QString& sNombre) {
    ui::deferToUiThread([this, sNombre] { list_.AddItem(sNombre); });
}

int UiThreadList::ListCount() const {
    int count = 0;
    ui::onUiThread([&] { count = list_.ListCount(); });
    return count;
}

} // namespace window
