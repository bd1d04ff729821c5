#include "BackupProgress.h"

#include "BackupTexts.h"
#include "ServerConnection.h"
#include "platform/connection/Link.h"
#include "platform/dmo/Backup.h"
#include "platform/dmo/SQLServer.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/ui/Services.h"

namespace {
constexpr std::chrono::seconds kEvery{1};
} // namespace

BackupProgress::BackupProgress(Source source) : source_(std::move(source)) {
    ui::onUiThread([this] {
        window_ = ui::services().openProgress(backup_texts::windowTitle(), [this] { cancel(); });
    });
    thread_ = std::thread([this] { run(); });
}

BackupProgress::~BackupProgress() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    ui::onUiThread([this] { window_.reset(); });
}

void BackupProgress::begin(dmo::AbortableOperation& operation, const QString& text,
                           const QString& finishing) {
    Step step{&operation, text, finishing, std::chrono::steady_clock::now()};
    {
        const std::lock_guard lock(mutex_);
        step_ = step;
    }
    if (cancelled_) {
        operation.Abort();
    }
    show(step, std::nullopt);
    wake_.notify_all();
}

void BackupProgress::end() {
    const std::lock_guard lock(mutex_);
    step_.operation = nullptr;
}

void BackupProgress::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, kEvery);
        if (stopping_ || step_.operation == nullptr) {
            continue;
        }
        const Step step = step_;
        // Under the lock, which end() waits for: the operation is there.
        if (cancelled_) {
            step.operation->Abort();
        }
        lock.unlock();
        const std::optional<double> percent = readPercent();
        show(step, percent);
        lock.lock();
    }
}

// From the watching thread, or from the work's at a step's beginning.
void BackupProgress::show(const Step& step, std::optional<double> percent) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - step.started);
    const QString text = cancelled_                   ? backup_texts::cancelling()
                         : percent && *percent >= 100 ? step.finishing
                                                      : step.text;
    const QString detail = backup_texts::detail(elapsed, percent, source_.lastDuration);
    ui::onUiThread([&] {
        if (!window_) {
            return;
        }
        if (text != shown_) {
            shown_ = text;
            window_->setText(text);
        }
        window_->setPercent(percent);
        window_->setDetail(detail);
    });
}

// The percent of the session's request now; none when it cannot be read,
// and then never again.
std::optional<double> BackupProgress::readPercent() {
    if (!source_.readPercent) {
        return std::nullopt;
    }
    try {
        if (!reader_) {
            // A connection of its own, never the command's session, which
            // the statement being watched holds.
            const connection::SessionShare::Use own(nullptr);
            auto reader = std::make_unique<dmo::SQLServer>();
            connectPassingLogin(*reader, source_.server.server, source_.server.login,
                                source_.server.password);
            reader_ = std::move(reader);
        }
        const dmo::QueryResults r = reader_->ExecuteWithResults(
            QStringLiteral("SELECT percent_complete FROM sys.dm_exec_requests WHERE session_id "
                           "= %1")
                .arg(source_.server.processId));
        if (r.rows.isEmpty()) {
            return std::nullopt; // not begun, or just ended
        }
        return r.rows.first().value(0).value_or(QString()).toDouble();
    } catch (const rt::RuntimeError&) {
        source_.readPercent = false;
        reader_.reset();
        return std::nullopt;
    }
}

// On the UI thread, from the window's button.
void BackupProgress::cancel() {
    cancelled_ = true;
    {
        const std::lock_guard lock(mutex_);
        if (step_.operation != nullptr) {
            step_.operation->Abort();
        }
    }
    if (window_) {
        shown_ = backup_texts::cancelling();
        window_->setText(shown_);
    }
}
