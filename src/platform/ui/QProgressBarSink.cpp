#include "QProgressBarSink.h"

#include <QProgressBar>
#include <cmath>

namespace ui {

void QProgressBarSink::setValue(float value) {
    bar_.setValue(static_cast<int>(std::lround(value)));
}

void QProgressBarSink::setMaximum(float maximum) {
    bar_.setMaximum(static_cast<int>(std::lround(maximum)));
}

} // namespace ui
