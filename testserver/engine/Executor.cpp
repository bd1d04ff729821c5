#include "Executor.h"

#include "Backup.h"
#include "Messages.h"
#include "Views.h"
#include "sql/Parameters.h"

#include <QDateTime>
#include <QTimeZone>
#include <QUuid>

#include <algorithm>
#include <optional>

namespace engine {

namespace {

using tds::Column;
using tds::Value;

Value text(const QString& s) { return Value{s.toStdU16String()}; }

Value dateTimeValue(const QDateTime& t) {
    static const QDate epoch(1900, 1, 1);
    return Value{
        tds::DateTime{static_cast<std::int32_t>(epoch.daysTo(t.date())),
                      static_cast<std::uint32_t>((t.time().msecsSinceStartOfDay() * 3 + 5) / 10)}};
}

Value idOf(const DatabaseEntry* db) {
    Value v;
    if (db) {
        v.emplace<std::int32_t>(db->id);
    }
    return v;
}

// One output column: its metadata and how to compute it for a row of the
// view (any row, or none, when there is no FROM).
struct OutputColumn {
    Column meta;
    std::function<Value(qsizetype)> value;
};

// The words ALTER DATABASE's 5052 uses for a state, in both languages.
QString stateWord(state::DatabaseStatus s) {
    using S = state::DatabaseStatus;
    switch (s) {
    case S::Offline:
        return QStringLiteral("Offline");
    case S::Restoring:
        return QStringLiteral("Restoring");
    case S::Recovering:
        return QStringLiteral("Recovering");
    case S::RecoveryPending:
        return QStringLiteral("Recovery Pending");
    case S::Suspect:
        return QStringLiteral("Suspect");
    case S::Emergency:
        return QStringLiteral("Emergency");
    case S::Online:
        break;
    }
    return QStringLiteral("Online");
}

QString accessName(sql::AlterDatabase::Access a) {
    switch (a) {
    case sql::AlterDatabase::Access::Single:
        return QStringLiteral("SINGLE_USER");
    case sql::AlterDatabase::Access::Restricted:
        return QStringLiteral("RESTRICTED_USER");
    case sql::AlterDatabase::Access::Multi:
        break;
    }
    return QStringLiteral("MULTI_USER");
}

UserAccess userAccess(sql::AlterDatabase::Access a) {
    switch (a) {
    case sql::AlterDatabase::Access::Single:
        return UserAccess::Single;
    case sql::AlterDatabase::Access::Restricted:
        return UserAccess::Restricted;
    case sql::AlterDatabase::Access::Multi:
        break;
    }
    return UserAccess::Multi;
}

// SQL Server ignores trailing blanks when it compares texts.
QStringView withoutTrailingBlanks(const std::u16string& s) {
    QStringView v(s);
    while (!v.isEmpty() && v.back() == u' ') {
        v.chop(1);
    }
    return v;
}

// An error raised inside a TRY block: control goes to its CATCH block,
// and the client hears nothing of it.
struct Caught {
    int number;
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
            send(e);
            return Done{tds::done::Error, curCmdOf(st), 0};
        } catch (const StatementErrors& e) {
            sendAll(e.errors);
            return Done{tds::done::Error, curCmdOf(st), 0};
        }
    }

    // Messages that go together: inside a TRY block the CATCH hears the
    // last error, the summary, as SQL Server's BACKUP and RESTORE are heard.
    void sendAll(const QList<StatementError>& messages) {
        if (tryDepth_ > 0) {
            for (qsizetype i = messages.size() - 1; i >= 0; --i) {
                if (messages[i].severity >= 11) {
                    throw Caught{messages[i].number};
                }
            }
        }
        for (const StatementError& m : messages) {
            out_.message(serverMessage(m.number, m.severity,
                                       messageText(m.number, language(), m.args, m.variant)));
        }
    }

    // A backup or restore's end: what it says, and its DONE.
    Done ended(const Outcome& outcome) {
        sendAll(outcome.messages);
        return Done{static_cast<std::uint16_t>(outcome.failed ? tds::done::Error : 0),
                    tds::curcmd::None, 0};
    }

    // The backup's STATS messages as it goes; false once a fault stops it.
    bool backupProgress(BackupRun& run, double percent) {
        sendAll(run.advance(percent));
        return !run.stopped();
    }

private:
    Language language() const {
        return session_.language == languageName(Language::Spanish) ? Language::Spanish
                                                                    : Language::English;
    }

    // A message in the session's language; an error inside a TRY block
    // goes to its CATCH block instead.
    void send(const StatementError& e) {
        if (tryDepth_ > 0 && e.severity >= 11) {
            throw Caught{e.number};
        }
        out_.message(serverMessage(e.number, e.severity,
                                   messageText(e.number, language(), e.args, e.variant)));
    }

    // The statements of a block or of a procedure, each with its DONE.
    void runNested(const QList<sql::Statement>& statements) {
        const bool outer = std::exchange(topLevel_, false);
        for (const sql::Statement& st : statements) {
            if (const auto done = run(st)) {
                out_.done(static_cast<std::uint16_t>(done->status | tds::done::More), done->curCmd,
                          done->rows);
            }
        }
        topLevel_ = outer;
    }

