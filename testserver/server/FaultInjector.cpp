#include "FaultInjector.h"

#include "engine/Catalog.h"
#include "protocol/Packets.h"

#include <QPointer>
#include <QTimer>

namespace server {

namespace {
using state::FaultAction;
using state::FaultStage;

constexpr std::size_t InitialPacketSize = 4096;

// Bytes no TDS client can read as a token stream: an unknown token first.
const tds::Bytes GarbageTokens = {0x5A, 0x5A, 0x5A, 0x5A, 0x00, 0xFF, 0x13, 0x37, 0x00, 0x01};
} // namespace

FaultInjector::FaultInjector(const QList<state::Fault>& faults, FaultedConnection& connection,
                             QObject* parent)
    : QObject(parent), faults_(faults), connection_(connection) {}

namespace {
// Whether the batch begins with `text`, as it stands or after the SET
// lines a client puts before its statement (an isolation level sent with
// the statement that follows it).
bool beginsWith(const QString& batch, const QString& text) {
    QStringView rest = QStringView(batch).trimmed();
    for (;;) {
        if (rest.startsWith(text.trimmed(), Qt::CaseInsensitive)) {
            return true;
        }
        const qsizetype lineEnd = rest.indexOf(u'\n');
        if (!rest.startsWith(u"SET ", Qt::CaseInsensitive) || lineEnd < 0) {
            return false;
        }
        rest = rest.sliced(lineEnd + 1).trimmed();
    }
}
} // namespace

const state::Fault* FaultInjector::find(FaultStage stage, const QString& login,
                                        const QString& statement) const {
    for (const state::Fault& f : faults_) {
        if (f.stage == stage && (!f.login || engine::sameName(*f.login, login)) &&
            (!f.statement || beginsWith(statement, *f.statement))) {
            return &f;
        }
    }
    return nullptr;
}

bool FaultInjector::act(const state::Fault& fault, FaultStage stage,
                        const std::function<void()>& resume) {
    switch (fault.action) {
    case FaultAction::Close:
        connection_.closeGracefully();
        return false;
    case FaultAction::Garbage:
        sendGarbage();
        return false;
    case FaultAction::Delay: {
        connection_.hold();
        QPointer<FaultInjector> self(this);
        QTimer::singleShot(fault.ms, this, [self, resume, stage] {
            if (!self || self->connection_.isClosed()) {
                return;
            }
            FaultedConnection& c = self->connection_;
            c.release();
            // What arrived meanwhile: a cancel of the held query means it
            // never runs; its answer is a bare DONE, and the acknowledgement
            // follows in a message of its own, as SQL Server does it.
            if (c.cancelWaiting() && stage == FaultStage::Query) {
                c.answerCancelledQuery();
            } else {
                resume();
            }
            c.resumeRequests();
        });
        return false;
    }
    case FaultAction::Stall:
    case FaultAction::Trickle: // before any row there is nothing to trickle
        // A hung server: the connection stays open and nothing more is
        // read or answered on it.
        connection_.hold();
        return false;
    case FaultAction::LoseAnswer:
        // The request is carried out in full (a drop is saved); the answer
        // is lost with the connection, as when a server or network dies
        // right after the work is done.
        connection_.mute();
        resume();
        connection_.closeGracefully();
        return false;
    case FaultAction::LoseLink: {
        // The link goes down while the batch runs; the server goes on with
        // it, as SQL Server goes on with a DROP whose client has gone.
        QPointer<FaultInjector> self(this);
        QTimer::singleShot(fault.ms, this, [self] {
            if (self) {
                self->connection_.loseLink();
            }
        });
        return true;
    }
    case FaultAction::Refuse:
        break; // the listener's business
    }
    return true;
}

const state::Fault* FaultInjector::rowsFault(const tds::TokenWriter& w,
                                             const QString& login) const {
    const state::Fault* f = find(FaultStage::Rows, login);
    if (!f || w.rowStarts().empty() || static_cast<std::size_t>(f->after) >= w.rowStarts().size()) {
        return nullptr;
    }
    return f;
}

void FaultInjector::cutRows(const state::Fault& fault, const tds::TokenWriter& w) {
    const std::size_t cut = w.rowStarts()[static_cast<std::size_t>(fault.after)];
    if (fault.action == FaultAction::Garbage) {
        tds::Bytes body(w.bytes().begin(), w.bytes().begin() + static_cast<std::ptrdiff_t>(cut));
        body.insert(body.end(), GarbageTokens.begin(), GarbageTokens.end());
        const tds::Bytes stream = connection_.packetized(body);
        connection_.writeStream(stream, 0, stream.size());
        connection_.closeGracefully();
        return;
    }
    // Cut the packet stream itself, so the client sees a packet that never ends.
    const tds::Bytes stream = connection_.packetized(w.bytes());
    const std::size_t chunk = connection_.packetSize() - tds::packet::HeaderSize;
    const std::size_t at = cut + (cut / chunk + 1) * tds::packet::HeaderSize;
    connection_.writeStream(stream, 0, at);
    if (fault.action == FaultAction::Close) {
        connection_.closeGracefully();
        return;
    }
    connection_.hold();
    if (fault.action == FaultAction::Stall) {
        return;
    }
    if (fault.action == FaultAction::Trickle) {
        trickle(stream, at, fault.ms);
        return;
    }
    QPointer<FaultInjector> self(this);
    QTimer::singleShot(fault.ms, this, [self, stream, at] {
        if (!self || self->connection_.isClosed()) {
            return;
        }
        self->connection_.writeStream(stream, at, stream.size());
        self->connection_.release();
        self->connection_.resumeRequests();
    });
}

void FaultInjector::trickle(const tds::Bytes& stream, std::size_t from, int everyMs) {
    // One byte each time: no read of the client ever waits long.
    auto* timer = new QTimer(this);
    QObject::connect(timer, &QTimer::timeout, this, [this, timer, stream, at = from]() mutable {
        if (connection_.isClosed() || at >= stream.size()) {
            timer->deleteLater();
            if (!connection_.isClosed()) {
                connection_.release();
                connection_.resumeRequests();
            }
            return;
        }
        connection_.writeStream(stream, at, at + 1);
        ++at;
    });
    timer->start(everyMs);
}

void FaultInjector::sendGarbage() {
    const tds::Bytes stream =
        tds::packetize(tds::packet::TabularResult, GarbageTokens, InitialPacketSize, 0);
    connection_.writeStream(stream, 0, stream.size());
    connection_.closeGracefully();
}

} // namespace server
