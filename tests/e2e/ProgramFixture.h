#pragma once

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <string>

#include "e2e/Schedules.h"
#include "e2e/Watch.h"
#include "support/AudioSandbox.h"
#include "support/DisplaySandbox.h"
#include "support/Fakes.h"

// What every end-to-end test starts from.
namespace hushwell::testing {

// Switches on the log of the mixer calls, on standard error.
inline const std::string kMixerLog = "QT_LOGGING_RULES=hushwell.mixer.info=true";

// The output's own volume when a test begins: none of the program's levels.
constexpr long kOutput = 30000;

// The private server's speakers, the default output at kOutput, and a folder of the test's own
// where the program's copy and its files live.
class ProgramFixture : public ::testing::Test {
protected:
    void SetUp() override {
        AudioSandbox::instance();
        run("pactl set-default-sink speakers");
        ASSERT_EQ(waitForDefaultSink("speakers"), "speakers");
        run("pactl set-sink-volume speakers " + std::to_string(kOutput));
    }
    // The settings file the program reads at its next start.
    void writeSettings(const std::string& text) const {
        writeFile(dir.path() / "Hushwell_setup.txt", text);
    }
    [[nodiscard]] std::string readSettings() const {
        return readFile(dir.path() / "Hushwell_setup.txt");
    }
    TempDir dir;
};

// The same for a program whose guard the test watches: the test adopts the guard (it must be the
// children's subreaper before the program starts), and a guard still at work is not left to the
// next test.
class GuardedProgramFixture : public ProgramFixture {
protected:
    void SetUp() override {
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        ProgramFixture::SetUp();
    }
    void TearDown() override { killAdoptedGuards(); }
};

}  // namespace hushwell::testing
