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

#include <memory>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace sql {

// A scalar expression in a select list.
struct Expr {
    enum class Kind {
        ServerProperty,  // SERVERPROPERTY('name'): text = the property name
        GlobalVariable,  // @@VERSION ...: text = the name without "@@", upper case
        DbName,          // DB_NAME() or DB_NAME(arg)
        DbId,            // DB_ID() or DB_ID('name')
        Column,          // a column of the FROM object: text = its name, "alias.name" qualified
        Star,            // *
        Integer,         // number
        String,          // 'text' or N'text'
        Null,            // NULL
        ErrorNumber,     // ERROR_NUMBER(), inside a CATCH block
        HasPermsByName,  // HAS_PERMS_BY_NAME(securable, class, permission): args
        IsSrvRoleMember, // IS_SRVROLEMEMBER('role'): args
        SuserSname,      // SUSER_SNAME(), SUSER_SNAME(column) or SUSER_SNAME(0x01): args
        GetDate,         // GETDATE()
        Binary,          // 0x01: text = the hex digits, upper case
    };
    Kind kind = Kind::Integer;
    QString text;
    qint64 number = 0;
    // DB_NAME's or DB_ID's argument, when given: a column, a number or a text.
    std::optional<Kind> argKind;
    QString argText;
    qint64 argNumber = 0;
    // The arguments of the functions that take expressions.
    std::vector<Expr> args;
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

// column = expression: the filter this server answers, alone or several
// joined by AND.
struct Condition {
    QString column;
    Expr value;
};

// [LEFT] JOIN table [AS] alias ON column = expression [AND ...]: the
// expression a column of an earlier table, or a constant.
struct Join {
    ObjectName table;
    QString alias; // empty: the object's own name
    bool left = false;
    QList<Condition> on; // all must hold
};

struct Select {
    std::optional<qint64> top; // TOP n or TOP (n)
    QList<SelectItem> items;
    std::optional<ObjectName> from;
    QString fromAlias; // empty: the object's own name
    QList<Join> joins;
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

// EXEC[UTE] procedure [argument, ...]: an argument is a constant, by
// position or as @name = constant.  Only sp_executesql is served.
struct Execute {
    QString procedure;
    QList<std::pair<QString, Expr>> arguments; // name (empty: by position), value
};

// BACKUP DATABASE name TO DISK = 'path' [WITH option, ...]: the name may be
// a text (a parameter put in as a literal); NULL for the path or a name is
// taken as empty, as SQL Server takes a NULL variable.
struct BackupDatabase {
    QString database;
    QString device;
    bool copyOnly = false;
    bool checksum = false;
    bool init = false;
    std::optional<bool> compression; // none: the server's default (off)
    std::optional<QString> name;
    std::optional<QString> description;
    std::optional<qint64> stats; // STATS alone is 10
    // Options that cannot go together, as written ("INIT", "NOINIT").
    QStringList conflicting;
};

// RESTORE DATABASE name | VERIFYONLY | HEADERONLY FROM DISK = 'path'
//     [WITH FILE = n, CHECKSUM, REPLACE, RECOVERY | NORECOVERY, STATS [= n]]
struct Restore {
    enum class Kind { Database, VerifyOnly, HeaderOnly };
    Kind kind = Kind::Database;
    QString database; // RESTORE DATABASE only
    QString device;
    std::optional<qint64> file;
    bool checksum = false;
    bool replace = false;
    bool recovery = true;
    std::optional<qint64> stats;
    QStringList conflicting;
};

struct StatementList; // the statements of a block

// BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH
struct TryCatch {
    std::shared_ptr<const StatementList> tryBlock;
    std::shared_ptr<const StatementList> catchBlock;
};

using Statement = std::variant<Select, Use, Set, DropDatabase, AlterDatabase, Execute, TryCatch,
                               BackupDatabase, Restore>;

struct StatementList {
    QList<Statement> items;
};

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
