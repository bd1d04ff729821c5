#include "Abandonment.h"

namespace rt {

namespace {
thread_local std::shared_ptr<Abandonment> tCurrent;
} // namespace

void Abandonment::abandon() {
    const std::lock_guard lock(mutex_);
    abandoned_ = true;
    for (const auto& [id, cut] : cuts_) {
        cut();
    }
}

int Abandonment::onAbandon(std::function<void()> cut) {
    const std::lock_guard lock(mutex_);
    if (abandoned_) {
        cut();
    }
    cuts_.emplace(next_, std::move(cut));
    return next_++;
}

void Abandonment::forget(int id) {
    const std::lock_guard lock(mutex_);
    cuts_.erase(id);
}

std::shared_ptr<Abandonment> currentAbandonment() { return tCurrent; }

void setCurrentAbandonment(std::shared_ptr<Abandonment> abandonment) {
    tCurrent = std::move(abandonment);
}

} // namespace rt
