#include "Catalog.h"

#include <QHash>
#include <QTimeZone>

#include <algorithm>
#include <array>

namespace engine {

namespace {
QString productName(int major, int minor) {
    switch (major) {
    case 8:
        return QStringLiteral("Microsoft SQL Server 2000");
    case 9:
        return QStringLiteral("Microsoft SQL Server 2005");
    case 10:
        return minor >= 50 ? QStringLiteral("Microsoft SQL Server 2008 R2")
                           : QStringLiteral("Microsoft SQL Server 2008");
    case 11:
        return QStringLiteral("Microsoft SQL Server 2012");
    case 12:
        return QStringLiteral("Microsoft SQL Server 2014");
    case 13:
        return QStringLiteral("Microsoft SQL Server 2016");
    case 14:
        return QStringLiteral("Microsoft SQL Server 2017");
    case 15:
        return QStringLiteral("Microsoft SQL Server 2019");
    case 16:
        return QStringLiteral("Microsoft SQL Server 2022");
    default:
        return QStringLiteral("Microsoft SQL Server");
    }
}
} // namespace

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QDateTime serverNow() {
    const QDateTime local = QDateTime::currentDateTime();
    return QDateTime(local.date(), local.time(), QTimeZone::utc());
}

QDateTime systemDatabaseCreated() {
    return QDateTime(QDate(2003, 4, 8), QTime(9, 13, 36), QTimeZone::utc());
}

QString serverName() { return QStringLiteral("TARVELO"); }

QString editionText(state::Edition edition) {
    using E = state::Edition;
    switch (edition) {
    case E::Enterprise:
        return QStringLiteral("Enterprise Edition (64-bit)");
    case E::Standard:
        return QStringLiteral("Standard Edition (64-bit)");
    case E::Web:
        return QStringLiteral("Web Edition (64-bit)");
    case E::Express:
        return QStringLiteral("Express Edition (64-bit)");
    case E::AzureSqlDatabase:
    case E::AzureManagedInstance:
        return QStringLiteral("SQL Azure");
    case E::Developer:
        break;
    }
    return QStringLiteral("Developer Edition (64-bit)");
}

int engineEdition(state::Edition edition) {
    using E = state::Edition;
    switch (edition) {
    case E::Standard:
    case E::Web:
        return 2;
    case E::Express:
        return 4;
    case E::AzureSqlDatabase:
        return 5;
    case E::AzureManagedInstance:
        return 8;
    case E::Enterprise:
    case E::Developer:
        break;
    }
    return 3;
}

qint64 editionId(state::Edition edition) {
    using E = state::Edition;
    switch (edition) {
    case E::Enterprise:
        return 1804890536;
    case E::Standard:
        return -1534726760;
    case E::Web:
        return 1293598313;
    case E::Express:
        return -1592396055;
    case E::AzureSqlDatabase:
    case E::AzureManagedInstance:
        return 1674378470;
    case E::Developer:
        break;
    }
    return -2117995310;
}

Product describeProduct(const QString& version) {
    Product p;
    p.version = version;
    const QStringList parts = version.split(u'.');
    p.parts.major = parts.value(0).toInt();
    p.parts.minor = parts.value(1).toInt();
    p.parts.build = parts.value(2).toInt();
    p.parts.revision = parts.value(3).toInt();
    p.name = productName(p.parts.major, p.parts.minor);
    p.versionText = QStringLiteral("%1 - %2 (X64) \n\tJan  1 2024 00:00:00 \n\tCopyright (c) "
                                   "Microsoft Corporation\n\tDeveloper Edition (64-bit) on "
                                   "Linux (Debian GNU/Linux 12)\n")
                        .arg(p.name, version);
    p.microsoftVersion =
        (p.parts.major << 24) | ((p.parts.minor & 0xFF) << 16) | (p.parts.build & 0xFFFF);
    return p;
}

namespace {
bool heldOutside(const state::Database& d) {
    return d.inUse || !d.sessions.isEmpty() || d.running.has_value();
}
} // namespace

Catalog::Catalog(state::ServerState s, QString statePath)
    : state_(std::move(s)), path_(std::move(statePath)), product_(describeProduct(state_.version)) {
    product_.versionText.replace(QStringLiteral("Developer Edition (64-bit)"),
                                 editionText(state_.edition));
    int id = 1;
    for (const QString& name : state_.systemNames) {
        entries_.append(DatabaseEntry{name, id++, true, false});
    }
    // Backup sets are numbered at start: the history of databases gone
    // first (older than any database of the same name now), then each
    // database's in file order.
    for (state::HistoricBackup& h : state_.backupHistory) {
        h.backup.setId = nextSetId_++;
    }
    for (state::Database& d : state_.databases) {
        entries_.append(DatabaseEntry{d.name, id++, false, heldOutside(d), d.singleUser});
        for (state::Backup& b : d.backups) {
            b.setId = nextSetId_++;
        }
    }
}

bool Catalog::setUserAccess(const QString& name, UserAccess access, bool endHolders, bool takeSlot,
                            QString& error) {
    state::ServerState next = state_;
    state::Database* changed = nullptr;
    for (state::Database& d : next.databases) {
        if (sameDatabase(d.name, name)) {
            changed = &d;
        }
    }
    if (changed == nullptr) {
        error = QStringLiteral("no such user database");
        return false;
    }
    changed->singleUser = access == UserAccess::Single;
    changed->restrictedUser = access == UserAccess::Restricted;
    if (endHolders) {
        changed->inUse = false;
        changed->sessions.clear();
        changed->running.reset();
    }
    if (takeSlot && changed->slotTaker) {
        // It was waiting for the database; now it is the one user in it.
        changed->sessions = {*changed->slotTaker};
        changed->slotTaker.reset();
    }
    const state::Database saved = *changed;
    if (!state::saveState(path_, next, error)) {
        return false;
    }
    state_ = std::move(next);
    for (DatabaseEntry& e : entries_) {
        if (!e.system && sameDatabase(e.name, name)) {
            e.inUse = heldOutside(saved);
            e.singleUser = saved.singleUser;
        }
    }
    return true;
}

bool Catalog::sameDatabase(const QString& a, const QString& b) const {
    return state_.collation.same(a, b);
}

const DatabaseEntry* Catalog::find(const QString& name) const {
    for (const DatabaseEntry& e : entries_) {
        if (sameDatabase(e.name, name)) {
            return &e;
        }
    }
    return nullptr;
}

const DatabaseEntry* Catalog::findById(int id) const {
    // Ids only grow along the list, drops leave gaps.
    const auto at =
        std::lower_bound(entries_.begin(), entries_.end(), id,
                         [](const DatabaseEntry& e, int wanted) { return e.id < wanted; });
    return at != entries_.end() && at->id == id ? &*at : nullptr;
}

const state::Database* Catalog::details(const DatabaseEntry& e) const {
    // entries_ holds the system databases, then state_.databases in order.
    const qsizetype at = &e - entries_.data() - state_.systemNames.size();
    return e.system || at < 0 || at >= state_.databases.size() ? nullptr : &state_.databases[at];
}

QList<state::DatabaseFile> Catalog::files(const DatabaseEntry& e) const {
    if (const state::Database* d = details(e)) {
        return state::databaseFiles(*d);
    }
    // By the system database's id: 1 master, 2 tempdb, 3 model, 4 msdb.
    static const QHash<int, std::array<QString, 3>> names = {{1, {"master", "master", "mastlog"}},
                                                             {2, {"tempdb", "tempdev", "templog"}},
                                                             {3, {"model", "modeldev", "modellog"}},
                                                             {4, {"msdb", "MSDBData", "MSDBLog"}}};
    const auto [database, data, log] = names.value(e.id);
    const QString folder = QStringLiteral("/var/opt/mssql/data/");
    return {{data, folder + database + QStringLiteral(".mdf"), true, 1024},
            {log, folder + log + QStringLiteral(".ldf"), true, 256}};
}

const state::Login* Catalog::login(const QString& name) const {
    for (const state::Login& l : state_.logins) {
        if (sameName(l.name, name)) {
            return &l;
        }
    }
    return nullptr;
}

const state::Database* Catalog::userDatabase(const QString& name) const {
    for (const state::Database& d : state_.databases) {
        if (sameDatabase(d.name, name)) {
            return &d;
        }
    }
    return nullptr;
}

bool Catalog::isSystemName(const QString& name) const {
    for (const QString& s : state_.systemNames) {
        if (sameName(s, name)) {
            return true;
        }
    }
    return false;
}

void Catalog::startRequest(LiveRequest request) {
    endRequest(request.spid);
    if (!request.started.isValid()) {
        request.started = serverNow();
    }
    live_.append(request);
}

void Catalog::setRequestPercent(int spid, double percent) {
    for (LiveRequest& r : live_) {
        if (r.spid == spid) {
            r.percent = percent;
        }
    }
}

void Catalog::endRequest(int spid) {
    live_.removeIf([spid](const LiveRequest& r) { return r.spid == spid; });
}

void Catalog::keepHistory(state::ServerState& s, const state::Database& leaving) {
    for (state::Backup b : leaving.backups) {
        if (!b.databaseCreated) {
            b.databaseCreated = state::databaseCreated(leaving);
        }
        s.backupHistory.append({leaving.name, b});
    }
}

bool Catalog::drop(const QString& name, QString& error) {
    state::ServerState next = state_;
    const auto removed = next.databases.removeIf([&](const state::Database& d) {
        if (!sameDatabase(d.name, name)) {
            return false;
        }
        keepHistory(next, d); // as SQL Server's msdb keeps it after a drop
        return true;
    });
    if (removed == 0) {
        error = QStringLiteral("no such user database");
        return false;
    }
    if (!state::saveState(path_, next, error)) {
        return false;
    }
    state_ = std::move(next);
    entries_.removeIf(
        [&](const DatabaseEntry& e) { return !e.system && sameDatabase(e.name, name); });
    return true;
}

bool Catalog::recordBackup(const QString& database, state::Backup backup, QString& error) {
    state::ServerState next = state_;
    backup.setId = nextSetId_;
    const auto own =
        std::find_if(next.databases.begin(), next.databases.end(),
                     [&](const state::Database& d) { return sameDatabase(d.name, database); });
    if (own != next.databases.end()) {
        own->backups.append(backup);
    } else {
        if (!backup.databaseCreated) {
            backup.databaseCreated = systemDatabaseCreated();
        }
        next.backupHistory.append({database, backup});
    }
    if (!state::saveState(path_, next, error)) {
        return false;
    }
    state_ = std::move(next);
    ++nextSetId_;
    return true;
}

bool Catalog::restore(const state::Database& restored, QString& error) {
    state::ServerState next = state_;
    const auto same =
        std::find_if(next.databases.begin(), next.databases.end(),
                     [&](const state::Database& d) { return sameDatabase(d.name, restored.name); });
    if (same != next.databases.end()) {
        keepHistory(next, *same);
        *same = restored;
    } else {
        next.databases.append(restored);
    }
    if (!state::saveState(path_, next, error)) {
        return false;
    }
    state_ = std::move(next);
    const DatabaseEntry entry{restored.name, 0, false, heldOutside(restored), restored.singleUser};
    for (DatabaseEntry& e : entries_) {
        if (!e.system && sameDatabase(e.name, restored.name)) {
            e = DatabaseEntry{entry.name, e.id, false, entry.inUse, entry.singleUser};
            return true;
        }
    }
    entries_.append(
        DatabaseEntry{entry.name, entries_.last().id + 1, false, entry.inUse, entry.singleUser});
    return true;
}

bool Catalog::claimDevice(const QString& path) {
    if (devices_.contains(path)) {
        return false;
    }
    devices_.insert(path);
    return true;
}

void Catalog::releaseDevice(const QString& path) { devices_.remove(path); }

} // namespace engine
