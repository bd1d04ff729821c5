#pragma once
// The user-interface services the procedures call in place of the desktop
// runtime: modal message boxes, the screen's mouse pointer and processing
// pending window events once.  This library needs only Qt Core; the program
// installs the Qt Widgets implementation (QtServices.h), tests a recording
// double.  The shorthands may be called from work running off the UI thread
// (OffUiThread.h): the services themselves always run on the UI thread.

#include "OffUiThread.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace ui {

// Message-box styles (buttons plus icon plus default button).
namespace style {
constexpr int Ok = 0;
constexpr int Critical = 16;
constexpr int Warning = 48;
constexpr int Information = 64;
constexpr int YesNoWarningDefaultNo = 308;
} // namespace style

// Message-box answers.
namespace answer {
constexpr int Ok = 1;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace answer

// Values of the screen's mouse pointer.
namespace pointer {
constexpr int Default = 0;
constexpr int Arrow = 1;
constexpr int Hourglass = 11;
} // namespace pointer

// Every message box bears this title.
inline constexpr const char* kApplicationTitle = "Tarvelo";

// A window that shows a long step while the work runs: what runs, how far
// it is (or a bar that moves without a percent when that is unknown), a
// line of detail (the time spent, an estimate), and a button that asks the
// work to stop.  A screen reader hears each change.  Made, changed and
// closed (destroyed) on the UI thread.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void setText(const QString& text) = 0;
    virtual void setPercent(std::optional<double> percent) = 0;
    virtual void setDetail(const QString& text) = 0;
    // Whether the button can still stop the work.
    virtual void setCancellable(bool cancellable) = 0;
};

class Services {
public:
    virtual ~Services() = default;
    // Shows a modal box and returns the answer (answer::Ok, Yes or No).
    virtual int showMessage(const QString& text, int style) = 0;
    // The same with a check box below the text, labelled `option`: it shows
    // `checked` as it comes in, which then holds what the user left.
    virtual int showMessage(const QString& text, int style, const QString& option,
                            bool& checked) = 0;
    // Opens a progress window over the active one; `cancel` runs on the UI
    // thread when the user asks to stop, once.
    virtual std::unique_ptr<Progress> openProgress(const QString& title,
                                                   std::function<void()> cancel) = 0;
    virtual void setMousePointer(int value) = 0;
    virtual int mousePointer() const = 0;
    virtual void processPendingEvents() = 0;
    // While a command's work runs off the UI thread the screen shows the busy
    // pointer, whatever value the work sets; the value set stays the one read.
    virtual void setWorking(bool working) { (void)working; }
};

// The services in force.  install(nullptr) leaves none installed, and a
// call of services() then stops the program; the caller keeps ownership of
// what it installs.
Services& services();
void install(Services* replacement);

// Shorthands for the calls the procedures make.  From abandoned work they do
// nothing: a message box answers No to a question and OK otherwise.
inline int MsgBox(const QString& text, int messageStyle = style::Ok) {
    int reply = (messageStyle & 0x7) == 4 ? answer::No : answer::Ok;
    onUiThread([&] { reply = services().showMessage(text, messageStyle); });
    return reply;
}
inline int MsgBox(const QString& text, int messageStyle, const QString& option, bool& checked) {
    int reply = (messageStyle & 0x7) == 4 ? answer::No : answer::Ok;
    onUiThread([&] { reply = services().showMessage(text, messageStyle, option, checked); });
    return reply;
}
inline void setMousePointer(int value) {
    onUiThread([&] { services().setMousePointer(value); });
}
inline int mousePointer() {
    int value = pointer::Default;
    onUiThread([&] { value = services().mousePointer(); });
    return value;
}
inline void doEvents() {
    onUiThread([] { services().processPendingEvents(); });
}

} // namespace ui
