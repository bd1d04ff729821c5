#include "RecordingUi.h"

#include <gtest/gtest.h>

#include <utility>

namespace testing_support {

RecordingUi::RecordingUi() { ui::install(this); }

RecordingUi::~RecordingUi() { ui::install(nullptr); }

// Records what a progress window shows, and presses its button when told.
class RecordingUi::Progress final : public ui::Progress {
public:
    Progress(RecordingUi& owner, std::function<void()> cancel)
        : owner_(owner), cancel_(std::move(cancel)) {
        ++owner_.progressOpen_;
    }
    ~Progress() override { --owner_.progressOpen_; }

    void setText(const QString& text) override {
        owner_.events_.push_back({UiEvent::Kind::Progress, text, 0});
    }
    void setPercent(std::optional<double> percent) override {
        owner_.percents_.push_back(percent);
        if (cancel_ && cancellable_ && percent && owner_.cancelAtPercent_ &&
            *percent >= *owner_.cancelAtPercent_) {
            std::exchange(cancel_, nullptr)();
        }
    }
    void setDetail(const QString&) override {}
    void setCancellable(bool cancellable) override { cancellable_ = cancellable; }

private:
    RecordingUi& owner_;
    std::function<void()> cancel_;
    bool cancellable_ = true;
};

RecordingUi& RecordingUi::answer(int value) {
    script_.push_back({value, std::nullopt});
    return *this;
}

RecordingUi& RecordingUi::answer(int value, bool option) {
    script_.push_back({value, option});
    return *this;
}

RecordingUi& RecordingUi::allow(int count) {
    for (int i = 0; i < count; ++i) {
        script_.push_back({ui::answer::Ok, std::nullopt});
    }
    return *this;
}

int RecordingUi::showMessage(const QString& text, int style) {
    messages_.push_back({text, style});
    bool unused = false;
    return answerNext(text, style, unused);
}

int RecordingUi::showMessage(const QString& text, int style, const QString& option, bool& checked) {
    messages_.push_back({text, style, option, checked});
    return answerNext(text, style, checked);
}

int RecordingUi::answerNext(const QString& text, int style, bool& checked) {
    events_.push_back({UiEvent::Kind::Message, text, style});
    if (onMessage) {
        onMessage(messages_.back());
    }
    if (script_.empty()) {
        ADD_FAILURE() << "unexpected message box (style " << style << "): " << text.toStdString();
        // The safe answer: never a Yes that nobody scripted.
        return (style & 0x7) == 4 ? ui::answer::No : ui::answer::Ok;
    }
    const Scripted reply = script_.front();
    script_.pop_front();
    if (reply.option) {
        checked = *reply.option;
    }
    return reply.value;
}

std::unique_ptr<ui::Progress> RecordingUi::openProgress(const QString&,
                                                        std::function<void()> cancel) {
    return std::make_unique<Progress>(*this, std::move(cancel));
}

void RecordingUi::setMousePointer(int value) {
    pointer_ = value;
    events_.push_back({UiEvent::Kind::Pointer, {}, value});
}

void RecordingUi::processPendingEvents() { events_.push_back({UiEvent::Kind::Events, {}, 0}); }

QStringList RecordingUi::messageTexts() const {
    QStringList texts;
    for (const Message& m : messages_) {
        texts << m.text;
    }
    return texts;
}

std::vector<int> RecordingUi::pointers() const {
    std::vector<int> values;
    for (const UiEvent& e : events_) {
        if (e.kind == UiEvent::Kind::Pointer) {
            values.push_back(e.value);
        }
    }
    return values;
}

void RecordingUi::clear() {
    script_.clear();
    messages_.clear();
    events_.clear();
    percents_.clear();
}

} // namespace testing_support

// Prints QStrings readably in gtest failure output.
QT_BEGIN_NAMESPACE
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE
