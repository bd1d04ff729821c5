#include "VisibleName.h"

namespace text {

namespace {

bool isInvisible(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

QString codePointText(char32_t c) {
    return QStringLiteral("<U+") +
           QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, u'0') + u'>';
}

} // namespace

QString visibleName(const QString& name) {
    QString shown;
    shown.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        // A surrogate pair is one character; a lone surrogate stays as it is.
        const bool pair =
            name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(name[i], name[i + 1]) : name[i].unicode();
        if (isInvisible(c)) {
            shown += codePointText(c);
        } else {
            shown += QStringView(name).sliced(i, pair ? 2 : 1);
        }
        i += pair ? 1 : 0;
    }
    return shown;
}

} // namespace text
