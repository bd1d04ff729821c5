#pragma once
// A recording double of the user-interface services.  It keeps, in order,
// every message shown, every mouse-pointer value set and every processing of
// pending events, and answers message boxes from a script.  A message shown
// with no scripted answer left fails the running test with its text.
//
// Installed for its lifetime; the Qt services come back when it goes.

#include "QStringPrinter.h"
#include "platform/ui/Services.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace testing_support {

struct Message {
    QString text;
    int style = 0;
    friend bool operator==(const Message&, const Message&) = default;
};

// One thing that happened, for tests of the order of steps.
struct UiEvent {
    enum class Kind { Message, Pointer, Events };
    Kind kind;
    QString text;  // the message text
    int value = 0; // the message style or the pointer value
    friend bool operator==(const UiEvent&, const UiEvent&) = default;
};

class RecordingUi final : public ui::Services {
public:
    RecordingUi();
    ~RecordingUi() override;
    RecordingUi(const RecordingUi&) = delete;
    RecordingUi& operator=(const RecordingUi&) = delete;

    // Scripts the answer to the next message box not yet answered.
    RecordingUi& answer(int value);
    // Scripts `count` OK answers.
    RecordingUi& allow(int count = 1);

    int showMessage(const QString& text, int style) override;
    void setMousePointer(int value) override;
    int mousePointer() const override { return pointer_; }
    void processPendingEvents() override;
    // Whether a command's work is running off the UI thread (the busy
    // pointer); not one of the recorded events.
    void setWorking(bool working) override { working_ = working; }
    bool working() const { return working_; }

    const std::vector<Message>& messages() const { return messages_; }
    QStringList messageTexts() const;
    std::vector<int> pointers() const;
    const std::vector<UiEvent>& events() const { return events_; }
    int unansweredScript() const { return static_cast<int>(script_.size()); }
    void clear();

    // Lets a test watch the UI at the moment a message is shown.
    std::function<void(const Message&)> onMessage;

private:
    std::deque<int> script_;
    std::vector<Message> messages_;
    std::vector<UiEvent> events_;
    int pointer_ = ui::pointer::Default;
    bool working_ = false;
};

} // namespace testing_support
