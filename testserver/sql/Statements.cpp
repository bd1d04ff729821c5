#include "Statements.h"

#include "Lexer.h"

#include <QSet>

#include <algorithm>

namespace sql {

namespace {

// Words SQL Server reserves: near one of them a syntax error says "keyword".
const QSet<QString>& reservedWords() {
    static const QSet<QString> words = [] {
        const char* list[] = {"ADD",
                              "ALL",
                              "ALTER",
                              "AND",
                              "ANY",
                              "AS",
                              "ASC",
                              "AUTHORIZATION",
                              "BACKUP",
                              "BEGIN",
                              "BETWEEN",
                              "BREAK",
                              "BROWSE",
                              "BULK",
                              "BY",
                              "CASCADE",
                              "CASE",
                              "CHECK",
                              "CHECKPOINT",
                              "CLOSE",
                              "CLUSTERED",
                              "COALESCE",
                              "COLLATE",
                              "COLUMN",
                              "COMMIT",
                              "COMPUTE",
                              "CONSTRAINT",
                              "CONTAINS",
                              "CONTAINSTABLE",
                              "CONTINUE",
                              "CONVERT",
                              "CREATE",
                              "CROSS",
                              "CURRENT",
                              "CURRENT_DATE",
                              "CURRENT_TIME",
                              "CURRENT_TIMESTAMP",
                              "CURRENT_USER",
                              "CURSOR",
                              "DATABASE",
                              "DBCC",
                              "DEALLOCATE",
                              "DECLARE",
                              "DEFAULT",
                              "DELETE",
                              "DENY",
                              "DESC",
                              "DISK",
                              "DISTINCT",
                              "DISTRIBUTED",
                              "DOUBLE",
                              "DROP",
                              "DUMP",
                              "ELSE",
                              "END",
                              "ERRLVL",
                              "ESCAPE",
                              "EXCEPT",
                              "EXEC",
                              "EXECUTE",
                              "EXISTS",
                              "EXIT",
                              "EXTERNAL",
                              "FETCH",
                              "FILE",
                              "FILLFACTOR",
                              "FOR",
                              "FOREIGN",
                              "FREETEXT",
                              "FREETEXTTABLE",
                              "FROM",
                              "FULL",
                              "FUNCTION",
                              "GOTO",
                              "GRANT",
                              "GROUP",
                              "HAVING",
                              "HOLDLOCK",
                              "IDENTITY",
                              "IDENTITY_INSERT",
                              "IDENTITYCOL",
                              "IF",
                              "IN",
                              "INDEX",
                              "INNER",
                              "INSERT",
                              "INTERSECT",
                              "INTO",
                              "IS",
                              "JOIN",
                              "KEY",
                              "KILL",
                              "LEFT",
                              "LIKE",
                              "LINENO",
                              "LOAD",
                              "MERGE",
                              "NATIONAL",
                              "NOCHECK",
                              "NONCLUSTERED",
                              "NOT",
                              "NULL",
                              "NULLIF",
                              "OF",
                              "OFF",
                              "OFFSETS",
                              "ON",
                              "OPEN",
                              "OPENDATASOURCE",
                              "OPENQUERY",
                              "OPENROWSET",
                              "OPENXML",
                              "OPTION",
                              "OR",
                              "ORDER",
                              "OUTER",
                              "OVER",
                              "PERCENT",
                              "PIVOT",
                              "PLAN",
                              "PRECISION",
                              "PRIMARY",
                              "PRINT",
                              "PROC",
                              "PROCEDURE",
                              "PUBLIC",
                              "RAISERROR",
                              "READ",
                              "READTEXT",
                              "RECONFIGURE",
                              "REFERENCES",
                              "REPLICATION",
                              "RESTORE",
                              "RESTRICT",
                              "RETURN",
                              "REVERT",
                              "REVOKE",
                              "RIGHT",
                              "ROLLBACK",
                              "ROWCOUNT",
                              "ROWGUIDCOL",
                              "RULE",
                              "SAVE",
                              "SCHEMA",
                              "SELECT",
                              "SESSION_USER",
                              "SET",
                              "SETUSER",
                              "SHUTDOWN",
                              "SOME",
                              "STATISTICS",
                              "SYSTEM_USER",
                              "TABLE",
                              "TABLESAMPLE",
                              "TEXTSIZE",
                              "THEN",
                              "TO",
                              "TOP",
                              "TRAN",
                              "TRANSACTION",
                              "TRIGGER",
                              "TRUNCATE",
                              "TSEQUAL",
                              "UNION",
                              "UNIQUE",
                              "UNPIVOT",
                              "UPDATE",
                              "UPDATETEXT",
                              "USE",
                              "USER",
                              "VALUES",
                              "VARYING",
                              "VIEW",
                              "WAITFOR",
                              "WHEN",
                              "WHERE",
                              "WHILE",
                              "WITH",
                              "WRITETEXT"};
        QSet<QString> s;
        for (const char* w : list) {
            s.insert(QString::fromLatin1(w));
        }
        return s;
    }();
    return words;
}

const QSet<QString>& setOnOffOptions() {
    static const QSet<QString> options = {
        "ANSI_DEFAULTS",
        "ANSI_NULL_DFLT_OFF",
        "ANSI_NULL_DFLT_ON",
        "ANSI_NULLS",
        "ANSI_PADDING",
        "ANSI_WARNINGS",
        "ARITHABORT",
        "ARITHIGNORE",
        "CONCAT_NULL_YIELDS_NULL",
        "CURSOR_CLOSE_ON_COMMIT",
        "FMTONLY",
        "FORCEPLAN",
        "IMPLICIT_TRANSACTIONS",
        "NO_BROWSETABLE",
        "NOCOUNT",
        "NOEXEC",
        "NUMERIC_ROUNDABORT",
        "PARSEONLY",
        "QUOTED_IDENTIFIER",
        "REMOTE_PROC_TRANSACTIONS",
        "SHOWPLAN_ALL",
        "SHOWPLAN_TEXT",
        "SHOWPLAN_XML",
        "XACT_ABORT",
    };
    return options;
}

constexpr int MaxIdentifier = 128;

struct ParseFailure {
    SyntaxError error;
};

class Parser {
public:
    explicit Parser(QList<Token> tokens) : t_(std::move(tokens)) {}

