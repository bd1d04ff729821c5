#include "Executor.h"

#include <algorithm>
#include <optional>

namespace engine {

namespace {

using tds::Column;
using tds::Value;

struct StatementError {
    int number;
    int severity;
    QString text;
};

Value text(const QString& s) { return Value{s.toStdU16String()}; }

Value idOf(const DatabaseEntry* db) {
    Value v;
    if (db) {
        v.emplace<std::int32_t>(db->id);
    }
    return v;
}

// The catalog views a SELECT can name.
struct View {
    QString name;     // as in permission messages: "sysdatabases" or "databases"
    QString idColumn; // "dbid" or "database_id"
    Column::Type idType;
};

// One output column: its metadata and how to compute it for a database row
// (nullptr when there is no FROM).
struct OutputColumn {
    Column meta;
    std::function<Value(const DatabaseEntry*)> value;
};

class Runner {
public:
    Runner(SessionState& s, Catalog& c, const InUse& inUse, tds::TokenWriter& out)
        : session_(s), catalog_(c), inUse_(inUse), out_(out) {}

    // Writes the statement's tokens; returns the DONE status and command, or
    // nothing for a statement that sends no DONE of its own (SET).
    struct Done {
        std::uint16_t status;
        std::uint16_t curCmd;
        std::uint64_t rows;
    };
    std::optional<Done> run(const sql::Statement& st) {
        try {
            return std::visit([this](const auto& s) { return exec(s); }, st);
        } catch (const StatementError& e) {
            out_.message(serverMessage(e.number, e.severity, e.text));
            return Done{tds::done::Error, curCmdOf(st), 0};
        }
    }

private:
    static std::uint16_t curCmdOf(const sql::Statement& st) {
        if (std::holds_alternative<sql::Select>(st)) {
            return tds::curcmd::Select;
        }
        if (std::holds_alternative<sql::DropDatabase>(st)) {
            return tds::curcmd::DropDatabase;
        }
        if (std::holds_alternative<sql::Use>(st)) {
            return tds::curcmd::Use;
        }
        if (std::holds_alternative<sql::AlterDatabase>(st)) {
            return tds::curcmd::AlterDatabase;
        }
        return tds::curcmd::Set;
    }

    std::optional<Done> exec(const sql::Use& u) {
        const DatabaseEntry* db = catalog_.find(u.database);
        if (!db) {
            throw StatementError{911, 16,
                                 QStringLiteral("Database '%1' does not exist. Make sure that the "
                                                "name is entered correctly.")
                                     .arg(u.database)};
        }
        if (db->singleUser && db->name != session_.database && inUse_(*db)) {
            throw StatementError{924, 14,
                                 QStringLiteral("Database '%1' is already open and can only have "
                                                "one user at a time.")
                                     .arg(db->name)};
        }
        const QString old = session_.database;
        session_.database = db->name;
        out_.envChange(tds::envchange::Database, db->name.toStdU16String(), old.toStdU16String());
        out_.message(serverMessage(
            5701, 0, QStringLiteral("Changed database context to '%1'.").arg(db->name)));
        return Done{0, tds::curcmd::Use, 0};
    }

    std::optional<Done> exec(const sql::Set& s) {
        switch (s.kind) {
        case sql::Set::Kind::IsolationLevel:
            session_.isolationLevel = s.value;
            break;
        case sql::Set::Kind::Options:
            if (s.options.contains(QStringLiteral("NOCOUNT"))) {
                session_.noCount = s.on;
            }
            break;
        case sql::Set::Kind::Language:
            if (!sameName(s.value, QStringLiteral("us_english")) &&
                !sameName(s.value, QStringLiteral("English"))) {
                throw StatementError{
                    2732, 16, QStringLiteral("The language '%1' is not supported.").arg(s.value)};
            }
            out_.envChange(tds::envchange::Language, u"us_english",
                           session_.language.toStdU16String());
            session_.language = QStringLiteral("us_english");
            out_.message(
                serverMessage(5703, 0, QStringLiteral("Changed language setting to us_english.")));
            break;
        case sql::Set::Kind::Value:
            checkValue(s);
            break;
        }
        return std::nullopt;
    }

