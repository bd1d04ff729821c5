#pragma once
// The faults of the state file, acted out on one connection: it finds the
// first fault of a stage that touches the connection's login and does what
// it says (close, delay, garbage, stall, lose the answer), and cuts a result short for a
// "rows" fault.  The connection it acts on is reached through FaultedConnection.

#include "protocol/Bytes.h"
#include "protocol/TokenWriter.h"
#include "state/ServerState.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

namespace server {

// What a fault needs from the connection it acts on.
class FaultedConnection {
public:
    virtual ~FaultedConnection() = default;
    virtual bool isClosed() const = 0;
    // Packet stream bytes [from, to) as they are.
    virtual void writeStream(const tds::Bytes& stream, std::size_t from, std::size_t to) = 0;
    // The token stream in packets of the negotiated size.
    virtual tds::Bytes packetized(const tds::Bytes& tokens) const = 0;
    virtual std::size_t packetSize() const = 0;
    virtual void closeGracefully() = 0;
    // Held: requests that arrive wait until released.
    virtual void hold() = 0;
    virtual void release() = 0;
    // Reads what arrived while held; true when a cancel is next in line.
    virtual bool cancelWaiting() = 0;
    // The answer to a held query that was cancelled before it ran.
    virtual void answerCancelledQuery() = 0;
    // Goes on with the requests that arrived meanwhile.
    virtual void resumeRequests() = 0;
    // From now on nothing more reaches the client.
    virtual void mute() = 0;
    // The link goes down now; the work the connection started goes on.
    virtual void loseLink() = 0;
};

class FaultInjector : public QObject {
public:
    FaultInjector(const QList<state::Fault>& faults, FaultedConnection& connection,
                  QObject* parent = nullptr);

    // The first fault of `stage` for this login (every login when unnamed)
    // and, at the query stage, this batch.
    const state::Fault* find(state::FaultStage stage, const QString& login,
                             const QString& statement = QString()) const;

    // Acts out `fault` on a request of `stage`.  True when the request goes
    // on now; false when the connection was closed or `resume` was
    // scheduled for later.
    bool act(const state::Fault& fault, state::FaultStage stage,
             const std::function<void()>& resume);

    // The "rows" fault of this login that cuts the response `w` short: one
    // whose row count K is below the response's.
    const state::Fault* rowsFault(const tds::TokenWriter& w, const QString& login) const;
    // Sends `w` cut after K rows: then the server closes, waits or turns to
    // garbage, as a dying server or network would.
    void cutRows(const state::Fault& fault, const tds::TokenWriter& w);

private:
    void sendGarbage();
    // Sends the rest of `stream` from `from`, one byte every `everyMs`.
    void trickle(const tds::Bytes& stream, std::size_t from, int everyMs);

    const QList<state::Fault>& faults_;
    FaultedConnection& connection_;
};

} // namespace server