    Batch run() {
        Batch batch;
        try {
            if (isProcedureCall()) {
                // A batch that begins with a bare name executes that procedure.
                throw ParseFailure{SyntaxError{
                    2812, 16,
                    QStringLiteral("Could not find stored procedure '%1'.").arg(peek().text)}};
            }
            while (peek().kind != Token::Kind::End) {
                if (isPunct(";")) {
                    ++i_;
                    continue;
                }
                batch.statements.append(statement());
            }
        } catch (const ParseFailure& f) {
            batch.statements.clear();
            batch.error = f.error;
        }
        return batch;
    }

private:
    const Token& peek(int ahead = 0) const {
        const qsizetype at = std::min<qsizetype>(i_ + ahead, t_.size() - 1);
        return t_[at];
    }
    const Token& take() {
        const Token& t = peek();
        if (i_ < t_.size() - 1) {
            ++i_;
        }
        return t;
    }
    bool isWord(const char* kw, int ahead = 0) const {
        const Token& t = peek(ahead);
        return t.kind == Token::Kind::Word &&
               t.text.compare(QLatin1String(kw), Qt::CaseInsensitive) == 0;
    }
    bool isPunct(const char* p, int ahead = 0) const {
        const Token& t = peek(ahead);
        return t.kind == Token::Kind::Punct && t.text == QLatin1String(p);
    }
    static bool isReserved(const Token& t) {
        return t.kind == Token::Kind::Word && reservedWords().contains(t.text.toUpper());
    }
    bool isProcedureCall() const {
        const Token& t = peek();
        return t.kind == Token::Kind::Word && !isReserved(t) && !t.text.startsWith(u'@');
    }