    std::optional<Done> exec(const sql::TryCatch& t) {
        try {
            ++tryDepth_;
            runNested(t.tryBlock->items);
            --tryDepth_;
        } catch (const Caught& caught) {
            --tryDepth_;
            const std::optional<int> outer = std::exchange(errorNumber_, caught.number);
            runNested(t.catchBlock->items);
            errorNumber_ = outer;
        }
        return std::nullopt;
    }

    static QString literalOf(const sql::Expr& e) {
        switch (e.kind) {
        case sql::Expr::Kind::String:
            return sql::textLiteral(e.text);
        case sql::Expr::Kind::Integer:
            return QString::number(e.number);
        default:
            return QStringLiteral("NULL");
        }
    }

    // sp_executesql: its statement, with the parameters it declares put in
    // as literals, runs as a batch of its own would; a syntax error in it is
    // an error of this statement, as on SQL Server.
    std::optional<Done> exec(const sql::Execute& e) {
        if (!sameName(e.procedure, QStringLiteral("sp_executesql"))) {
            throw StatementError{
                2812,
                16,
                {QStringLiteral("Could not find stored procedure '%1'.").arg(e.procedure)},
                kVerbatim};
        }
        const auto& args = e.arguments;
        if (args.isEmpty() || args[0].second.kind != sql::Expr::Kind::String) {
            throw StatementError{214,
                                 16,
                                 {QStringLiteral("Procedure expects parameter '@statement' of "
                                                 "type 'ntext/nchar/nvarchar'.")},
                                 kVerbatim};
        }
        const QStringList declared =
            args.size() > 1 ? sql::declaredParameters(args[1].second.text) : QStringList();
        sql::ParameterLiterals literals;
        for (qsizetype i = 2; i < args.size(); ++i) {
            const QString name = args[i].first.isEmpty() ? declared.value(i - 2) : args[i].first;
            literals.append({name, literalOf(args[i].second)});
        }
        const sql::Batch inner =
            sql::parseBatch(sql::withParameters(args[0].second.text, literals));
        if (inner.error) {
            throw StatementError{
                inner.error->number, inner.error->severity, {inner.error->text}, kVerbatim};
        }
        runNested(inner.statements);
        return std::nullopt;
    }

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
        if (std::holds_alternative<sql::Execute>(st)) {
            return tds::curcmd::Execute;
        }
        if (std::holds_alternative<sql::BackupDatabase>(st) ||
            std::holds_alternative<sql::Restore>(st)) {
            return tds::curcmd::None;
        }
        return tds::curcmd::Set;
    }

    std::optional<Done> exec(const sql::Use& u) {
        const DatabaseEntry* db = catalog_.find(u.database);
        if (!db) {
            throw StatementError{911, 16, {u.database}};
        }
        if (db->singleUser && db->name != session_.database && inUse_(*db)) {
            throw StatementError{924, 14, {db->name}};
        }
        const QString old = session_.database;
        session_.database = db->name;
        out_.envChange(tds::envchange::Database, db->name.toStdU16String(), old.toStdU16String());
        send(StatementError{5701, 0, {db->name}});
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
            setLanguage(s.value);
            break;
        case sql::Set::Kind::Value:
            checkValue(s);
            break;
        }
        return std::nullopt;
    }

    // us_english (or English) and Spanish (or Español) are served.
    void setLanguage(const QString& wanted) {
        Language next = Language::English;
        if (isSpanishName(wanted)) {
            next = Language::Spanish;
        } else if (!sameName(wanted, QStringLiteral("us_english")) &&
                   !sameName(wanted, QStringLiteral("English"))) {
            throw StatementError{2732, 16, {wanted}};
        }
        const QString name = languageName(next);
        out_.envChange(tds::envchange::Language, name.toStdU16String(),
                       session_.language.toStdU16String());
        session_.language = name;
        send(StatementError{5703, 0, {name}});
    }

    static void checkValue(const sql::Set& s) {
        const QString& option = s.options.first();
        if (option == QLatin1String("DATEFORMAT")) {
            static const QStringList orders = {"MDY", "DMY", "YMD", "YDM", "MYD", "DYM"};
            if (!orders.contains(s.value.toUpper())) {
                throw StatementError{2741, 16, {s.value}};
            }
        } else if (option == QLatin1String("DATEFIRST")) {
            const int v = s.value.toInt();
            if (v < 1 || v > 7) {
                throw StatementError{2740, 16, {s.value}};
            }
        }
    }

    std::optional<Done> exec(const sql::DropDatabase& d) {
        if (const auto taking = longDrop(d)) {
            LongStatement drop;
            drop.durationMs = taking->durationMs;
            drop.request.spid = session_.spid;
            drop.request.databaseId = taking->databaseId;
            drop.request.login = session_.login;
            drop.request.command = QStringLiteral("DROP DATABASE");
            drop.request.durationMs = taking->durationMs;
            drop.finish = [name = taking->name](Runner& r) { return r.finishDrop(name); };
            pending_ = std::move(drop);
            return std::nullopt;
        }
        bool failed = false;
        for (const QString& name : d.names) {
            try {
                dropOne(name);
            } catch (const StatementError& e) {
                send(e);
                failed = true;
            }
        }
        return Done{static_cast<std::uint16_t>(failed ? tds::done::Error : 0),
                    tds::curcmd::DropDatabase, 0};
    }

    // The first snapshot of the database, in state-file order.
    const state::Database* snapshotOf(const DatabaseEntry& db) const {
        for (const state::Database& d : catalog_.state().databases) {
            if (d.snapshotOf && catalog_.sameDatabase(*d.snapshotOf, db.name)) {
                return &d;
            }
        }
        return nullptr;
    }

