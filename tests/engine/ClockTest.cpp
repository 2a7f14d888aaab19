#include "engine/Clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

// A zone file of one fixed offset from UTC, in the format of the system's zone files (TZif).
std::string zoneFile(std::int32_t offsetSeconds, const std::string& name) {
    const auto bigEndian = [](std::int32_t value) {
        const auto bits = static_cast<std::uint32_t>(value);
        return std::string{char(bits >> 24), char(bits >> 16), char(bits >> 8), char(bits)};
    };
    std::string file = "TZif" + std::string(16, '\0');
    for (const std::int32_t count : {0, 0, 0, 0, 1, static_cast<std::int32_t>(name.size() + 1)}) {
        file += bigEndian(count);  // UT/local and standard/wall flags, leap seconds, changes, ...
    }
    return file + bigEndian(offsetSeconds) + std::string(2, '\0') + name + '\0';
}

class SystemClockZone : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ")) {
            m_saved = zone;
        }
    }
    void TearDown() override {
        if (m_saved) {
            setenv("TZ", m_saved->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> m_saved;
};

// A zone chosen while the program runs counts from the next reading on, half-hour offsets too.
TEST_F(SystemClockZone, FollowsAZoneChosenWhileInUse) {
    TempDir dir;
    const SystemClock clock;
    for (const auto& [name, offset] : {std::pair{"UTC", 0}, std::pair{"IST", 5 * 3600 + 1800},
                                       std::pair{"NST", -(3 * 3600 + 1800)}}) {
        writeFile(dir.path() / name, zoneFile(offset, name));
        setenv("TZ", (":" + (dir.path() / name).string()).c_str(), 1);
        std::time_t before = 0;
        TimeOfDay local;
        for (std::time_t after = -1; before != after;) {  // the reading within one second
            before = std::time(nullptr);
            local = clock.now();
            after = std::time(nullptr);
        }
        const long expected = ((before + offset) % 86400 + 86400) % 86400;
        EXPECT_EQ(local.hour * 3600L + local.minute * 60L + local.second, expected) << name;
    }
}

}  // namespace
}  // namespace hushwell::testing
