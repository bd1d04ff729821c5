#pragma once
// CommonDialog: the file-open dialog control that a caller of
// cArch::BrowseFile places on its window, with the control's properties.
// ShowOpen shows the modal file-open chooser of the UI services; when the
// user picks a file, FileName holds it in Windows notation and FilterIndex
// the filter shown; a cancelled dialog leaves both as they were.

#include <QString>
#include <QStringList>
#include <cstdint>

class CommonDialog {
public:
    std::int32_t Flags() const { return m_flags; }
    void setFlags(std::int32_t value) { m_flags = value; }
    // "Texto (*.txt)|*.txt|Todos (*.*)|*.*": description and patterns
    // (separated by ";") in turn.
    QString Filter() const { return m_filter; }
    void setFilter(const QString& value) { m_filter = value; }
    std::int16_t FilterIndex() const { return m_filterIndex; }
    void setFilterIndex(std::int16_t value) { m_filterIndex = value; }
    QString FileName() const { return m_fileName; }
    void setFileName(const QString& value) { m_fileName = value; }

    void ShowOpen();

private:
    std::int32_t m_flags = 0;
    QString m_filter;
    std::int16_t m_filterIndex = 0;
    QString m_fileName;
};

// The control's filter text as Qt's name filters: each description as the
// caller wrote it, then its patterns in parentheses, which the chooser
// hides ("Todos (*.*)|*.*" is "Todos (*.*) (*)" and reads "Todos (*.*)").
// "*.*" becomes "*", which on the host is what matches every name.
QStringList qtNameFilters(const QString& controlFilter);