    // The syntax error SQL Server reports at the current token (or, at the
    // end of the text, at the last one).
    [[noreturn]] void fail() const {
        const Token& at = peek().kind == Token::Kind::End && i_ > 0 ? t_[i_ - 1] : peek();
        if (isReserved(at)) {
            throw ParseFailure{SyntaxError{
                156, 15, QStringLiteral("Incorrect syntax near the keyword '%1'.").arg(at.text)}};
        }
        throw ParseFailure{
            SyntaxError{102, 15, QStringLiteral("Incorrect syntax near '%1'.").arg(at.text)}};
    }
    void expectWord(const char* kw) {
        if (!isWord(kw)) {
            fail();
        }
        ++i_;
    }
    void expectPunct(const char* p) {
        if (!isPunct(p)) {
            fail();
        }
        ++i_;
    }
    bool acceptWord(const char* kw) {
        if (isWord(kw)) {
            ++i_;
            return true;
        }
        return false;
    }
    bool acceptPunct(const char* p) {
        if (isPunct(p)) {
            ++i_;
            return true;
        }
        return false;
    }
    bool atIdentifier() const {
        const Token& t = peek();
        return t.kind == Token::Kind::QuotedIdent ||
               (t.kind == Token::Kind::Word && !isReserved(t) && !t.text.startsWith(u'@'));
    }
    QString identifier() {
        if (!atIdentifier()) {
            fail();
        }
        const Token& t = take();
        if (t.text.size() > MaxIdentifier) {
            throw ParseFailure{SyntaxError{
                103, 15,
                QStringLiteral("The identifier that starts with '%1' is too long. Maximum "
                               "length is 128.")
                    .arg(t.text.left(MaxIdentifier))}};
        }
        return t.text;
    }
    qint64 signedNumber() {
        const bool negative = acceptPunct("-");
        if (peek().kind != Token::Kind::Number) {
            fail();
        }
        bool ok = false;
        const qint64 v = take().text.toLongLong(&ok);
        if (!ok) {
            fail();
        }
        return negative ? -v : v;
    }

    Statement statement() {
        if (acceptWord("SELECT")) {
            return select();
        }
        if (isWord("BEGIN") && isWord("TRY", 1)) {
            i_ += 2;
            return tryCatch();
        }
        if (acceptWord("EXEC") || acceptWord("EXECUTE")) {
            return execute();
        }
        if (acceptWord("USE")) {
            return Use{identifier()};
        }
        if (acceptWord("SET")) {
            return set();
        }
        if (acceptWord("DROP")) {
            expectWord("DATABASE");
            DropDatabase drop;
            do {
                drop.names.append(identifier());
            } while (acceptPunct(","));
            return drop;
        }
        if (acceptWord("ALTER")) {
            return alterDatabase();
        }
        if (acceptWord("BACKUP")) {
            return backup();
        }
        if (acceptWord("RESTORE")) {
            return restore();
        }
        fail();
    }

    // A database named as an identifier or, as a parameter arrives, a text.
    QString databaseName() {
        if (peek().kind != Token::Kind::String) {
            return identifier();
        }
        const QString name = take().text;
        if (name.size() > MaxIdentifier) {
            throw ParseFailure{SyntaxError{
                103, 15,
                QStringLiteral("The identifier that starts with '%1' is too long. Maximum "
                               "length is 128.")
                    .arg(name.left(MaxIdentifier))}};
        }
        return name;
    }

    // A text value (NULL stands for an empty one).
    QString textValue() {
        if (acceptWord("NULL")) {
            return {};
        }
        if (peek().kind != Token::Kind::String) {
            fail();
        }
        return take().text;
    }

    // DISK = 'path', after TO or FROM.
    QString disk() {
        expectWord("DISK");
        expectPunct("=");
        return textValue();
    }

    // What a WITH option takes after its name.
    enum class Takes { Nothing, Text, Number, OptionalNumber };
    struct OptionValue {
        QString name; // upper case
        QString text;
        std::optional<qint64> number;
    };

