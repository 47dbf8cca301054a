// Tests on a real X server with the xcb platform, the program's own application set-up
// (names, Qt's Chinese texts) and a CJK font, as a user's desktop would have them.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>

#include "XvfbServer.h"
#include "ui/window/ApplicationSetup.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (ctest's discovery at build time) needs no display.
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

    r4t8::testing::XvfbServer server;
    if (!server.Running()) {
        std::fprintf(stderr, "Xvfb did not start; ./dev.sh test installs it (package xvfb)\n");
        return 1;
    }
    qputenv("DISPLAY", server.Display().c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("QT_SCALE_FACTOR");
    QApplication app(argc, argv);
    if (!r4t8::SetUpApplication(app))
        std::fprintf(stderr, "Qt's Chinese catalogue is missing (qt6-translations-l10n)\n");
    return RUN_ALL_TESTS();
}
