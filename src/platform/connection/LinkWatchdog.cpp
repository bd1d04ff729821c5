#include "LinkWatchdog.h"

#include "Sentences.h"

namespace connection {

LinkWatchdog::LinkWatchdog(std::shared_ptr<DriverRelay> relay, std::chrono::milliseconds bound)
    : relay_(std::move(relay)), bound_(bound) {}

LinkWatchdog::~LinkWatchdog() { ended(); }

void LinkWatchdog::started(std::chrono::seconds queryTimeout) {
    if (queryTimeout.count() == 0) {
        return;
    }
    ended(); // a statement before this one that was never said to end
    const std::lock_guard lock(mutex_);
    running_ = true;
    timer_ = std::thread([this, deadline = std::chrono::steady_clock::now() + bound_] {
        std::unique_lock wait(mutex_);
        if (!wake_.wait_until(wait, deadline, [this] { return !running_; })) {
            relay_->cut();
            fired_ = true;
        }
    });
}

void LinkWatchdog::ended() {
    {
        const std::lock_guard lock(mutex_);
        running_ = false;
    }
    wake_.notify_all();
    if (timer_.joinable()) {
        timer_.join();
    }
}

QString LinkWatchdog::interruption() const {
    const std::lock_guard lock(mutex_);
    return fired_ ? say::noAnswerInTime() : QString();
}

} // namespace connection
