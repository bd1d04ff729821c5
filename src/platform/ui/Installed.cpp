// The installed services.  Nothing is installed by default: the program
// installs the Qt implementations, tests their doubles, and a call with
// nothing installed is a fault of the program that stops it at once.
#include "Dialogs.h"
#include "Services.h"

#include <QtGlobal>

namespace ui {

namespace {
Services* gServices = nullptr;
Dialogs* gDialogs = nullptr;
} // namespace

Services& services() {
    if (gServices == nullptr) {
        qFatal("ui::services(): no user-interface services are installed");
    }
    return *gServices;
}

void install(Services* replacement) { gServices = replacement; }

Dialogs& dialogs() {
    if (gDialogs == nullptr) {
        qFatal("ui::dialogs(): no choosers are installed");
    }
    return *gDialogs;
}

void installDialogs(Dialogs* replacement) { gDialogs = replacement; }

} // namespace ui