    // WITH name [= value], ...: every name must be one of `known`; a name
    // this server does not serve is a syntax error at that name.
    QList<OptionValue> withOptions(const QList<std::pair<const char*, Takes>>& known) {
        QList<OptionValue> options;
        if (!acceptWord("WITH")) {
            return options;
        }
        do {
            const auto match = std::find_if(known.begin(), known.end(),
                                            [this](const auto& k) { return isWord(k.first); });
            if (match == known.end()) {
                fail();
            }
            OptionValue o{take().text.toUpper(), {}, {}};
            switch (match->second) {
            case Takes::Nothing:
                break;
            case Takes::Text:
                expectPunct("=");
                o.text = textValue();
                break;
            case Takes::Number:
                expectPunct("=");
                o.number = signedNumber();
                break;
            case Takes::OptionalNumber:
                if (acceptPunct("=")) {
                    o.number = signedNumber();
                }
                break;
            }
            options.append(o);
        } while (acceptPunct(","));
        return options;
    }

    // The options of a pair, both given: SQL Server refuses them (3031).
    static QStringList conflicts(const QList<OptionValue>& options,
                                 const QList<std::pair<const char*, const char*>>& pairs) {
        auto given = [&](const char* name) {
            return std::any_of(options.begin(), options.end(),
                               [&](const OptionValue& o) { return o.name == QLatin1String(name); });
        };
        for (const auto& [a, b] : pairs) {
            if (given(a) && given(b)) {
                return {QString::fromLatin1(a), QString::fromLatin1(b)};
            }
        }
        return {};
    }

    BackupDatabase backup() {
        expectWord("DATABASE");
        BackupDatabase b;
        b.database = databaseName();
        expectWord("TO");
        b.device = disk();
        const QList<OptionValue> options = withOptions({{"COPY_ONLY", Takes::Nothing},
                                                        {"CHECKSUM", Takes::Nothing},
                                                        {"NO_CHECKSUM", Takes::Nothing},
                                                        {"INIT", Takes::Nothing},
                                                        {"NOINIT", Takes::Nothing},
                                                        {"NAME", Takes::Text},
                                                        {"DESCRIPTION", Takes::Text},
                                                        {"STATS", Takes::OptionalNumber},
                                                        {"COMPRESSION", Takes::Nothing},
                                                        {"NO_COMPRESSION", Takes::Nothing}});
        for (const OptionValue& o : options) {
            if (o.name == u"COPY_ONLY") {
                b.copyOnly = true;
            } else if (o.name == u"CHECKSUM" || o.name == u"NO_CHECKSUM") {
                b.checksum = o.name == u"CHECKSUM";
            } else if (o.name == u"INIT" || o.name == u"NOINIT") {
                b.init = o.name == u"INIT";
            } else if (o.name == u"NAME") {
                b.name = o.text;
            } else if (o.name == u"DESCRIPTION") {
                b.description = o.text;
            } else if (o.name == u"STATS") {
                b.stats = o.number.value_or(10);
            } else {
                b.compression = o.name == u"COMPRESSION";
            }
        }
        b.conflicting = conflicts(
            options,
            {{"CHECKSUM", "NO_CHECKSUM"}, {"INIT", "NOINIT"}, {"COMPRESSION", "NO_COMPRESSION"}});
        return b;
    }

    Restore restore() {
        Restore r;
        if (acceptWord("VERIFYONLY")) {
            r.kind = Restore::Kind::VerifyOnly;
        } else if (acceptWord("HEADERONLY")) {
            r.kind = Restore::Kind::HeaderOnly;
        } else {
            expectWord("DATABASE");
            r.database = databaseName();
        }
        expectWord("FROM");
        r.device = disk();
        QList<std::pair<const char*, Takes>> known = {{"FILE", Takes::Number}};
        if (r.kind != Restore::Kind::HeaderOnly) {
            known += {{"CHECKSUM", Takes::Nothing},
                      {"NO_CHECKSUM", Takes::Nothing},
                      {"STATS", Takes::OptionalNumber}};
        }
        if (r.kind == Restore::Kind::Database) {
            known += {{"REPLACE", Takes::Nothing},
                      {"RECOVERY", Takes::Nothing},
                      {"NORECOVERY", Takes::Nothing}};
        }
        const QList<OptionValue> options = withOptions(known);
        for (const OptionValue& o : options) {
            if (o.name == u"FILE") {
                r.file = o.number;
            } else if (o.name == u"CHECKSUM" || o.name == u"NO_CHECKSUM") {
                r.checksum = o.name == u"CHECKSUM";
            } else if (o.name == u"STATS") {
                r.stats = o.number.value_or(10);
            } else if (o.name == u"REPLACE") {
                r.replace = true;
            } else {
                r.recovery = o.name == u"RECOVERY";
            }
        }
        r.conflicting =
            conflicts(options, {{"CHECKSUM", "NO_CHECKSUM"}, {"RECOVERY", "NORECOVERY"}});
        return r;
    }