    static void checkValue(const sql::Set& s) {
        const QString& option = s.options.first();
        if (option == QLatin1String("DATEFORMAT")) {
            static const QStringList orders = {"MDY", "DMY", "YMD", "YDM", "MYD", "DYM"};
            if (!orders.contains(s.value.toUpper())) {
                throw StatementError{
                    2741, 16,
                    QStringLiteral("SET DATEFORMAT date order '%1' is invalid.").arg(s.value)};
            }
        } else if (option == QLatin1String("DATEFIRST")) {
            const int v = s.value.toInt();
            if (v < 1 || v > 7) {
                throw StatementError{
                    2740, 16, QStringLiteral("SET DATEFIRST %1 is out of range.").arg(s.value)};
            }
        }
    }

    std::optional<Done> exec(const sql::DropDatabase& d) {
        bool failed = false;
        for (const QString& name : d.names) {
            try {
                dropOne(name);
            } catch (const StatementError& e) {
                out_.message(serverMessage(e.number, e.severity, e.text));
                failed = true;
            }
        }
        return Done{static_cast<std::uint16_t>(failed ? tds::done::Error : 0),
                    tds::curcmd::DropDatabase, 0};
    }

    void dropOne(const QString& name) {
        if (catalog_.isSystemName(name)) {
            throw StatementError{
                3708, 16,
                QStringLiteral("Cannot drop the database '%1' because it is a system database.")
                    .arg(name)};
        }
        const DatabaseEntry* db = catalog_.find(name);
        if (!db || !(session_.sysadmin || owns(*db))) {
            throw StatementError{3701, 11,
                                 QStringLiteral("Cannot drop the database '%1', because it does "
                                                "not exist or you do not have permission.")
                                     .arg(name)};
        }
        if (inUse_(*db)) {
            throw StatementError{
                3702, 16,
                QStringLiteral("Cannot drop database \"%1\" because it is currently in use.")
                    .arg(name)};
        }
        if (const state::Database* d = catalog_.userDatabase(db->name); d && d->replicated) {
            throw StatementError{
                3724, 16,
                QStringLiteral("Cannot drop the database '%1' because it is being used for "
                               "replication.")
                    .arg(name)};
        }
        const QString actual = db->name; // the entry goes away with the drop
        QString why;
        if (!catalog_.drop(actual, why)) {
            // The file could not be written: the database stays, and says so.
            throw StatementError{
                5120, 16,
                QStringLiteral("Cannot drop the database '%1': the state file could not be "
                               "written (%2).")
                    .arg(name, why)};
        }
    }

    std::optional<Done> exec(const sql::AlterDatabase& a) {
        try {
            alterOne(a);
        } catch (const StatementError& e) {
            out_.message(serverMessage(e.number, e.severity, e.text));
            if (e.number != 5011 && e.number != 5058) {
                out_.message(
                    serverMessage(5069, 16, QStringLiteral("ALTER DATABASE statement failed.")));
            }
            return Done{tds::done::Error, tds::curcmd::AlterDatabase, 0};
        }
        return Done{0, tds::curcmd::AlterDatabase, 0};
    }

