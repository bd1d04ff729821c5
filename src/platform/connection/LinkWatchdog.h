#pragma once
// A bound on a statement's whole time.  The driver's time-out counts from
// the last byte read, so a server that trickles bytes could hold a
// statement for ever; at the bound the watchdog cuts the connection's
// relay, and the statement fails as timed out.  It owns the relay, so that
// the relay lives as long as the connection that holds the watchdog.  A
// statement without a time-out (a drop, which the server may still
// complete) is never cut.

#include "DriverRelay.h"
#include "platform/odbc/Odbc.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace connection {

class LinkWatchdog final : public odbc::StatementWatch {
public:
    LinkWatchdog(std::shared_ptr<DriverRelay> relay, std::chrono::milliseconds bound);
    ~LinkWatchdog() override;

    void started(std::chrono::seconds queryTimeout) override;
    void ended() override;
    QString interruption() const override;

private:
    std::shared_ptr<DriverRelay> relay_;
    std::chrono::milliseconds bound_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool running_ = false;
    bool fired_ = false;
    std::thread timer_;
};

} // namespace connection
