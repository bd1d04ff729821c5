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
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace testing_support {

struct Message {
    Message(QString text_, int style_, QString option_ = {}, bool optionChecked_ = false)
        : text(std::move(text_)), style(style_), option(std::move(option_)),
          optionChecked(optionChecked_) {}
    QString text;
    int style = 0;
    // A box with a check box: its label, and whether it was shown checked.
    QString option;
    bool optionChecked = false;
    friend bool operator==(const Message&, const Message&) = default;
};

// One thing that happened, for tests of the order of steps.
struct UiEvent {
    enum class Kind { Message, Pointer, Events, Progress };
    Kind kind;
    QString text;  // the message text, or a progress window's step
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
    // Scripts the answer to the next box with a check box, and the state
    // the user leaves the check box in.
    RecordingUi& answer(int value, bool option);
    // Scripts `count` OK answers.
    RecordingUi& allow(int count = 1);
    // The progress windows' "Cancelar" is pressed once a percent at least
    // this high is shown.
    void cancelAtPercent(double percent) { cancelAtPercent_ = percent; }

    int showMessage(const QString& text, int style) override;
    int showMessage(const QString& text, int style, const QString& option, bool& checked) override;
    std::unique_ptr<ui::Progress> openProgress(const QString& title,
                                               std::function<void()> cancel) override;
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
    // Every percent the progress windows showed (none: a bar without one).
    const std::vector<std::optional<double>>& progressPercents() const { return percents_; }
    // Whether a progress window is open now.
    bool progressOpen() const { return progressOpen_ > 0; }
    void clear();

    // Lets a test watch the UI at the moment a message is shown.
    std::function<void(const Message&)> onMessage;

private:
    class Progress;
    struct Scripted {
        int value;
        std::optional<bool> option;
    };
    int answerNext(const QString& text, int style, bool& checked);

    std::deque<Scripted> script_;
    std::vector<std::optional<double>> percents_;
    std::optional<double> cancelAtPercent_;
    int progressOpen_ = 0;
    std::vector<Message> messages_;
    std::vector<UiEvent> events_;
    int pointer_ = ui::pointer::Default;
    bool working_ = false;
};

} // namespace testing_support
