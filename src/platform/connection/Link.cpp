#include "Link.h"

#include "DriverRelay.h"
#include "Login.h"

#include <mutex>
#include <vector>

namespace connection {

namespace {
QString isolationStatement(Isolation level);
}

struct PhysicalSession {
    Request request; // what it logged in with
    Established established;
    // The isolation level the server has, as far as the statements sent
    // tell, and the one the session's user wants.
    Isolation onServer = Isolation::ReadCommitted;
    Isolation wanted = Isolation::ReadCommitted;

    odbc::Connection& connection() const { return *established.connection; }
    // The wanted level, set with the next statement unless the server has it.
    void want(Isolation level) {
        if (connection().preamble().isEmpty()) {
            onServer = wanted; // the last SET went out with a statement
        }
        wanted = level;
        connection().setPreamble(wanted == onServer ? QString() : isolationStatement(wanted));
    }
};

namespace {

// The share that connect() draws on, for the work the thread runs.
thread_local std::shared_ptr<SessionShare> currentShare;

QString isolationStatement(Isolation level) {
    switch (level) {
    case Isolation::ReadUncommitted:
        return QStringLiteral("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED");
    case Isolation::RepeatableRead:
        return QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ");
    case Isolation::Serializable:
        return QStringLiteral("SET TRANSACTION ISOLATION LEVEL SERIALIZABLE");
    case Isolation::ReadCommitted:
        break;
    }
    return QStringLiteral("SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
}

double tdsVersionOf(const QString& text) { return text.toDouble(); }

// A session logged in for `had` serves `wanted`: the same server as typed,
// login, password and database, and at least the TDS version asked for.
// The versions differ only in how the date and time types of 7.3 travel,
// which the object layers read as the text 7.2 carries them in.
bool serves(const Request& had, const Request& wanted) {
    return had.server == wanted.server && had.login == wanted.login &&
           had.password == wanted.password && had.database == wanted.database &&
           tdsVersionOf(had.tdsVersion) >= tdsVersionOf(wanted.tdsVersion);
}

// Still usable: the link is open, and the session is in the database it
// logged in to (none of the object layers changes it; were one to, the
// session would not be lent again).
bool fitForAnotherStep(const PhysicalSession& session) {
    if (!session.established.relay->open()) {
        return false;
    }
    try {
        return session.request.database.isEmpty() ||
               session.connection().currentDatabase().compare(session.request.database,
                                                              Qt::CaseInsensitive) == 0;
    } catch (const odbc::Error&) {
        return false;
    }
}

} // namespace

struct SessionShare::Idle {
    std::mutex mutex;
    std::vector<std::unique_ptr<PhysicalSession>> sessions;
};

SessionShare::SessionShare() : idle_(std::make_unique<Idle>()) {}

SessionShare::~SessionShare() = default;

SessionShare::Use::Use(std::shared_ptr<SessionShare> share)
    : previous_(std::exchange(currentShare, std::move(share))) {}

SessionShare::Use::~Use() { currentShare = std::move(previous_); }

std::unique_ptr<PhysicalSession> SessionShare::lend(const Request& request) {
    std::unique_ptr<PhysicalSession> found;
    {
        const std::lock_guard lock(idle_->mutex);
        auto& sessions = idle_->sessions;
        for (auto it = sessions.begin(); it != sessions.end(); ++it) {
            if (serves((*it)->request, request)) {
                found = std::move(*it);
                sessions.erase(it);
                break;
            }
        }
    }
    if (found) {
        found->established.relay->followCurrentWork();
    }
    return found;
}

void SessionShare::giveBack(std::unique_ptr<PhysicalSession> session) {
    if (!fitForAnotherStep(*session)) {
        return; // closed as it goes
    }
    const std::lock_guard lock(idle_->mutex);
    idle_->sessions.push_back(std::move(session));
}

Link::Link(std::unique_ptr<PhysicalSession> session, std::shared_ptr<SessionShare> share)
    : session_(std::move(session)), share_(share) {}

Link::~Link() {
    // The next step starts at the login's level, set with its first
    // statement when this step changed it.
    session_->want(Isolation::ReadCommitted);
    if (const std::shared_ptr<SessionShare> share = share_.lock()) {
        share->giveBack(std::move(session_));
    }
}

odbc::Connection& Link::odbc() const { return session_->connection(); }

void Link::setIsolation(Isolation level) { session_->want(level); }

std::unique_ptr<Link> connect(const Request& request) {
    std::shared_ptr<SessionShare> share = currentShare;
    std::unique_ptr<PhysicalSession> session = share ? share->lend(request) : nullptr;
    if (!session) {
        session =
            std::make_unique<PhysicalSession>(PhysicalSession{request, Login(request).connect()});
    }
    return std::unique_ptr<Link>(new Link(std::move(session), share));
}

} // namespace connection
