#include <gtest/gtest.h>

#include <QApplication>

#include "support/DisplaySandbox.h"
#include "support/Fakes.h"
#include "support/TrayPanel.h"

// The tray tests run on a private X server with a real X tray on it, started before the
// application connects. No session bus: an icon must not land on the desktop's own panel through
// a StatusNotifierItem watcher.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();  // the build lists the cases: no server for that
    }
    hushwell::testing::DisplaySandbox::instance();
    const hushwell::testing::TempDir noBus;
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QByteArray((noBus.path() / "none").c_str()));
    qputenv("QT_QPA_PLATFORM", "xcb");
    const hushwell::testing::TrayPanel panel;
    if (!panel.ready()) {
        fprintf(stderr, "trayer did not take the tray\n");
        return 1;
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
