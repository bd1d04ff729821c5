#pragma once
// The progress window of a final backup and of its verification, brought
// up to date about once a second by a thread of its own.  The percent is
// read on a connection of its own from sys.dm_exec_requests for the
// session that runs the statement (the driver hands the server's progress
// messages over only when the statement ends); a login that may not see
// other sessions' requests gets a bar without a percent, the time spent
// and the last full backup's duration.  "Cancelar" aborts the operation
// that runs, and the abort is repeated each second until it has ended.

#include "LostAnswer.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace dmo {
class AbortableOperation;
class SQLServer;
} // namespace dmo
namespace ui {
class Progress;
}

class BackupProgress {
public:
    struct Source {
        LostAnswer server; // whom to read the percent as, and of which session
        bool readPercent = false;
        std::optional<std::chrono::seconds> lastDuration; // of the last full backup
    };

    explicit BackupProgress(Source source);
    // Closes the window.
    ~BackupProgress();
    BackupProgress(const BackupProgress&) = delete;
    BackupProgress& operator=(const BackupProgress&) = delete;

    // A step begins: its text, the text once the server says 100 %, and the
    // operation that "Cancelar" aborts.
    void begin(dmo::AbortableOperation& operation, const QString& text, const QString& finishing);
    // The step's operation has returned.
    void end();
    // Whether the user asked to stop.
    bool cancelled() const { return cancelled_; }

private:
    struct Step {
        dmo::AbortableOperation* operation = nullptr;
        QString text;
        QString finishing;
        std::chrono::steady_clock::time_point started;
    };

    void run();
    void show(const Step& step, std::optional<double> percent);
    std::optional<double> readPercent();
    void cancel();

    Source source_;
    std::unique_ptr<ui::Progress> window_; // on the UI thread only
    std::unique_ptr<dmo::SQLServer> reader_;
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    Step step_;
    bool stopping_ = false;
    QString shown_; // the window's text now
    std::thread thread_;
};