    // The statements of a block, up to END `closing` (taken).
    std::shared_ptr<const StatementList> block(const char* closing) {
        auto list = std::make_shared<StatementList>();
        for (;;) {
            if (acceptPunct(";")) {
                continue;
            }
            if (isWord("END") && isWord(closing, 1)) {
                i_ += 2;
                return list;
            }
            if (peek().kind == Token::Kind::End) {
                fail();
            }
            list->items.append(statement());
        }
    }

    TryCatch tryCatch() {
        TryCatch t;
        t.tryBlock = block("TRY");
        acceptPunct(";");
        expectWord("BEGIN");
        expectWord("CATCH");
        t.catchBlock = block("CATCH");
        return t;
    }

    Execute execute() {
        Execute e;
        e.procedure = objectName().parts.last();
        if (peek().kind == Token::Kind::End || isPunct(";") || isWord("END")) {
            return e;
        }
        do {
            QString name;
            if (peek().kind == Token::Kind::Word && peek().text.startsWith(u'@') &&
                isPunct("=", 1)) {
                name = take().text;
                ++i_;
            }
            e.arguments.append({name, expression()});
        } while (acceptPunct(","));
        return e;
    }

    AlterDatabase alterDatabase() {
        expectWord("DATABASE");
        AlterDatabase alter;
        alter.name = identifier();
        expectWord("SET");
        if (acceptWord("SINGLE_USER")) {
            alter.access = AlterDatabase::Access::Single;
        } else if (acceptWord("RESTRICTED_USER")) {
            alter.access = AlterDatabase::Access::Restricted;
        } else {
            expectWord("MULTI_USER");
        }
        if (acceptWord("WITH")) {
            if (acceptWord("ROLLBACK")) {
                expectWord("IMMEDIATE");
                alter.termination = AlterDatabase::Termination::RollbackImmediate;
            } else {
                expectWord("NO_WAIT");
                alter.termination = AlterDatabase::Termination::NoWait;
            }
        }
        return alter;
    }

    Select select() {
        Select s;
        if (acceptWord("TOP")) {
            const bool parenthesised = acceptPunct("(");
            s.top = signedNumber();
            if (parenthesised) {
                expectPunct(")");
            }
        }
        do {
            s.items.append(selectItem());
        } while (acceptPunct(","));
        if (acceptWord("FROM")) {
            s.from = objectName();
            s.fromAlias = tableAlias();
            while (isWord("JOIN") || isWord("INNER") || isWord("LEFT")) {
                Join j;
                j.left = acceptWord("LEFT");
                if (j.left) {
                    acceptWord("OUTER");
                } else {
                    acceptWord("INNER");
                }
                expectWord("JOIN");
                j.table = objectName();
                j.alias = tableAlias();
                expectWord("ON");
                j.on = conditions();
                s.joins.append(j);
            }
            if (acceptWord("WHERE")) {
                s.where = conditions();
            }
        }
        if (acceptWord("ORDER")) {
            expectWord("BY");
            do {
                OrderItem item;
                if (peek().kind == Token::Kind::Number) {
                    item.ordinal = static_cast<int>(signedNumber());
                } else {
                    item.column = columnName();
                }
                if (acceptWord("DESC")) {
                    item.descending = true;
                } else {
                    acceptWord("ASC");
                }
                s.orderBy.append(item);
            } while (acceptPunct(","));
        }
        return s;
    }

    // [AS] alias after a table, or none.
    QString tableAlias() {
        const bool as = acceptWord("AS");
        if (atIdentifier()) {
            return identifier();
        }
        if (as) {
            fail();
        }
        return {};
    }

