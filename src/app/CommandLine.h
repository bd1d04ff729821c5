#pragma once
// The two requests the program answers without a window: --help and
// --version print and end the program before any display is opened.  Every
// other argument is left to the window toolkit.

#include <optional>

// The exit status when the arguments were answered here; none when the
// window is to open.
std::optional<int> answerCommandLine(int argc, char** argv);