    void alterOne(const sql::AlterDatabase& a) {
        const QString option =
            a.singleUser ? QStringLiteral("SINGLE_USER") : QStringLiteral("MULTI_USER");
        const DatabaseEntry* db = catalog_.find(a.name);
        if (db && db->system) {
            throw StatementError{5058, 16,
                                 QStringLiteral("Option '%1' cannot be set in database '%2'.")
                                     .arg(option, db->name)};
        }
        if (!db || !(session_.sysadmin || owns(*db))) {
            throw StatementError{5011, 14,
                                 QStringLiteral("User does not have permission to alter database "
                                                "'%1', the database does not exist, or the "
                                                "database is not in a state that allows access "
                                                "checks.")
                                     .arg(a.name)};
        }
        bool endHolders = false;
        if (a.singleUser && db->name != session_.database && inUse_(*db)) {
            DatabaseEntry onlyClients = *db;
            onlyClients.inUse = false;
            if (a.termination != sql::AlterDatabase::Termination::RollbackImmediate) {
                // SQL Server waits for the users to leave; this server does not.
                throw StatementError{5070, 16,
                                     QStringLiteral("Database state cannot be changed while other "
                                                    "users are using the database '%1'")
                                         .arg(db->name)};
            }
            if (inUse_(onlyClients)) {
                // Sessions of this server's own clients are not ended.
                throw StatementError{5061, 16,
                                     QStringLiteral("ALTER DATABASE failed because a lock could "
                                                    "not be placed on database '%1'. Try again "
                                                    "later.")
                                         .arg(db->name)};
            }
            endHolders = true;
        }
        const QString actual = db->name;
        QString why;
        if (!catalog_.setUserAccess(actual, a.singleUser, endHolders, why)) {
            throw StatementError{5069, 16,
                                 QStringLiteral("ALTER DATABASE statement failed: the state file "
                                                "could not be written (%1).")
                                     .arg(why)};
        }
        if (endHolders) {
            out_.message(serverMessage(5060, 10,
                                       QStringLiteral("Nonqualified transactions are being rolled "
                                                      "back. Estimated rollback completion: "
                                                      "100%.")));
        }
    }

    // One row of sysprocesses: this session, then the staged sessions that
    // hold databases.
    struct Process {
        int spid;
        int dbid;
        QString login;
        QString host;
        QString program;
    };

    QList<Process> processes() const {
        const DatabaseEntry* own = catalog_.find(session_.database);
        QList<Process> rows{{session_.spid, own ? own->id : 1, session_.login, {}, {}}};
        int spid = 1000; // above this server's own session numbers
        for (const DatabaseEntry& e : catalog_.databases()) {
            const state::Database* d = e.system ? nullptr : catalog_.userDatabase(e.name);
            if (d == nullptr) {
                continue;
            }
            if (d->inUse) {
                rows.append({spid++, e.id, QStringLiteral("sa"), {}, {}});
            }
            for (const state::HoldingSession& h : d->sessions) {
                rows.append({spid++, e.id, h.login, h.host, h.program});
            }
        }
        return rows;
    }

    static Value processValue(const Process& p, const QString& column) {
        // nchar(128) columns: SQL Server pads them with blanks.
        auto padded = [](const QString& v) { return text(v.leftJustified(128, u' ')); };
        if (sameName(column, QStringLiteral("spid"))) {
            return Value{std::int32_t(p.spid)};
        }
        if (sameName(column, QStringLiteral("dbid"))) {
            return Value{std::int32_t(p.dbid)};
        }
        if (sameName(column, QStringLiteral("loginame"))) {
            return padded(p.login);
        }
        if (sameName(column, QStringLiteral("hostname"))) {
            return padded(p.host);
        }
        if (sameName(column, QStringLiteral("program_name"))) {
            return padded(p.program);
        }
        throw StatementError{207, 16, QStringLiteral("Invalid column name '%1'.").arg(column)};
    }

    static Column processColumn(const QString& column) {
        const bool number =
            sameName(column, QStringLiteral("spid")) || sameName(column, QStringLiteral("dbid"));
        return Column{column.toLower().toStdU16String(),
                      number ? Column::Type::SmallInt : Column::Type::NVarChar, number ? 0 : 128,
                      false};
    }

    // What a WHERE compares with: a constant of the select's own kinds.
    Value conditionValue(const sql::Condition& c) {
        if (c.value.kind == sql::Expr::Kind::Column || c.value.kind == sql::Expr::Kind::Star) {
            throw StatementError{207, 16,
                                 QStringLiteral("Invalid column name '%1'.").arg(c.value.text)};
        }
        return column(c.value, std::nullopt).value(nullptr);
    }

