#pragma once
// The texts of the messages the executor sends, in the two languages a
// session may speak: us_english and Spanish (SQL Server's Español, language
// 3082).  Same number, state and severity in both; only the text changes.

#include <QString>
#include <QStringList>

namespace engine {

enum class Language { English, Spanish };

// The name @@LANGUAGE and the language ENVCHANGE carry.
QString languageName(Language language);
// "Spanish" and "Español" in any case; every other name is English here.
bool isSpanishName(const QString& name);

// A message the executor raises: its number, severity and arguments, put
// into words in the session's language when it is sent.  `variant` tells
// apart the server's own texts that share a number with SQL Server's.
struct StatementError {
    int number;
    int severity;
    QStringList args = {};
    const char* variant = nullptr;
};

// The variant of a message whose text is its one argument, as it stands:
// the recogniser's syntax errors, which stay in English.
inline constexpr const char* kVerbatim = "verbatim";

// The text of message `number` (and `variant`) with %1, %2, ... filled in.
QString messageText(int number, Language language, const QStringList& args = {},
                    const char* variant = nullptr);

} // namespace engine
