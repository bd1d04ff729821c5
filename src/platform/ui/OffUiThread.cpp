#include "OffUiThread.h"

#include "platform/runtime/Abandonment.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <future>
#include <vector>

namespace ui {

struct OffUiThreadCall::Shared {
    std::atomic<bool> done{false};
    std::atomic<bool> abandoned{false};
    // Cuts the links the work waits on when it is given up.
    std::shared_ptr<rt::Abandonment> links = std::make_shared<rt::Abandonment>();
    QPointer<QEventLoop> loop; // the UI thread's waiting loop; touched there only
};

namespace {

std::atomic<int> gRunning{0};
// The work this worker thread runs; none on other threads.
thread_local OffUiThreadCall::Shared* tWork = nullptr;
// Its deferred steps, not yet run.
thread_local std::vector<std::function<void()>> tDeferred;
constexpr std::size_t kDeferredBatch = 512;

bool onTheUiThread(const QCoreApplication* app) {
    return app == nullptr || QThread::currentThread() == app->thread();
}

} // namespace

bool onUiThread(const std::function<void()>& step) {
    QCoreApplication* app = QCoreApplication::instance();
    if (onTheUiThread(app)) {
        step();
        return true;
    }
    OffUiThreadCall::Shared* work = tWork;
    if (work != nullptr && work->abandoned) {
        return false;
    }
    bool ran = false;
    std::vector<std::function<void()>> deferred;
    deferred.swap(tDeferred);
    // The worker waits on a promise of its own rather than on Qt's blocking
    // connection, so that what the step wrote is seen to happen before what
    // the worker reads afterwards (by ThreadSanitizer too).
    std::promise<void> stepped;
    // Abandoning happens on the UI thread, so the check there is final.
    QMetaObject::invokeMethod(
        app,
        [&] {
            if (work == nullptr || !work->abandoned) {
                for (const std::function<void()>& earlier : deferred) {
                    earlier();
                }
                step();
                ran = true;
            }
            stepped.set_value();
        },
        Qt::QueuedConnection);
    stepped.get_future().wait();
    return ran;
}

void deferToUiThread(std::function<void()> step) {
    if (onTheUiThread(QCoreApplication::instance())) {
        step();
        return;
    }
    tDeferred.push_back(std::move(step));
    if (tDeferred.size() >= kDeferredBatch) {
        onUiThread([] {});
    }
}

bool workStillRunning() { return gRunning > 0; }

OffUiThreadCall::OffUiThreadCall(std::function<void()> work) : shared_(std::make_shared<Shared>()) {
    ++gRunning;
    thread_ = std::thread([shared = shared_, work = std::move(work)]() mutable {
        tWork = shared.get();
        rt::setCurrentAbandonment(shared->links);
        work();
        onUiThread([] {}); // the deferred steps still pending
        tDeferred.clear();
        work = nullptr; // what the work holds goes before it counts as ended
        shared->done = true;
        if (QCoreApplication* app = QCoreApplication::instance(); app && !shared->abandoned) {
            QMetaObject::invokeMethod(
                app,
                [shared] {
                    if (shared->loop) {
                        shared->loop->quit();
                    }
                },
                Qt::QueuedConnection);
        }
        tWork = nullptr;
        rt::setCurrentAbandonment(nullptr);
        --gRunning;
    });
}

OffUiThreadCall::~OffUiThreadCall() {
    if (shared_->abandoned) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

bool OffUiThreadCall::wait() {
    if (!shared_->done && !shared_->abandoned) {
        QEventLoop loop;
        shared_->loop = &loop;
        // The work's end posts the quit, so it cannot come before exec().
        loop.exec();
        shared_->loop = nullptr;
    }
    return !shared_->abandoned;
}

void OffUiThreadCall::abandon() {
    shared_->abandoned = true;
    shared_->links->abandon();
    if (shared_->loop) {
        shared_->loop->quit();
    }
}

} // namespace ui