    Done selectProcesses(const sql::Select& s) {
        if (!s.orderBy.isEmpty()) {
            throw StatementError{1033, 15,
                                 QStringLiteral("This server lists sysprocesses in spid order "
                                                "only.")};
        }
        QList<QString> names;
        std::vector<Column> meta;
        for (const sql::SelectItem& item : s.items) {
            if (item.expr.kind != sql::Expr::Kind::Column) {
                throw StatementError{
                    207, 16, QStringLiteral("Invalid column name '%1'.").arg(item.expr.text)};
            }
            processValue(Process{}, item.expr.text); // an unknown column is an error
            names.append(item.expr.text);
            meta.push_back(processColumn(item.alias.value_or(item.expr.text)));
        }
        QList<Process> rows = processes();
        if (s.where) {
            const Value wanted = conditionValue(*s.where);
            rows.removeIf(
                [&](const Process& p) { return processValue(p, s.where->column) != wanted; });
        }
        out_.columns(meta);
        std::vector<Value> values(meta.size());
        for (const Process& p : rows) {
            for (qsizetype i = 0; i < names.size(); ++i) {
                values[static_cast<std::size_t>(i)] = processValue(p, names[i]);
            }
            out_.row(values);
        }
        return Done{static_cast<std::uint16_t>(session_.noCount ? 0 : tds::done::Count),
                    tds::curcmd::Select, static_cast<std::uint64_t>(rows.size())};
    }

    std::optional<Done> exec(const sql::Select& s) {
        std::optional<View> view;
        if (s.from) {
            view = resolve(*s.from);
        }
        if (view && view->name == u"sysprocesses") {
            return selectProcesses(s);
        }
        QList<OutputColumn> cols;
        for (const sql::SelectItem& item : s.items) {
            if (item.expr.kind == sql::Expr::Kind::Star) {
                if (!view) {
                    throw StatementError{263, 16,
                                         QStringLiteral("Must specify table to select from.")};
                }
                cols.append(sourceColumn(*view, QStringLiteral("name")));
                cols.append(sourceColumn(*view, view->idColumn));
                continue;
            }
            OutputColumn c = column(item.expr, view);
            if (item.alias) {
                c.meta.name = item.alias->toStdU16String();
            }
            cols.append(c);
        }
        QList<const DatabaseEntry*> rows;
        if (view) {
            for (const DatabaseEntry& e : catalog_.databases()) {
                if (visible(e)) {
                    rows.append(&e);
                }
            }
            if (s.where) {
                const Value wanted = conditionValue(*s.where);
                const OutputColumn compared = sourceColumn(*view, s.where->column);
                rows.removeIf([&](const DatabaseEntry* e) { return compared.value(e) != wanted; });
            }
            sortRows(rows, s, cols, *view);
        } else {
            if (s.where) {
                throw StatementError{
                    207, 16, QStringLiteral("Invalid column name '%1'.").arg(s.where->column)};
            }
            rows.append(nullptr);
        }
        std::vector<Column> meta;
        meta.reserve(static_cast<std::size_t>(cols.size()));
        for (const OutputColumn& c : cols) {
            meta.push_back(c.meta);
        }
        out_.columns(meta);
        std::vector<Value> values(meta.size());
        for (const DatabaseEntry* e : rows) {
            for (qsizetype i = 0; i < cols.size(); ++i) {
                values[static_cast<std::size_t>(i)] = cols[i].value(e);
            }
            out_.row(values);
        }
        return Done{static_cast<std::uint16_t>(session_.noCount ? 0 : tds::done::Count),
                    tds::curcmd::Select, static_cast<std::uint64_t>(rows.size())};
    }

    bool owns(const DatabaseEntry& db) const {
        const state::Database* d = catalog_.userDatabase(db.name);
        return d && d->owner && sameName(*d->owner, session_.login);
    }

    // A login without VIEW ANY DATABASE sees master, tempdb and what it owns;
    // SQL Server leaves the others out of the listings without an error.
    bool visible(const DatabaseEntry& db) const {
        return session_.viewAnyDatabase || session_.sysadmin || db.name == u"master" ||
               db.name == u"tempdb" || owns(db);
    }

