#pragma once
// Work that the user gives up may be waiting on a link that only its own
// time-out would end.  Whatever holds such a link registers, with the work
// its thread runs, how to cut it; giving up the work cuts them all at once,
// and cuts at once any registered afterwards.

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace rt {

class Abandonment {
public:
    // Runs every cut registered, and from now on each one as it comes.
    void abandon();
    // Registers a cut; the number is for forget().
    int onAbandon(std::function<void()> cut);
    // The link is gone: its cut must not run any more.  Waits for a cut
    // that is running.
    void forget(int id);

private:
    std::mutex mutex_;
    bool abandoned_ = false;
    int next_ = 0;
    std::map<int, std::function<void()>> cuts_;
};

// The Abandonment of the work the calling thread runs; none outside such
// work.
std::shared_ptr<Abandonment> currentAbandonment();
// Sets it for the calling thread, at the start of the work.
void setCurrentAbandonment(std::shared_ptr<Abandonment> abandonment);

} // namespace rt
