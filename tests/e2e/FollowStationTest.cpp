// Following the station end to end: Set pressed on a jingle keeps its fingerprints, and the same
// jingle played a few seconds before the mark's time later lowers the volume then, not at the
// clock.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <thread>

#include "e2e/ProgramFixture.h"
#include "listen/PrintFile.h"
#include "listen/SyntheticStation.h"
#include "support/ExecutableCopy.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;
using Wall = std::chrono::system_clock;
using Steady = std::chrono::steady_clock;

const std::string kFollowing = "[Listen]\nFollowStation=true\n";
constexpr double kJingle = 8.6;  // where Set is pressed in the piece: inside its jingle

// A song, the jingle, talk; `to` seconds of it.
std::vector<float> piece(double to) {
    return render({{Sound::Song, 11, 0, 8}, {Sound::Song, 7, 8, 3}, {Sound::Talk, 12, 11, 8}}, 0,
                  to);
}

// `samples` ready to play to "speakers" as the program "radio": written out and the player copied
// before any moment is timed, so that starting it costs only the start.
class Radio {
public:
    Radio(const std::filesystem::path& folder, const std::string& name,
          const std::vector<float>& samples) {
        const auto file = folder / name;
        writeFile(file, std::string(reinterpret_cast<const char*>(samples.data()),
                                    samples.size() * sizeof(float)));
        const auto copy = folder / "radio";
        copyExecutable("/usr/bin/pacat", copy);
        m_command = copy.string() +
                    " --device=speakers --rate=11025 --channels=1 --format=float32le " +
                    file.string();
    }
    // Plays on a thread of its own, which ends with the samples.
    [[nodiscard]] std::jthread play() const {
        return std::jthread([command = m_command] { run(command); });
    }

private:
    std::string m_command;
};

class FollowStationTest : public ProgramFixture {
protected:
    void SetUp() override {
        ProgramFixture::SetUp();
        writeFile(dir.path() / "Hushwell_options.ini", kFollowing);
    }
};

TEST_F(FollowStationTest, TheVolumeGoesDownAtTheHeardJingleNotAtTheClock) {
    // An hour before: Set pressed on the jingle (the Down mark of pair 1, reached from the Down
    // slider by six Shift+Tabs) keeps what played around it.
    writeSettings(kQuiet);
    double pressedAt = 0;  // seconds into the piece
    {
        Program program(dir.path(), {kMixerLog});
        const unsigned long window = program.waitForWindow();
        ASSERT_NE(window, 0u) << program.log();
        const std::string focus = "xdotool windowfocus --sync " + std::to_string(window);
        run(focus + " key --delay 40 shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab");
        const Radio radio(dir.path(), "hour1.raw", piece(19));
        const auto start = Steady::now();
        std::jthread playing = radio.play();
        std::this_thread::sleep_until(start + std::chrono::duration<double>(kJingle));
        run(focus + " key space");
        pressedAt = std::chrono::duration<double>(Steady::now() - start).count();
        playing.join();
        // The print is kept, but filed only with the mark: at the save on closing.
        std::this_thread::sleep_for(1s);
        EXPECT_FALSE(std::filesystem::exists(dir.path() / kPrintFileName));
        program.close();
        const unsigned long question = program.waitForMessageBox();
        ASSERT_NE(question, 0u) << program.log();
        run("xdotool windowfocus --sync " + std::to_string(question) + " key y");
        program.wait();
        ASSERT_TRUE(waitForFileHolding(dir.path() / kPrintFileName, "mark 0 Down"))
            << program.log();
    }

    // Later: the mark is 22 s ahead, and the jingle comes 8 s before it, so that the clock could
    // not have lowered the volume when it goes down.
    const Radio radio(dir.path(), "hour2.raw", piece(12));
    const std::string mark = markIn(22s);
    const auto markTime = Wall::from_time_t(nextTimeOf(mark));
    LoadedPrints kept = loadPrintFile(dir.path() / kPrintFileName);
    ASSERT_EQ(kept.prints.size(), 1u) << kept.problem;
    kept.prints.begin()->second.markText = mark;
    savePrintFile(dir.path() / kPrintFileName, kept.prints);
    writeSettings("20,100\r\n" + mark +
                  ",,,,,,,\r\n59:59,,,,,,,\r\n 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n");
    run("pactl set-sink-volume speakers " + std::to_string(kUp));  // the start sets nothing
    // The first run's guard may still be ending, executing the copy beside the settings: that copy
    // is unlinked, as overwriting it would fail with "text file busy".
    std::filesystem::remove(dir.path() / "hushwell");
    Program program(dir.path(), {kMixerLog});
    ASSERT_NE(program.waitForWindow(), 0u) << program.log();
    std::this_thread::sleep_until(
        markTime - 8s -
        std::chrono::duration_cast<Wall::duration>(std::chrono::duration<double>(pressedAt)));
    std::jthread playing = radio.play();
    ASSERT_TRUE(timeUntil("speakers", kDown, 14000ms)) << program.log();
    const double early = std::chrono::duration<double>(markTime - Wall::now()).count();
    std::printf("   the volume went down %.2f s before the mark (the jingle: 8 s before)\n", early);
    EXPECT_GT(early, 2.0) << "the clock, not the jingle, lowered the volume" << program.log();
    EXPECT_LT(early, 8.5) << "down before the jingle played" << program.log();
    // The moment heard, as the log tells it in whole seconds: the jingle's, whenever it was told.
    std::smatch heard;
    const std::string log = program.log();
    ASSERT_TRUE(std::regex_search(log, heard, std::regex("heard (\\d+) s early"))) << log;
    EXPECT_GE(std::stoi(heard[1]), 7) << log;
    EXPECT_LE(std::stoi(heard[1]), 8) << log;
    EXPECT_FALSE(timeUntil("speakers", kUp, 3000ms)) << "the volume came back up" << program.log();
    playing.join();
}

}  // namespace
}  // namespace hushwell::testing