public:
    // A top-level statement that takes time (a DROP of one database that
    // says so, a BACKUP): its checks pass now, and it ends later.
    struct LongStatement {
        int durationMs = 0;
        LiveRequest request;
        // Its end, told through a runner writing to the answer then.
        std::function<Done(Runner&)> finish;
        std::function<bool(Runner&, double)> progress; // none: silent meanwhile
        std::function<void()> abandon;
    };
    std::optional<LongStatement> pending_;
    bool topLevel_ = true;

    Done finishDrop(const QString& name) {
        try {
            QString why;
            if (!catalog_.drop(name, why)) {
                throw StatementError{5120, 16, {name, why}, "state file"};
            }
        } catch (const StatementError& e) {
            send(e);
            return Done{tds::done::Error, tds::curcmd::DropDatabase, 0};
        }
        return Done{0, tds::curcmd::DropDatabase, 0};
    }

    std::optional<Done> exec(const sql::BackupDatabase& b) {
        std::shared_ptr<BackupRun> run = startBackup(b, session_, catalog_);
        if (!topLevel_) {
            // Inside a block or a procedure it runs at once.
            backupProgress(*run, 100);
            return ended(run->finish(catalog_));
        }
        LongStatement backup;
        backup.durationMs = run->durationMs();
        backup.request = run->request();
        backup.finish = [run](Runner& r) { return r.ended(run->finish(r.catalog_)); };
        backup.progress = [run](Runner& r, double percent) {
            return r.backupProgress(*run, percent);
        };
        backup.abandon = [run, &catalog = catalog_] { run->abandon(catalog); };
        pending_ = std::move(backup);
        return std::nullopt;
    }

    std::optional<Done> exec(const sql::Restore& r) {
        switch (r.kind) {
        case sql::Restore::Kind::VerifyOnly:
            return ended(verifyBackup(r, session_, catalog_));
        case sql::Restore::Kind::HeaderOnly: {
            const Table t = backupHeaders(r, session_, catalog_);
            out_.columns(t.columns);
            for (const std::vector<Value>& row : t.rows) {
                out_.row(row);
            }
            return Done{static_cast<std::uint16_t>(session_.noCount ? 0 : tds::done::Count),
                        tds::curcmd::None, static_cast<std::uint64_t>(t.rows.size())};
        }
        case sql::Restore::Kind::Database:
            break;
        }
        return ended(restoreDatabase(r, session_, catalog_, inUse_));
    }

