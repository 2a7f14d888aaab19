#include <gtest/gtest.h>

#include <QApplication>
#include <csignal>
#include <cstdio>

#include "support/DisplaySandbox.h"
#include "support/Fakes.h"
#include "support/TrayPanel.h"

namespace hushwell::testing {
TrayPanel* g_panel = nullptr;  // the tray tests' panel, which some of them stop and start
}

// The tray tests run on a private X server with a real X tray on it, and on a private session bus
// of their own: an icon must never land on the desktop's own panel. The bus has no
// StatusNotifierItem watcher until a test starts one.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();  // the build lists the cases: no server for that
    }
    hushwell::testing::DisplaySandbox::instance();
    FILE* daemon = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    char address[512] = {};
    int bus = 0;
    if (daemon == nullptr || fscanf(daemon, "%511s %d", address, &bus) != 2) {
        fprintf(stderr, "no private session bus\n");
        return 1;
    }
    pclose(daemon);
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 1;
    {
        hushwell::testing::TrayPanel panel;
        hushwell::testing::g_panel = &panel;
        if (panel.ready()) {
            QApplication app(argc, argv);
            status = RUN_ALL_TESTS();
        } else {
            fprintf(stderr, "trayer did not take the tray\n");
        }
    }
    kill(bus, SIGTERM);
    return status;
}
