#pragma once
// zuListaTokens: splits a text into tokens at separator characters and keeps
// the non-empty ones as a 0-based list that can be counted, read by position
// and searched without regard to case.  getToken also serves on its own as a
// tokenizer that takes one token at a time off the front of a text.
//
// Every separator set is a set of characters: each character of it separates
// on its own.  Characters are UTF-16 code units.

#include <QString>
#include <QStringList>

#include <cstdint>

class zuListaTokens {
public:
    // Replaces the list with the non-empty tokens of sLista.
    void setLista(QString sLista, const QString& sSep);
    // The token at Index; out of range: a critical message box and "".
    QString item(std::int32_t Index);
    std::int32_t Count() const { return m_count; }
    // Whether a stored token equals sToken, both upper-cased.
    bool bExisteItem(QString sToken);
    // Takes the first token off s, together with the one separator that
    // ended it, and returns the token.  Without a separator in s the whole
    // of s is the token and s becomes empty.
    QString getToken(QString& s, QString Sep);

private:
    std::int32_t m_count = 0;
    QString m_lista; // the text last given to setLista
    // Entries 0 to m_count - 1 are the tokens; none is empty.
    QStringList m_tokens;
};