private:
    struct LongDrop {
        QString name; // as the server spells it
        int durationMs;
        int databaseId;
    };
    std::optional<LongDrop> longDrop(const sql::DropDatabase& d) {
        if (!topLevel_ || d.names.size() != 1) {
            return std::nullopt;
        }
        const DatabaseEntry* db = catalog_.find(d.names.first());
        const state::Database* details = db ? catalog_.details(*db) : nullptr;
        if (!details || details->dropTakesMs == 0) {
            return std::nullopt;
        }
        try {
            checkDrop(d.names.first());
        } catch (const StatementError&) {
            return std::nullopt; // refused at once, as a plain drop is
        }
        return LongDrop{db->name, details->dropTakesMs, db->id};
    }

    // In SQL Server's order: existence and permission, use, snapshots,
    // replication, mirroring, availability groups.  Log shipping and a
    // database that is not online do not stop a drop.
    void dropOne(const QString& name) {
        const QString actual = checkDrop(name); // the entry goes away with the drop
        QString why;
        if (!catalog_.drop(actual, why)) {
            // The file could not be written: the database stays, and says so.
            throw StatementError{5120, 16, {name, why}, "state file"};
        }
    }

    // The drop's checks; the name as the server spells it.
    QString checkDrop(const QString& name) {
        const DatabaseEntry* db = catalog_.find(name);
        if (catalog_.isSystemName(name) || (db && db->system)) {
            throw StatementError{3708, 16, {name}};
        }
        if (!db || !mayDrop(*db)) {
            throw StatementError{3701, 11, {name}};
        }
        if (inUse_(*db)) {
            throw StatementError{3702, 16, {name}};
        }
        if (const state::Database* snapshot = snapshotOf(*db)) {
            throw StatementError{3709, 16, {snapshot->name}};
        }
        const state::Database* d = catalog_.details(*db);
        if (d && d->replicated) {
            throw StatementError{3724, 16, {name}};
        }
        if (d && d->mirrored) {
            throw StatementError{3743, 16, {name}};
        }
        if (d && d->availabilityGroup) {
            throw StatementError{3752, 16, {name}};
        }
        return db->name;
    }

    std::optional<Done> exec(const sql::AlterDatabase& a) {
        try {
            alterOne(a);
        } catch (const StatementError& e) {
            send(e);
            if (e.number != 5011 && e.number != 5058 && e.number != 5069) {
                send(StatementError{5069, 16});
            }
            return Done{tds::done::Error, tds::curcmd::AlterDatabase, 0};
        }
        return Done{0, tds::curcmd::AlterDatabase, 0};
    }

    void alterOne(const sql::AlterDatabase& a) {
        const DatabaseEntry* db = catalog_.find(a.name);
        if (db && db->system) {
            throw StatementError{5058, 16, {accessName(a.access), db->name}};
        }
        // ALTER on the database: whoever may drop it (sysadmin, db_owner,
        // ALTER ANY DATABASE) may change its access.
        if (!db || !(session_.sysadmin || mayDrop(*db))) {
            throw StatementError{5011, 14, {a.name}};
        }
        const state::Database* d = catalog_.details(*db);
        // EMERGENCY takes access changes: it is how a damaged database is
        // repaired.
        if (d && d->status != state::DatabaseStatus::Online &&
            d->status != state::DatabaseStatus::Emergency) {
            throw StatementError{5052, 16, {stateWord(d->status)}};
        }
        const bool othersIn = db->name != session_.database && inUse_(*db);
        if (db->singleUser && a.access != sql::AlterDatabase::Access::Single && othersIn) {
            // The one user that single-user access allows is someone else.
            throw StatementError{5064, 16, {db->name}};
        }
        bool endHolders = false;
        if (a.access != sql::AlterDatabase::Access::Multi && othersIn) {
            DatabaseEntry onlyClients = *db;
            onlyClients.inUse = false;
            if (a.termination != sql::AlterDatabase::Termination::RollbackImmediate) {
                // SQL Server waits for the users to leave; this server does not.
                throw StatementError{5070, 16, {db->name}};
            }
            if (inUse_(onlyClients)) {
                // Sessions of this server's own clients are not ended.
                throw StatementError{5061, 16, {db->name}};
            }
            endHolders = true;
        }
        // The slot taker gets in unless this session holds the one place.
        const bool takeSlot =
            a.access == sql::AlterDatabase::Access::Single && db->name != session_.database;
        const QString actual = db->name;
        QString why;
        if (!catalog_.setUserAccess(actual, userAccess(a.access), endHolders, takeSlot, why)) {
            throw StatementError{5069, 16, {why}, "state file"};
        }
        if (endHolders) {
            send(StatementError{5060, 10});
        }
    }

    // What a WHERE compares with: a constant of the select's own kinds.
    Value conditionValue(const sql::Condition& c) {
        if (c.value.kind == sql::Expr::Kind::Column || c.value.kind == sql::Expr::Kind::Star) {
            throw StatementError{207, 16, {c.value.text}};
        }
        return column(c.value, nullptr).value(0);
    }

    static std::optional<QUuid> uuidOf(const Value& v) {
        const auto* s = std::get_if<std::u16string>(&v);
        const QString written = s ? QString::fromStdU16String(*s).trimmed() : QString();
        const QUuid u = QUuid::fromString(written);
        // QUuid reads a malformed text as the nil GUID, which is also a GUID.
        static const QString nil = QUuid().toString(QUuid::WithoutBraces);
        const bool valid = !u.isNull() || written == nil || written == u'{' + nil + u'}';
        return valid ? std::optional<QUuid>(u) : std::nullopt;
    }

    static std::int32_t intOf(const std::u16string& s) {
        bool ok = false;
        const int n = QString::fromStdU16String(s).trimmed().toInt(&ok);
        if (!ok) {
            throw StatementError{245, 16, {QString::fromStdU16String(s)}};
        }
        return n;
    }

    // column = constant, with SQL Server's conversions: a text compares
    // with a uniqueidentifier as a GUID (any case), with an integer column
    // as a number; NULL equals nothing.
    bool matches(const Value& cell, const Value& wanted, Column::Type type) const {
        if (std::holds_alternative<std::monostate>(cell) ||
            std::holds_alternative<std::monostate>(wanted)) {
            return false;
        }
        const auto* wantedText = std::get_if<std::u16string>(&wanted);
        const auto* wantedNumber = std::get_if<std::int32_t>(&wanted);
        switch (type) {
        case Column::Type::UniqueIdentifier: {
            const std::optional<QUuid> u = uuidOf(wanted);
            if (!u) {
                throw StatementError{8169, 16};
            }
            return std::get<tds::Guid>(cell) == std::get<tds::Guid>(guidValue(*u));
        }
        case Column::Type::Bit: {
            const std::int32_t n = wantedNumber ? *wantedNumber : intOf(*wantedText);
            return std::get<bool>(cell) == (n != 0);
        }
        case Column::Type::Int:
        case Column::Type::SmallInt:
        case Column::Type::TinyInt:
            return std::get<std::int32_t>(cell) ==
                   (wantedNumber ? *wantedNumber : intOf(*wantedText));
        case Column::Type::BigInt:
        case Column::Type::Numeric:
            return std::get<std::int64_t>(cell) ==
                   (wantedNumber ? *wantedNumber : intOf(*wantedText));
        case Column::Type::NVarChar: {
            const auto& s = std::get<std::u16string>(cell);
            if (wantedNumber) {
                return intOf(s) == *wantedNumber;
            }
            return catalog_.collation().same(withoutTrailingBlanks(s),
                                             withoutTrailingBlanks(*wantedText));
        }
        case Column::Type::DateTime: {
            const QDateTime t =
                wantedText ? QDateTime::fromString(QString::fromStdU16String(*wantedText).trimmed(),
                                                   Qt::ISODateWithMs)
                           : QDateTime();
            if (!t.isValid()) {
                throw StatementError{241, 16};
            }
            const QDateTime utc(t.date(), t.time(), QTimeZone::utc());
            static const QDate epoch(1900, 1, 1);
            const tds::DateTime d{
                static_cast<std::int32_t>(epoch.daysTo(utc.date())),
                static_cast<std::uint32_t>((utc.time().msecsSinceStartOfDay() * 3 + 5) / 10)};
            return std::get<tds::DateTime>(cell) == d;
        }
        case Column::Type::Real:
            return wantedNumber && std::get<float>(cell) == static_cast<float>(*wantedNumber);
        }
        return false;
    }

    static Value guidValue(const QUuid& u) {
        tds::Guid g;
        const QByteArray bytes = u.toRfc4122();
        std::copy(bytes.begin(), bytes.end(), g.bytes.begin());
        return Value{g};
    }

    std::optional<Done> exec(const sql::Select& s) {
        std::optional<View> view;
        if (s.from) {
            view = s.joins.isEmpty() ? openView(*s.from, catalog_, session_) : joined(s);
        }
        const View* v = view ? &*view : nullptr;
        if (v && !v->sortable && !s.orderBy.isEmpty()) {
            throw StatementError{1033, 15, {}, "sysprocesses order"};
        }
        if (s.top && *s.top < 0) {
            throw StatementError{1014, 15};
        }
        QList<OutputColumn> cols;
        for (const sql::SelectItem& item : s.items) {
            if (item.expr.kind == sql::Expr::Kind::Star) {
                if (!v) {
                    throw StatementError{263, 16};
                }
                for (const QString& name : v->star) {
                    cols.append(sourceColumn(*v, name));
                }
                continue;
            }
            OutputColumn c = column(item.expr, v);
            if (item.alias) {
                c.meta.name = item.alias->toStdU16String();
            }
            cols.append(c);
        }
        QList<qsizetype> rows;
        if (v) {
            rows.reserve(v->rows);
            for (qsizetype r = 0; r < v->rows; ++r) {
                rows.append(r);
            }
            for (const sql::Condition& c : s.where) {
                const Value wanted = conditionValue(c);
                const OutputColumn compared = sourceColumn(*v, c.column);
                rows.removeIf([&](qsizetype r) {
                    return !matches(compared.value(r), wanted, compared.meta.type);
                });
            }
            sortRows(rows, s, cols, *v);
        } else {
            if (!s.where.isEmpty()) {
                throw StatementError{207, 16, {s.where.first().column}};
            }
            rows.append(0);
        }
        if (s.top && *s.top < rows.size()) {
            rows.resize(static_cast<qsizetype>(*s.top));
        }
        std::vector<Column> meta;
        meta.reserve(static_cast<std::size_t>(cols.size()));
        for (const OutputColumn& c : cols) {
            meta.push_back(c.meta);
        }
        out_.columns(meta);
        std::vector<Value> values(meta.size());
        for (const qsizetype r : rows) {
            for (qsizetype i = 0; i < cols.size(); ++i) {
                values[static_cast<std::size_t>(i)] = cols[i].value(r);
            }
            out_.row(values);
        }
        return Done{static_cast<std::uint16_t>(session_.noCount ? 0 : tds::done::Count),
                    tds::curcmd::Select, static_cast<std::uint64_t>(rows.size())};
    }

    // The rows of the FROM table and its joins, as one view whose columns
    // are named "alias.column", and "column" alone where no other table has
    // one of that name.  A LEFT JOIN keeps a row that nothing matches, its
    // columns NULL there.
    View joined(const sql::Select& s) {
        struct Source {
            QString alias;
            View view;
        };
        QList<Source> sources{{s.fromAlias.isEmpty() ? s.from->parts.last() : s.fromAlias,
                               openView(*s.from, catalog_, session_)}};
        // Each row of the result: a row of every source so far, -1 for none.
        QList<QList<qsizetype>> rows;
        for (qsizetype r = 0; r < sources[0].view.rows; ++r) {
            rows.append(QList<qsizetype>{r});
        }
        View result;
        auto addColumns = [&](qsizetype source, bool nullable) {
            for (const ViewColumn& c : sources[source].view.columns) {
                ViewColumn q = c;
                q.meta.name =
                    (sources[source].alias + u'.' + QString::fromStdU16String(c.meta.name))
                        .toStdU16String();
                q.meta.nullable = q.meta.nullable || nullable;
                result.columns.append(q);
            }
        };
        addColumns(0, false);
        for (const sql::Join& j : s.joins) {
            sources.append({j.alias.isEmpty() ? j.table.parts.last() : j.alias,
                            openView(j.table, catalog_, session_)});
            const qsizetype source = sources.size() - 1;
            addColumns(source, j.left);
            QList<QList<qsizetype>> next;
            for (qsizetype r = 0; r < rows.size(); ++r) {
                bool any = false;
                for (qsizetype other = 0; other < sources[source].view.rows; ++other) {
                    QList<qsizetype> candidate = rows[r];
                    candidate.append(other);
                    if (joinHolds(j.on, rowsView(result, {candidate}), 0)) {
                        next.append(candidate);
                        any = true;
                    }
                }
                if (!any && j.left) {
                    QList<qsizetype> alone = rows[r];
                    alone.append(-1);
                    next.append(alone);
                }
            }
            rows = std::move(next);
        }
        View v = rowsView(result, rows);
        // Unqualified names, where they are unique.
        QList<ViewColumn> plain;
        for (const ViewColumn& c : v.columns) {
            const QString name = QString::fromStdU16String(c.meta.name).section(u'.', -1);
            const auto same = std::count_if(v.columns.begin(), v.columns.end(), [&](const auto& o) {
                return sameName(QString::fromStdU16String(o.meta.name).section(u'.', -1), name);
            });
            if (same == 1) {
                ViewColumn p = c;
                p.meta.name = name.toStdU16String();
                plain.append(p);
            }
        }
        v.columns += plain;
        return v;
    }

    // The columns of `shape` (one per source column, in source order) over
    // these rows of sources.
    static View rowsView(const View& shape, const QList<QList<qsizetype>>& rows) {
        View v;
        v.rows = rows.size();
        auto shared = std::make_shared<const QList<QList<qsizetype>>>(rows);
        qsizetype source = 0;
        QString alias;
        for (const ViewColumn& c : shape.columns) {
            const QString a = QString::fromStdU16String(c.meta.name).section(u'.', 0, 0);
            if (!alias.isEmpty() && a != alias) {
                ++source;
            }
            alias = a;
            v.columns.append({c.meta, [shared, source, f = c.value](qsizetype r) {
                                  const QList<qsizetype>& row = (*shared)[r];
                                  if (source >= row.size() || row[source] < 0) {
                                      return Value{};
                                  }
                                  return f(row[source]);
                              }});
        }
        return v;
    }

    // Whether every ON condition holds for row `r` of `v`: a column against
    // another column or a constant.
    bool joinHolds(const QList<sql::Condition>& on, const View& v, qsizetype r) {
        for (const sql::Condition& c : on) {
            const OutputColumn left = sourceColumn(v, c.column);
            const Value cell = left.value(r);
            const Value other = c.value.kind == sql::Expr::Kind::Column
                                    ? sourceColumn(v, c.value.text).value(r)
                                    : conditionValue(c);
            if (!sameValue(cell, other, left.meta.type)) {
                return false;
            }
        }
        return true;
    }

    bool sameValue(const Value& a, const Value& b, Column::Type type) const {
        if (a.index() == b.index() && !std::holds_alternative<std::monostate>(a)) {
            if (const auto* x = std::get_if<std::u16string>(&a)) {
                return catalog_.collation().same(
                    withoutTrailingBlanks(*x), withoutTrailingBlanks(std::get<std::u16string>(b)));
            }
            return a == b;
        }
        return matches(a, b, type);
    }

    bool isDbOwner(const DatabaseEntry& db) const {
        return engine::isDbOwner(catalog_, session_, db);
    }

    bool hasServerPermission(const QString& permission) const {
        return engine::hasServerPermission(session_, permission);
    }

    // DROP DATABASE: CONTROL on the database (its owner and db_owner have
    // it), or ALTER ANY DATABASE; on SQL Server 2000, dbcreator too.
    bool mayDrop(const DatabaseEntry& db) const {
        return isDbOwner(db) || hasServerPermission(QStringLiteral("ALTER ANY DATABASE")) ||
               (catalog_.product().parts.major < 9 &&
                session_.roles.contains(QStringLiteral("dbcreator")));
    }

    // HAS_PERMS_BY_NAME(securable, class, permission): a server permission
    // when both are NULL, a database's permission for class DATABASE; NULL
    // for what does not exist.
    Value hasPermsByName(const std::vector<sql::Expr>& args) const {
        if (args.size() != 3 || args[2].kind != sql::Expr::Kind::String) {
            throw StatementError{174, 15, {QStringLiteral("has_perms_by_name"), "3"}};
        }
        const QString permission = args[2].text.toUpper();
        const bool serverLevel =
            args[0].kind == sql::Expr::Kind::Null && args[1].kind == sql::Expr::Kind::Null;
        if (serverLevel) {
            return Value{std::int32_t(hasServerPermission(permission) ? 1 : 0)};
        }
        const DatabaseEntry* db =
            args[0].kind == sql::Expr::Kind::String ? catalog_.find(args[0].text) : nullptr;
        if (!db || args[1].kind != sql::Expr::Kind::String ||
            !sameName(args[1].text, QStringLiteral("DATABASE"))) {
            return Value{};
        }
        const state::Database* d = catalog_.details(*db);
        const bool backupOperator =
            d && std::any_of(d->backupOperators.begin(), d->backupOperators.end(),
                             [&](const QString& o) { return sameName(o, session_.login); });
        const bool granted =
            session_.sysadmin ||
            ((permission == QLatin1String("CONTROL") || permission == QLatin1String("ALTER") ||
              permission == QLatin1String("BACKUP DATABASE")) &&
             isDbOwner(*db)) ||
            (permission == QLatin1String("BACKUP DATABASE") && backupOperator);
        return Value{std::int32_t(granted ? 1 : 0)};
    }

    Value isSrvRoleMember(const std::vector<sql::Expr>& args) const {
        if (args.size() != 1 || args[0].kind != sql::Expr::Kind::String) {
            throw StatementError{174, 15, {QStringLiteral("is_srvrolemember"), "1"}};
        }
        const QString role = args[0].text.toLower();
        if (role == QLatin1String("sysadmin")) {
            return Value{std::int32_t(session_.sysadmin ? 1 : 0)};
        }
        if (role == QLatin1String("dbcreator")) {
            return Value{std::int32_t(session_.roles.contains(role) ? 1 : 0)};
        }
        return Value{};
    }

    // SUSER_SNAME(): the session's login; SUSER_SNAME(sid) of a row of
    // sysdatabases: its owner's login, which this server keeps in sid;
    // SUSER_SNAME(0x01): the login whose security id is 0x01, the first
    // sysadmin of the state (sa, or rdsa on Amazon RDS).
    OutputColumn suserSname(const std::vector<sql::Expr>& args, const View* view) {
        const Column meta{u"", Column::Type::NVarChar, 128, true};
        if (args.empty()) {
            return constant(meta, text(session_.login));
        }
        if (args[0].kind == sql::Expr::Kind::Binary) {
            const auto& logins = catalog_.state().logins;
            const auto first = std::find_if(logins.begin(), logins.end(),
                                            [](const state::Login& l) { return l.sysadmin; });
            const bool sa = args[0].text == QLatin1String("01");
            return constant(meta, sa && first != logins.end() ? text(first->name) : Value{});
        }
        if (args[0].kind != sql::Expr::Kind::Column) {
            return constant(meta, Value{});
        }
        if (!view) {
            throw StatementError{207, 16, {args[0].text}};
        }
        const OutputColumn sid = sourceColumn(*view, args[0].text);
        return {meta, sid.value};
    }

    static OutputColumn sourceColumn(const View& v, const QString& name) {
        const ViewColumn* c = v.column(name);
        if (!c) {
            throw StatementError{207, 16, {name}};
        }
        return {c->meta, c->value};
    }

    static OutputColumn constant(Column meta, Value v) {
        return {std::move(meta), [v](qsizetype) { return v; }};
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
        const state::Edition edition = catalog_.state().edition;
        if (key == QLatin1String("EDITION")) {
            return text(editionText(edition));
        }
        if (key == QLatin1String("ENGINEEDITION")) {
            return text(QString::number(engineEdition(edition)));
        }
        if (key == QLatin1String("EDITIONID")) {
            return text(QString::number(editionId(edition)));
        }
        if (key == QLatin1String("INSTANCEDEFAULTBACKUPPATH") && p.parts.major >= 15) {
            // With one separator at its end, as SQL Server 2019 and later tell it.
            QString folder = catalog_.state().backupFolder;
            while (folder.endsWith(u'/')) {
                folder.chop(1);
            }
            return text(folder + u'/');
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

    OutputColumn column(const sql::Expr& e, const View* view) {
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
        case K::Column: {
            if (!view) {
                throw StatementError{207, 16, {e.text}};
            }
            // A joined table's column is named by its own name.
            OutputColumn c = sourceColumn(*view, e.text);
            c.meta.name = QString::fromStdU16String(c.meta.name).section(u'.', -1).toStdU16String();
            return c;
        }
        case K::Null:
            return constant(Column{u"", Column::Type::Int, 0, true}, Value{});
        case K::ErrorNumber:
            return constant(Column{u"", Column::Type::Int, 0, true},
                            errorNumber_ ? Value{std::int32_t(*errorNumber_)} : Value{});
        case K::HasPermsByName:
            return constant(Column{u"", Column::Type::Int, 0, true}, hasPermsByName(e.args));
        case K::IsSrvRoleMember:
            return constant(Column{u"", Column::Type::Int, 0, true}, isSrvRoleMember(e.args));
        case K::SuserSname:
            return suserSname(e.args, view);
        case K::GetDate:
            return constant(Column{u"", Column::Type::DateTime, 0, false},
                            dateTimeValue(serverNow()));
        case K::Binary:
            // A binary constant is only read as SUSER_SNAME's argument here.
            throw StatementError{206, 16, {}, "binary"};
        case K::Star:
            break;
        }
        throw StatementError{263, 16};
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
        throw StatementError{137, 15, {name}};
    }

    OutputColumn dbName(const sql::Expr& e, const View* view) {
        const Column meta{u"", Column::Type::NVarChar, 128, true};
        if (!e.argKind) {
            return constant(meta, text(session_.database));
        }
        if (*e.argKind == sql::Expr::Kind::Integer) {
            const DatabaseEntry* db = catalog_.findById(static_cast<int>(e.argNumber));
            return constant(meta, db ? text(db->name) : Value{});
        }
        if (*e.argKind == sql::Expr::Kind::Column) {
            if (!view) {
                throw StatementError{207, 16, {e.argText}};
            }
            const OutputColumn id = sourceColumn(*view, e.argText);
            if (id.meta.type != Column::Type::Int && id.meta.type != Column::Type::SmallInt) {
                throw StatementError{8116, 16, {typeName(id.meta.type), "db_name"}};
            }
            const Catalog& catalog = catalog_;
            return {meta, [id, &catalog](qsizetype r) {
                        const Value v = id.value(r);
                        const auto* n = std::get_if<std::int32_t>(&v);
                        const DatabaseEntry* db = n ? catalog.findById(*n) : nullptr;
                        return db ? text(db->name) : Value{};
                    }};
        }
        throw StatementError{8116, 16, {"varchar", "db_name"}};
    }

    static QString typeName(Column::Type t) {
        switch (t) {
        case Column::Type::NVarChar:
            return QStringLiteral("nvarchar");
        case Column::Type::Int:
            return QStringLiteral("int");
        case Column::Type::SmallInt:
            return QStringLiteral("smallint");
        case Column::Type::Bit:
            return QStringLiteral("bit");
        case Column::Type::UniqueIdentifier:
            return QStringLiteral("uniqueidentifier");
        case Column::Type::DateTime:
            return QStringLiteral("datetime");
        case Column::Type::Real:
            return QStringLiteral("real");
        case Column::Type::TinyInt:
            return QStringLiteral("tinyint");
        case Column::Type::BigInt:
            return QStringLiteral("bigint");
        case Column::Type::Numeric:
            return QStringLiteral("numeric");
        }
        return {};
    }

    OutputColumn dbId(const sql::Expr& e) {
        const Column meta{u"", Column::Type::Int, 0, true};
        if (!e.argKind) {
            return constant(meta, idOf(catalog_.find(session_.database)));
        }
        if (*e.argKind == sql::Expr::Kind::String) {
            return constant(meta, idOf(catalog_.find(e.argText)));
        }
        throw StatementError{8116, 16, {"int", "db_id"}};
    }

    // ORDER BY: by a select-list alias or position, or by a column of the view.
    void sortRows(QList<qsizetype>& rows, const sql::Select& s, const QList<OutputColumn>& cols,
                  const View& view) {
        if (s.orderBy.isEmpty()) {
            return;
        }
        struct Key {
            std::function<Value(qsizetype)> value;
            bool descending;
        };
        QList<Key> keys;
        for (const sql::OrderItem& item : s.orderBy) {
            if (item.column.isEmpty()) {
                if (item.ordinal < 1 || item.ordinal > cols.size()) {
                    throw StatementError{108, 16, {QString::number(item.ordinal)}};
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
            if (const auto* x = std::get_if<std::u16string>(&a)) {
                return collation.compare(QStringView(*x), QStringView(std::get<std::u16string>(b)));
            }
            // Numbers, bits, GUIDs and datetimes: by value.
            return a < b ? -1 : (b < a ? 1 : 0);
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
        QList<qsizetype> sorted;
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
    int tryDepth_ = 0;
    std::optional<int> errorNumber_; // inside a CATCH block
};

} // namespace

bool isDbOwner(const Catalog& catalog, const SessionState& session, const DatabaseEntry& db) {
    const state::Database* d = catalog.details(db);
    return d && ((d->owner && sameName(*d->owner, session.login)) ||
                 std::any_of(d->dbOwners.begin(), d->dbOwners.end(),
                             [&](const QString& o) { return sameName(o, session.login); }));
}

bool hasServerPermission(const SessionState& session, const QString& permission) {
    const QString wanted = permission.toUpper();
    return session.sysadmin || session.permissions.contains(wanted) ||
           (wanted == QLatin1String("CREATE ANY DATABASE") &&
            session.roles.contains(QStringLiteral("dbcreator")));
}

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

namespace {

// Runs the batch's statements from `from` on; stops at a long statement,
// whose end resumes the rest.
std::optional<Pending> runFrom(std::shared_ptr<const sql::Batch> batch, qsizetype from,
                               SessionState& session, Catalog& catalog, const InUse& inUse,
                               tds::TokenWriter& out) {
    Runner runner(session, catalog, inUse, out);
    for (qsizetype i = from; i < batch->statements.size(); ++i) {
        const auto done = runner.run(batch->statements[i]);
        const bool isLast = i + 1 == batch->statements.size();
        if (auto taking = std::exchange(runner.pending_, std::nullopt)) {
            Pending p;
            p.durationMs = taking->durationMs;
            p.request = taking->request;
            p.resume = [batch, i, isLast, &session, &catalog, inUse,
                        finish = taking->finish](tds::TokenWriter& w) -> std::optional<Pending> {
                Runner end(session, catalog, inUse, w);
                const Runner::Done ended = finish(end);
                w.done(static_cast<std::uint16_t>(ended.status | (isLast ? 0 : tds::done::More)),
                       ended.curCmd, 0);
                return runFrom(batch, i + 1, session, catalog, inUse, w);
            };
            if (taking->progress) {
                p.progress = [&session, &catalog, inUse,
                              progress = taking->progress](double percent, tds::TokenWriter& w) {
                    Runner meanwhile(session, catalog, inUse, w);
                    return progress(meanwhile, percent);
                };
            }
            p.abandon = taking->abandon;
            return p;
        }
        if (done) {
            out.done(static_cast<std::uint16_t>(done->status | (isLast ? 0 : tds::done::More)),
                     done->curCmd, done->rows);
        } else if (isLast) {
            out.done(tds::done::Final, tds::curcmd::Set, 0);
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<Pending> runBatch(std::shared_ptr<const sql::Batch> batch, SessionState& session,
                                Catalog& catalog, const InUse& inUse, tds::TokenWriter& out) {
    if (batch->error) {
        // Syntax errors come from the recogniser, in English.
        out.message(
            serverMessage(batch->error->number, batch->error->severity, batch->error->text));
        out.done(tds::done::Error, 0, 0);
        return std::nullopt;
    }
    if (batch->statements.isEmpty()) {
        out.done(tds::done::Final, 0, 0);
        return std::nullopt;
    }
    return runFrom(std::move(batch), 0, session, catalog, inUse, out);
}

} // namespace engine
