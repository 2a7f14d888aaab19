#include "engine/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

// A zone file of one fixed offset from UTC, in the format of the system's zone files (TZif): no
// changes, one kind of local time.
std::string zoneFile(std::int32_t offset, const std::string& name) {
    std::string file = "TZif" + std::string(16, '\0');
    for (const std::int32_t field : {0, 0, 0, 0, 1, static_cast<int>(name.size()) + 1, offset}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            file += static_cast<char>(static_cast<std::uint32_t>(field) >> shift);
        }
    }
    return file + std::string(2, '\0') + name + '\0';
}

// A zone chosen while the program runs counts from the next reading on, half-hour offsets too.
TEST(SystemClock, FollowsAZoneChosenWhileInUse) {
    const char* saved = std::getenv("TZ");
    const std::optional<std::string> before =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    TempDir dir;
    const SystemClock clock;
    for (const auto& [name, offset] : {std::pair{"UTC", 0}, std::pair{"IST", 5 * 3600 + 1800},
                                       std::pair{"NST", -(3 * 3600 + 1800)}}) {
        writeFile(dir.path() / name, zoneFile(offset, name));
        setenv("TZ", (":" + (dir.path() / name).string()).c_str(), 1);
        std::time_t utc = 0;
        TimeOfDay local;
        // A reading within one second of the clock the system clock reads (time() lags it).
        const auto wallSecond = [] {
            return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        };
        for (std::time_t after = -1; utc != after;) {
            utc = wallSecond();
            local = clock.now();
            after = wallSecond();
        }
        EXPECT_EQ(local.hour * 3600L + local.minute * 60L + local.second,
                  ((utc + offset) % 86400 + 86400) % 86400)
            << name;
    }
    before ? setenv("TZ", before->c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace hushwell::testing
