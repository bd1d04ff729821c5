#pragma once
// ODBC connection strings for the FreeTDS driver: KEY=value pairs, each
// ended by ";".  A value that holds ";", "{", "}" or "=" is enclosed in
// braces, by the rules of the FreeTDS version loaded:
// - up to 1.3, a braced value ends at the first "};" and "}" is never
//   doubled, so braces hold any text but one containing "};"; such a value
//   is refused with a clear message rather than sent cut short;
// - from 1.4, a "}" inside braces is written "}}", and any text fits.
// Every pair ends with ";" because FreeTDS 1.3 reads a braced value at the
// very end of the string with its closing brace.

#include <QString>

#include <optional>

namespace odbc {

enum class QuotingRules { FreeTds13, FreeTds14 };

// The rules of the FreeTDS version loaded (DriverVersion.h).
QuotingRules loadedDriverRules();

// The value as it must stand after "KEY=".  Throws a RuntimeError for a
// value the rules cannot carry.
QString quoteValue(const QString& value, QuotingRules rules);

class ConnectionStringBuilder {
public:
    // Without rules, those of the driver loaded, asked for only when a
    // value holds "}".
    explicit ConnectionStringBuilder(std::optional<QuotingRules> rules = std::nullopt)
        : rules_(rules) {}

    ConnectionStringBuilder& add(const QString& key, const QString& value);
    const QString& text() const { return text_; }

private:
    std::optional<QuotingRules> rules_;
    QString text_;
};

} // namespace odbc
