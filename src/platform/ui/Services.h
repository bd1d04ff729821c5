#pragma once
// The user-interface services the procedures call in place of the desktop
// runtime: modal message boxes, the screen's mouse pointer and processing
// pending window events once.  This library needs only Qt Core; the program
// installs the Qt Widgets implementation (QtServices.h), tests a recording
// double.

#include <QString>

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

class Services {
public:
    virtual ~Services() = default;
    // Shows a modal box and returns the answer (answer::Ok, Yes or No).
    virtual int showMessage(const QString& text, int style) = 0;
    virtual void setMousePointer(int value) = 0;
    virtual int mousePointer() const = 0;
    virtual void processPendingEvents() = 0;
};

// The services in force.  install(nullptr) leaves none installed, and a
// call of services() then stops the program; the caller keeps ownership of
// what it installs.
Services& services();
void install(Services* replacement);

// Shorthands for the calls the procedures make.
inline int MsgBox(const QString& text, int messageStyle = style::Ok) {
    return services().showMessage(text, messageStyle);
}
inline void setMousePointer(int value) { services().setMousePointer(value); }
inline int mousePointer() { return services().mousePointer(); }
inline void doEvents() { services().processPendingEvents(); }

} // namespace ui
