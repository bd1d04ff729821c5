#pragma once
// A bound on a statement's whole time.  The driver's time-out counts from
// the last byte read, so a server that trickles bytes could hold a
// statement for ever; at the bound the watchdog shuts the driver's socket
// down, and the statement fails as timed out.  A statement without a
// time-out (a drop, which the server may still complete) is never cut.

#include "platform/odbc/Odbc.h"

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace connection {

// The sockets this process has open, by inode.
std::set<ino_t> openSockets();

// The one connected TCP socket opened since `before`; none when there is no
// such socket or more than one (another thread connected meanwhile).
std::optional<int> socketOpenedSince(const std::set<ino_t>& before);

class LinkWatchdog final : public odbc::StatementWatch {
public:
    LinkWatchdog(int socket, std::chrono::milliseconds bound);
    ~LinkWatchdog() override;

    void started(std::chrono::seconds queryTimeout) override;
    void ended() override;
    QString interruption() const override;

private:
    int socket_;
    std::chrono::milliseconds bound_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool running_ = false;
    bool fired_ = false;
    std::thread timer_;
};

} // namespace connection