    // A column, plain or qualified by its table's alias ("bs.type").
    QString columnName() {
        QString name = identifier();
        if (isPunct(".") &&
            (peek(1).kind == Token::Kind::Word || peek(1).kind == Token::Kind::QuotedIdent)) {
            ++i_;
            name += u'.' + identifier();
        }
        return name;
    }

    // column = expression, one or more joined by AND.
    QList<Condition> conditions() {
        QList<Condition> all;
        do {
            Condition c;
            c.column = columnName();
            expectPunct("=");
            c.value = expression();
            all.append(c);
        } while (acceptWord("AND"));
        return all;
    }

    SelectItem selectItem() {
        SelectItem item;
        item.expr = expression();
        const bool as = acceptWord("AS");
        if (peek().kind == Token::Kind::String) {
            item.alias = take().text;
        } else if (atIdentifier()) {
            item.alias = identifier();
        } else if (as) {
            fail();
        }
        return item;
    }

    Expr expression() {
        Expr e;
        const Token& t = peek();
        if (acceptPunct("*")) {
            e.kind = Expr::Kind::Star;
            return e;
        }
        if (t.kind == Token::Kind::Number || isPunct("-")) {
            e.kind = Expr::Kind::Integer;
            e.number = signedNumber();
            return e;
        }
        if (t.kind == Token::Kind::String) {
            e.kind = Expr::Kind::String;
            e.text = take().text;
            return e;
        }
        if (acceptWord("NULL")) {
            e.kind = Expr::Kind::Null;
            return e;
        }
        if (t.kind == Token::Kind::Binary) {
            e.kind = Expr::Kind::Binary;
            e.text = take().text;
            return e;
        }
        if (t.kind == Token::Kind::Word && t.text.startsWith(QLatin1String("@@"))) {
            e.kind = Expr::Kind::GlobalVariable;
            e.text = take().text.mid(2).toUpper();
            return e;
        }
        if (t.kind == Token::Kind::Word && isPunct("(", 1) && !isReserved(t)) {
            return functionCall();
        }
        e.kind = Expr::Kind::Column;
        e.text = columnName();
        return e;
    }

    Expr functionCall() {
        const QString name = take().text;
        expectPunct("(");
        Expr e;
        const QString upper = name.toUpper();
        if (upper == QLatin1String("SERVERPROPERTY")) {
            e.kind = Expr::Kind::ServerProperty;
            if (peek().kind != Token::Kind::String) {
                fail();
            }
            e.text = take().text;
        } else if (upper == QLatin1String("DB_NAME") || upper == QLatin1String("DB_ID")) {
            e.kind = upper == QLatin1String("DB_NAME") ? Expr::Kind::DbName : Expr::Kind::DbId;
            if (!isPunct(")")) {
                if (peek().kind == Token::Kind::String) {
                    e.argKind = Expr::Kind::String;
                    e.argText = take().text;
                } else if (peek().kind == Token::Kind::Number || isPunct("-")) {
                    e.argKind = Expr::Kind::Integer;
                    e.argNumber = signedNumber();
                } else {
                    e.argKind = Expr::Kind::Column;
                    e.argText = identifier();
                }
            }
        } else if (upper == QLatin1String("ERROR_NUMBER")) {
            e.kind = Expr::Kind::ErrorNumber;
        } else if (upper == QLatin1String("GETDATE")) {
            e.kind = Expr::Kind::GetDate;
        } else if (upper == QLatin1String("HAS_PERMS_BY_NAME") ||
                   upper == QLatin1String("IS_SRVROLEMEMBER") ||
                   upper == QLatin1String("SUSER_SNAME")) {
            e.kind = upper == QLatin1String("HAS_PERMS_BY_NAME")  ? Expr::Kind::HasPermsByName
                     : upper == QLatin1String("IS_SRVROLEMEMBER") ? Expr::Kind::IsSrvRoleMember
                                                                  : Expr::Kind::SuserSname;
            if (!isPunct(")")) {
                do {
                    e.args.push_back(expression());
                } while (acceptPunct(","));
            }
        } else {
            throw ParseFailure{SyntaxError{
                195, 15,
                QStringLiteral("'%1' is not a recognized built-in function name.").arg(name)}};
        }
        expectPunct(")");
        return e;
    }

