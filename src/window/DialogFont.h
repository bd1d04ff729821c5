#pragma once
// The classic dialog font, "MS Sans Serif", that the window's captions were
// measured for.  Where the system lacks it, faces of the same metrics stand
// in before the system's sans-serif face, so that every caption fits its
// control.

#include <QFont>

namespace window {

// "MS Sans Serif" at the given size, regular weight.
QFont msSansSerif(qreal points);

// Makes "MS Sans Serif" 8.25 pt the application's default font, with its
// stand-ins registered.  The program calls it once before the window opens.
void installDialogFont();

} // namespace window
