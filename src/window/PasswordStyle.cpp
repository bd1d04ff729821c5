#include "PasswordStyle.h"

namespace window {

int PasswordStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const {
    if (hint == SH_LineEdit_PasswordCharacter) {
        return '*';
    }
    // Every typed character is masked at once, never shown for a moment.
    if (hint == SH_LineEdit_PasswordMaskDelay) {
        return 0;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

} // namespace window
