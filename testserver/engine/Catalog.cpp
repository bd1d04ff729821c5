#include "Catalog.h"

#include <algorithm>

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

QString serverName() { return QStringLiteral("TARVELO"); }

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
    int id = 1;
    for (const QString& name : state_.systemNames) {
        entries_.append(DatabaseEntry{name, id++, true, false});
    }
    int mediaSet = 1;
    for (const state::Database& d : state_.databases) {
        entries_.append(DatabaseEntry{d.name, id++, false, heldOutside(d), d.singleUser, mediaSet});
        mediaSet += static_cast<int>(d.backups.size());
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

void Catalog::startRequest(const LiveRequest& request) {
    endRequest(request.spid);
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

bool Catalog::drop(const QString& name, QString& error) {
    state::ServerState next = state_;
    const auto removed = next.databases.removeIf(
        [&](const state::Database& d) { return sameDatabase(d.name, name); });
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

} // namespace engine