    View resolve(const sql::ObjectName& n) {
        const qsizetype k = n.parts.size();
        const QString object = n.parts[k - 1];
        const QString schema = k >= 2 ? n.parts[k - 2] : QString();
        const QString database = k >= 3 ? n.parts[k - 3] : QString();
        const bool remote = k == 4 && !n.parts[0].isEmpty();
        std::optional<View> v;
        if (!remote && sameName(object, QStringLiteral("sysdatabases")) &&
            (schema.isEmpty() || sameName(schema, QStringLiteral("dbo")) ||
             sameName(schema, QStringLiteral("sys")))) {
            v = View{QStringLiteral("sysdatabases"), QStringLiteral("dbid"),
                     Column::Type::SmallInt};
        } else if (!remote && sameName(object, QStringLiteral("sysprocesses")) &&
                   (schema.isEmpty() || sameName(schema, QStringLiteral("dbo")) ||
                    sameName(schema, QStringLiteral("sys")))) {
            v = View{QStringLiteral("sysprocesses"), QStringLiteral("dbid"),
                     Column::Type::SmallInt};
        } else if (!remote && sameName(object, QStringLiteral("databases")) &&
                   sameName(schema, QStringLiteral("sys")) && catalog_.product().parts.major >= 9) {
            v = View{QStringLiteral("databases"), QStringLiteral("database_id"), Column::Type::Int};
        }
        if (!database.isEmpty() && !catalog_.find(database)) {
            throw StatementError{911, 16,
                                 QStringLiteral("Database '%1' does not exist. Make sure that the "
                                                "name is entered correctly.")
                                     .arg(database)};
        }
        if (!v) {
            throw StatementError{208, 16,
                                 QStringLiteral("Invalid object name '%1'.").arg(n.written)};
        }
        for (const QString& denied : session_.deny) {
            if (sameName(denied, v->name) || sameName(denied, QStringLiteral("sys.") + v->name)) {
                throw StatementError{229, 14,
                                     QStringLiteral("The SELECT permission was denied on the "
                                                    "object '%1', database "
                                                    "'mssqlsystemresource', schema 'sys'.")
                                         .arg(v->name)};
            }
        }
        return *v;
    }

    static OutputColumn sourceColumn(const View& v, const QString& name) {
        if (sameName(name, QStringLiteral("name"))) {
            return {Column{u"name", Column::Type::NVarChar, 128, false},
                    [](const DatabaseEntry* e) { return text(e->name); }};
        }
        if (sameName(name, v.idColumn)) {
            return {Column{v.idColumn.toStdU16String(), v.idType, 0, false},
                    [](const DatabaseEntry* e) { return Value{std::int32_t(e->id)}; }};
        }
        throw StatementError{207, 16, QStringLiteral("Invalid column name '%1'.").arg(name)};
    }

    static OutputColumn constant(Column meta, Value v) {
        return {std::move(meta), [v](const DatabaseEntry*) { return v; }};
    }

    Value serverProperty(const QString& name) const {
        const Product& p = catalog_.product();
        const QString key = name.toUpper();
        if (key == QLatin1String("PRODUCTVERSION")) {
            return text(p.version);
        }
        if (key == QLatin1String("PRODUCTLEVEL")) {
            return text(QStringLiteral("RTM"));
        }
        if (key == QLatin1String("EDITION")) {
            return text(QStringLiteral("Developer Edition (64-bit)"));
        }
        if (key == QLatin1String("ENGINEEDITION")) {
            return text(QStringLiteral("3"));
        }
        if (key == QLatin1String("MACHINENAME") || key == QLatin1String("SERVERNAME")) {
            return text(serverName());
        }
        if (key == QLatin1String("COLLATION")) {
            return text(QStringLiteral("SQL_Latin1_General_CP1_CI_AS"));
        }
        if (key == QLatin1String("ISINTEGRATEDSECURITYONLY")) {
            return text(QStringLiteral("0"));
        }
        if (key == QLatin1String("PRODUCTMAJORVERSION") && p.parts.major >= 11) {
            return text(QString::number(p.parts.major));
        }
        if (key == QLatin1String("PRODUCTMINORVERSION") && p.parts.major >= 11) {
            return text(QString::number(p.parts.minor));
        }
        return Value{}; // SQL Server answers NULL for a property it does not know
    }

