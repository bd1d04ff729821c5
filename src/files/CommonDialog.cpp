#include "CommonDialog.h"

#include "platform/hostfs/HostPath.h"
#include "platform/ui/Dialogs.h"

#include <QFile>

namespace {

QString qtPatterns(const QString& controlPatterns) {
    QStringList patterns;
    for (const QString& pattern : controlPatterns.split(u';', Qt::SkipEmptyParts)) {
        const QString trimmed = pattern.trimmed();
        patterns << (trimmed == u"*.*" ? QStringLiteral("*") : trimmed);
    }
    return patterns.isEmpty() ? QStringLiteral("*") : patterns.join(u' ');
}

} // namespace

QStringList qtNameFilters(const QString& controlFilter) {
    QStringList filters;
    if (controlFilter.isEmpty()) {
        return filters;
    }
    const QStringList parts = controlFilter.split(u'|');
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString patterns = qtPatterns(i + 1 < parts.size() ? parts[i + 1] : QString());
        // The chooser hides the last "(...)" of each filter, so the patterns
        // always go there and the user reads the description as written.
        filters << description + QStringLiteral(" (") + patterns + u')';
    }
    return filters;
}

void CommonDialog::ShowOpen() {
    ui::FileOpenRequest request;
    request.flags = m_flags;
    request.nameFilters = qtNameFilters(m_filter);
    request.filterIndex = m_filterIndex;
    if (!m_fileName.isEmpty()) {
        request.fileName = QFile::decodeName(hostfs::resolve(m_fileName).path);
    }
    const ui::FileOpenAnswer answer = ui::dialogs().chooseFileToOpen(request);
    if (answer.accepted) {
        m_fileName = hostfs::windowsPathOf(answer.fileName);
        m_filterIndex = static_cast<std::int16_t>(answer.filterIndex);
    }
}
