#pragma once
// Work that would block the user-interface thread runs on a worker thread
// while the UI thread waits in a local event loop, so the window keeps
// repainting and answering the desktop.  The UI services marshal through
// onUiThread(): a call from the worker runs on the UI thread and the worker
// waits for it, so every message box and step keeps its order.  Work that
// the user gives up is abandoned: its thread runs to its own end, and what
// it still asks of the UI is dropped, and the links it waits on (its
// connections to a server) are cut at once.

#include <functional>
#include <memory>
#include <thread>

namespace ui {

// Runs the step on the UI thread (at once when called there or when there is
// no application object) and waits for it.  False when the calling work has
// been abandoned: the step did not run.
bool onUiThread(const std::function<void()>& step);

// Runs the step on the UI thread later, in order: with the work's next step
// there (in the same trip), after a batch of such steps, or when the work
// ends.  At once on the UI thread.  Many small steps (a list filled name by
// name) so cost one trip per batch instead of one each.
void deferToUiThread(std::function<void()> step);

// Whether some work, abandoned or not, still runs off the UI thread.  A
// program that ends while this holds must end without destroying what the
// work may still use (its application object, its connections' libraries).
bool workStillRunning();

class OffUiThreadCall {
public:
    // Starts the work on a worker thread.
    explicit OffUiThreadCall(std::function<void()> work);
    // Waits for work that was not abandoned; abandoned work is left to end
    // by itself.
    ~OffUiThreadCall();
    OffUiThreadCall(const OffUiThreadCall&) = delete;
    OffUiThreadCall& operator=(const OffUiThreadCall&) = delete;

    // Processes the UI thread's events until the work has ended or has been
    // abandoned; true when it ended.
    bool wait();
    // From the UI thread: wait() returns, and the work's later calls to
    // onUiThread() do nothing.
    void abandon();

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace ui