    OutputColumn column(const sql::Expr& e, const std::optional<View>& view) {
        using K = sql::Expr::Kind;
        switch (e.kind) {
        case K::ServerProperty:
            return constant(Column{u"", Column::Type::NVarChar, 128, true}, serverProperty(e.text));
        case K::GlobalVariable:
            return globalVariable(e.text);
        case K::Integer:
            return constant(Column{u"", Column::Type::Int, 0, false},
                            Value{static_cast<std::int32_t>(e.number)});
        case K::String:
            return constant(
                Column{u"", Column::Type::NVarChar, std::max<int>(1, int(e.text.size())), false},
                text(e.text));
        case K::DbName:
            return dbName(e, view);
        case K::DbId:
            return dbId(e);
        case K::Column:
            if (!view) {
                throw StatementError{207, 16,
                                     QStringLiteral("Invalid column name '%1'.").arg(e.text)};
            }
            return sourceColumn(*view, e.text);
        case K::Star:
            break;
        }
        throw StatementError{263, 16, QStringLiteral("Must specify table to select from.")};
    }

    OutputColumn globalVariable(const QString& name) {
        const Product& p = catalog_.product();
        if (name == QLatin1String("VERSION")) {
            return constant(Column{u"", Column::Type::NVarChar, 300, false}, text(p.versionText));
        }
        if (name == QLatin1String("MICROSOFTVERSION")) {
            return constant(Column{u"", Column::Type::Int, 0, false},
                            Value{std::int32_t(p.microsoftVersion)});
        }
        if (name == QLatin1String("SPID")) {
            return constant(Column{u"", Column::Type::SmallInt, 0, false},
                            Value{std::int32_t(session_.spid)});
        }
        if (name == QLatin1String("SERVERNAME")) {
            return constant(Column{u"", Column::Type::NVarChar, 128, true}, text(serverName()));
        }
        if (name == QLatin1String("TRANCOUNT")) {
            return constant(Column{u"", Column::Type::Int, 0, false}, Value{std::int32_t(0)});
        }
        if (name == QLatin1String("LANGUAGE")) {
            return constant(Column{u"", Column::Type::NVarChar, 128, false},
                            text(session_.language));
        }
        throw StatementError{
            137, 15, QStringLiteral("Must declare the scalar variable \"@@%1\".").arg(name)};
    }

    OutputColumn dbName(const sql::Expr& e, const std::optional<View>& view) {
        const Column meta{u"", Column::Type::NVarChar, 128, true};
        if (!e.argKind) {
            return constant(meta, text(session_.database));
        }
        if (*e.argKind == sql::Expr::Kind::Integer) {
            const DatabaseEntry* db = catalog_.findById(static_cast<int>(e.argNumber));
            return constant(meta, db ? text(db->name) : Value{});
        }
        if (*e.argKind == sql::Expr::Kind::Column) {
            if (!view || !sameName(e.argText, view->idColumn)) {
                // A column of another kind, or no table at all.
                if (view && sameName(e.argText, QStringLiteral("name"))) {
                    throw StatementError{8116, 16,
                                         QStringLiteral("Argument data type nvarchar is invalid "
                                                        "for argument 1 of db_name function.")};
                }
                throw StatementError{207, 16,
                                     QStringLiteral("Invalid column name '%1'.").arg(e.argText)};
            }
            return {meta, [](const DatabaseEntry* d) { return text(d->name); }};
        }
        throw StatementError{
            8116, 16,
            QStringLiteral("Argument data type varchar is invalid for argument 1 of db_name "
                           "function.")};
    }

    OutputColumn dbId(const sql::Expr& e) {
        const Column meta{u"", Column::Type::Int, 0, true};
        if (!e.argKind) {
            return constant(meta, idOf(catalog_.find(session_.database)));
        }
        if (*e.argKind == sql::Expr::Kind::String) {
            return constant(meta, idOf(catalog_.find(e.argText)));
        }
        throw StatementError{
            8116, 16,
            QStringLiteral("Argument data type int is invalid for argument 1 of db_id function.")};
    }

