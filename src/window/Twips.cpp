#include "Twips.h"

#include <cmath>

namespace window {

int twipsToPixels(int twips, qreal dotsPerInch) {
    return static_cast<int>(std::lround(twips * dotsPerInch / kTwipsPerInch));
}

QRect twipsToPixels(const TwipRect& twips, qreal dotsPerInchX, qreal dotsPerInchY) {
    // Each value is rounded on its own, so a control's size does not depend
    // on where it sits.
    return {twipsToPixels(twips.left, dotsPerInchX), twipsToPixels(twips.top, dotsPerInchY),
            twipsToPixels(twips.width, dotsPerInchX), twipsToPixels(twips.height, dotsPerInchY)};
}

} // namespace window
