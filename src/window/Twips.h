#pragma once
// Positions and sizes given in twips (1/1440 inch) turned into pixels.  At
// 96 dots per inch a pixel is 15 twips; on a screen with a higher logical DPI
// the window grows with it so that it stays readable.

#include <QRect>

namespace window {

// A rectangle in twips: left, top, width, height, relative to its container.
struct TwipRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

inline constexpr int kTwipsPerInch = 1440;

int twipsToPixels(int twips, qreal dotsPerInch);
QRect twipsToPixels(const TwipRect& twips, qreal dotsPerInchX, qreal dotsPerInchY);

} // namespace window
