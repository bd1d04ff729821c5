// gtest main for tests that need a Qt application object (widgets, the
// regional settings, events).  Runs on the offscreen platform unless told else.
#include "platform/runtime/RegionalSettings.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    // Spanish regional settings unless a test pins others: no outcome
    // depends on the machine's LANG.
    const auto regional = rt::ScopedRegionalSettings::spanish();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