    ObjectName objectName() {
        ObjectName name;
        for (;;) {
            name.parts.append(atIdentifier() ? identifier() : QString());
            if (!acceptPunct(".")) {
                break;
            }
            if (name.parts.size() == 4) {
                fail();
            }
        }
        if (name.parts.last().isEmpty()) {
            fail();
        }
        name.written = name.parts.join(u'.');
        return name;
    }

    Set set() {
        Set s;
        if (acceptWord("TRANSACTION")) {
            expectWord("ISOLATION");
            expectWord("LEVEL");
            s.kind = Set::Kind::IsolationLevel;
            if (acceptWord("READ")) {
                if (acceptWord("UNCOMMITTED")) {
                    s.value = QStringLiteral("READ UNCOMMITTED");
                } else {
                    expectWord("COMMITTED");
                    s.value = QStringLiteral("READ COMMITTED");
                }
            } else if (acceptWord("REPEATABLE")) {
                expectWord("READ");
                s.value = QStringLiteral("REPEATABLE READ");
            } else if (acceptWord("SNAPSHOT")) {
                s.value = QStringLiteral("SNAPSHOT");
            } else {
                expectWord("SERIALIZABLE");
                s.value = QStringLiteral("SERIALIZABLE");
            }
            return s;
        }
        if (peek().kind != Token::Kind::Word) {
            fail();
        }
        const QString option = peek().text.toUpper();
        if (option == QLatin1String("LANGUAGE") || option == QLatin1String("DATEFORMAT")) {
            ++i_;
            s.kind = option == QLatin1String("LANGUAGE") ? Set::Kind::Language : Set::Kind::Value;
            s.options = QStringList{option};
            s.value = peek().kind == Token::Kind::String ? take().text : identifier();
            return s;
        }
        if (option == QLatin1String("DATEFIRST") || option == QLatin1String("TEXTSIZE") ||
            option == QLatin1String("LOCK_TIMEOUT") || option == QLatin1String("ROWCOUNT") ||
            option == QLatin1String("QUERY_GOVERNOR_COST_LIMIT")) {
            ++i_;
            s.kind = Set::Kind::Value;
            s.options = QStringList{option};
            s.value = QString::number(signedNumber());
            return s;
        }
        if (option == QLatin1String("DEADLOCK_PRIORITY")) {
            ++i_;
            s.kind = Set::Kind::Value;
            s.options = QStringList{option};
            if (acceptWord("LOW") || acceptWord("NORMAL") || acceptWord("HIGH")) {
                s.value = t_[i_ - 1].text.toUpper();
            } else {
                s.value = QString::number(signedNumber());
            }
            return s;
        }
        s.kind = Set::Kind::Options;
        do {
            if (peek().kind != Token::Kind::Word) {
                fail();
            }
            QString name = peek().text.toUpper();
            if (name == QLatin1String("STATISTICS")) {
                ++i_;
                if (!(isWord("IO") || isWord("TIME") || isWord("PROFILE") || isWord("XML"))) {
                    fail();
                }
                name += u' ' + take().text.toUpper();
            } else if (setOnOffOptions().contains(name)) {
                ++i_;
            } else {
                throw ParseFailure{SyntaxError{
                    195, 15,
                    QStringLiteral("'%1' is not a recognized SET option.").arg(peek().text)}};
            }
            s.options.append(name);
        } while (acceptPunct(","));
        if (acceptWord("ON")) {
            s.on = true;
        } else {
            expectWord("OFF");
        }
        return s;
    }

    QList<Token> t_;
    qsizetype i_ = 0;
};

} // namespace

Batch parseBatch(const QString& text) {
    LexResult lexed = tokenize(text);
    if (lexed.error) {
        Batch b;
        b.error = SyntaxError{lexed.error->number, 15, lexed.error->text};
        return b;
    }
    return Parser(std::move(lexed.tokens)).run();
}

} // namespace sql
