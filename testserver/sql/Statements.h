#pragma once
// Recognises the T-SQL that this server answers and turns a batch into
// statements, or into the syntax error SQL Server would give for it.
// Keywords compare without regard to case; white space, line breaks, "--"
// and nested "/* */" comments and ";" between statements are accepted.
// Identifiers may be plain, [bracketed] (with "]]" for "]") or "double
// quoted" (with "" for "); names carry their unquoted value.

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace sql {

// A scalar expression in a select list.
struct Expr {
    enum class Kind {
        ServerProperty, // SERVERPROPERTY('name'): text = the property name
        GlobalVariable, // @@VERSION ...: text = the name without "@@", upper case
        DbName,         // DB_NAME() or DB_NAME(arg)
        DbId,           // DB_ID() or DB_ID('name')
        Column,         // a column of the FROM object: text = its name
        Star,           // *
        Integer,        // number
        String,         // 'text' or N'text'
    };
    Kind kind = Kind::Integer;
    QString text;
    qint64 number = 0;
    // DB_NAME's or DB_ID's argument, when given: a column, a number or a text.
    std::optional<Kind> argKind;
    QString argText;
    qint64 argNumber = 0;
};

struct SelectItem {
    Expr expr;
    std::optional<QString> alias;
};

// A one- to four-part object name; parts may be empty ("master..x").
struct ObjectName {
    QStringList parts;
    QString written; // as SQL Server quotes it in messages: the parts joined by "."
};

struct OrderItem {
    QString column; // a column name or alias, empty when ordinal is set
    int ordinal = 0;
    bool descending = false;
};

// column = expression: the filter this server answers, alone or two of
// them joined by AND.
struct Condition {
    QString column;
    Expr value;
};

struct Select {
    std::optional<qint64> top; // TOP n or TOP (n)
    QList<SelectItem> items;
    std::optional<ObjectName> from;
    QList<Condition> where; // all must hold
    QList<OrderItem> orderBy;
};

struct Use {
    QString database;
};

struct Set {
    enum class Kind { Options, IsolationLevel, Language, Value };
    Kind kind = Kind::Options;
    QStringList options; // upper case: the options switched, or the one valued
    bool on = false;
    QString value; // upper case for the isolation level; as written otherwise
};

struct DropDatabase {
    QStringList names;
};

// ALTER DATABASE name SET SINGLE_USER | RESTRICTED_USER | MULTI_USER
//     [WITH ROLLBACK IMMEDIATE | WITH NO_WAIT]
struct AlterDatabase {
    enum class Access { Single, Restricted, Multi };
    enum class Termination { None, RollbackImmediate, NoWait };
    QString name;
    Access access = Access::Multi;
    Termination termination = Termination::None;
};

using Statement = std::variant<Select, Use, Set, DropDatabase, AlterDatabase>;

struct SyntaxError {
    int number = 102;
    int severity = 15;
    QString text;
};

struct Batch {
    QList<Statement> statements;
    std::optional<SyntaxError> error; // set: nothing of the batch runs
};

Batch parseBatch(const QString& text);

} // namespace sql
