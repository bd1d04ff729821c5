#include "RecordingUi.h"

#include <gtest/gtest.h>

namespace testing_support {

RecordingUi::RecordingUi() { ui::install(this); }

RecordingUi::~RecordingUi() { ui::install(nullptr); }

RecordingUi& RecordingUi::answer(int value) {
    script_.push_back(value);
    return *this;
}

RecordingUi& RecordingUi::allow(int count) {
    for (int i = 0; i < count; ++i) {
        script_.push_back(ui::answer::Ok);
    }
    return *this;
}

int RecordingUi::showMessage(const QString& text, int style) {
    messages_.push_back({text, style});
    events_.push_back({UiEvent::Kind::Message, text, style});
    if (onMessage) {
        onMessage(messages_.back());
    }
    if (script_.empty()) {
        ADD_FAILURE() << "unexpected message box (style " << style << "): " << text.toStdString();
        // The safe answer: never a Yes that nobody scripted.
        return (style & 0x7) == 4 ? ui::answer::No : ui::answer::Ok;
    }
    const int reply = script_.front();
    script_.pop_front();
    return reply;
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
}

} // namespace testing_support

// Prints QStrings readably in gtest failure output.
QT_BEGIN_NAMESPACE
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE
