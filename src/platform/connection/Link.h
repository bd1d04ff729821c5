#pragma once
// A logical connection of the object layers, and the share of physical
// sessions that one command's logical connections draw on.
//
// Round trips are the cost on a distant server, and a login is five of
// them.  So within one command (a SessionShare in use), the logical
// connections that ask for the same server, login, password and database
// share one physical session, as the data-access platform's session pooling
// did: each step still opens and closes its own objects, but a session a
// step gives back waits, idle, for the command's next step instead of
// closing.  A session is lent to one step at a time and never kept past its
// command; one whose link has died is replaced without a word.  What a step
// changed of the session's state is undone before the next step's first
// statement, in that statement's batch, as a pooled session's reset travels
// with its next request: its isolation level is set back, and a session
// whose database changed is closed rather than lent.
//
// Outside a share every logical connection is a physical session of its own.

#include "Connect.h"

#include <memory>

namespace connection {

enum class Isolation { ReadUncommitted, ReadCommitted, RepeatableRead, Serializable };

class SessionShare;
struct PhysicalSession;

class Link {
public:
    ~Link(); // gives the session back to its share, or closes it
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    odbc::Connection& odbc() const;
    // The isolation level of this logical connection's statements, set
    // with its next statement.
    void setIsolation(Isolation level);

private:
    friend std::unique_ptr<Link> connect(const Request& request);
    Link(std::unique_ptr<PhysicalSession> session, std::shared_ptr<SessionShare> share);

    std::unique_ptr<PhysicalSession> session_;
    std::weak_ptr<SessionShare> share_;
};

class SessionShare {
public:
    SessionShare();
    ~SessionShare(); // closes the idle sessions
    SessionShare(const SessionShare&) = delete;
    SessionShare& operator=(const SessionShare&) = delete;

    // While a Use lives, connect() on its thread draws on the share.
    class Use {
    public:
        explicit Use(std::shared_ptr<SessionShare> share);
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        std::shared_ptr<SessionShare> previous_;
    };

    // An idle session for the request, if one fits; its relay follows the
    // calling thread's work from now on.
    std::unique_ptr<PhysicalSession> lend(const Request& request);
    void giveBack(std::unique_ptr<PhysicalSession> session);

private:
    struct Idle;
    std::unique_ptr<Idle> idle_;
};

} // namespace connection