    // ORDER BY: by a select-list alias or position, or by a column of the view.
    void sortRows(QList<const DatabaseEntry*>& rows, const sql::Select& s,
                  const QList<OutputColumn>& cols, const View& view) {
        if (s.orderBy.isEmpty()) {
            return;
        }
        struct Key {
            std::function<Value(const DatabaseEntry*)> value;
            bool descending;
        };
        QList<Key> keys;
        for (const sql::OrderItem& item : s.orderBy) {
            if (item.column.isEmpty()) {
                if (item.ordinal < 1 || item.ordinal > cols.size()) {
                    throw StatementError{108, 16,
                                         QStringLiteral("The ORDER BY position number %1 is out "
                                                        "of range of the number of items in the "
                                                        "select list.")
                                             .arg(item.ordinal)};
                }
                keys.append({cols[item.ordinal - 1].value, item.descending});
                continue;
            }
            const auto byAlias = std::find_if(cols.begin(), cols.end(), [&](const OutputColumn& c) {
                return sameName(QString::fromStdU16String(c.meta.name), item.column);
            });
            keys.append(
                {byAlias != cols.end() ? byAlias->value : sourceColumn(view, item.column).value,
                 item.descending});
        }
        const state::Collation& collation = catalog_.collation();
        auto compare = [&collation](const Value& a, const Value& b) -> int {
            if (a.index() != b.index()) {
                return a.index() < b.index() ? -1 : 1; // NULL first
            }
            if (const auto* x = std::get_if<std::int32_t>(&a)) {
                const auto y = std::get<std::int32_t>(b);
                return *x < y ? -1 : (*x > y ? 1 : 0);
            }
            if (const auto* x = std::get_if<std::u16string>(&a)) {
                return collation.compare(QStringView(*x), QStringView(std::get<std::u16string>(b)));
            }
            return 0;
        };
        // Each row's keys are computed once, not at every comparison.
        std::vector<std::vector<Value>> rowKeys(static_cast<std::size_t>(rows.size()));
        for (qsizetype r = 0; r < rows.size(); ++r) {
            for (const Key& k : keys) {
                rowKeys[static_cast<std::size_t>(r)].push_back(k.value(rows[r]));
            }
        }
        std::vector<std::size_t> order(rowKeys.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            for (qsizetype k = 0; k < keys.size(); ++k) {
                const auto ki = static_cast<std::size_t>(k);
                const int c = compare(rowKeys[a][ki], rowKeys[b][ki]);
                if (c != 0) {
                    return keys[k].descending ? c > 0 : c < 0;
                }
            }
            return false;
        });
        QList<const DatabaseEntry*> sorted;
        sorted.reserve(rows.size());
        for (std::size_t i : order) {
            sorted.append(rows[static_cast<qsizetype>(i)]);
        }
        rows = std::move(sorted);
    }

    SessionState& session_;
    Catalog& catalog_;
    const InUse& inUse_;
    tds::TokenWriter& out_;
};

} // namespace

tds::ServerMessage serverMessage(int number, int severity, const QString& text, int state) {
    tds::ServerMessage m;
    m.number = number;
    m.state = static_cast<std::uint8_t>(state);
    m.severity = static_cast<std::uint8_t>(severity);
    m.text = text.toStdU16String();
    m.serverName = serverName().toStdU16String();
    m.line = 1;
    return m;
}

void runBatch(const sql::Batch& batch, SessionState& session, Catalog& catalog, const InUse& inUse,
              tds::TokenWriter& out) {
    if (batch.error) {
        out.message(serverMessage(batch.error->number, batch.error->severity, batch.error->text));
        out.done(tds::done::Error, 0, 0);
        return;
    }
    Runner runner(session, catalog, inUse, out);
    std::optional<Runner::Done> last;
    for (qsizetype i = 0; i < batch.statements.size(); ++i) {
        const auto done = runner.run(batch.statements[i]);
        const bool isLast = i + 1 == batch.statements.size();
        if (done) {
            out.done(static_cast<std::uint16_t>(done->status | (isLast ? 0 : tds::done::More)),
                     done->curCmd, done->rows);
        } else if (isLast) {
            out.done(tds::done::Final, tds::curcmd::Set, 0);
        }
    }
    if (batch.statements.isEmpty()) {
        out.done(tds::done::Final, 0, 0);
    }
}

} // namespace engine
