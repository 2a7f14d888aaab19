#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

// What the end-to-end tests give the program to read, and the volumes they expect on the sink.
namespace hushwell::testing {

using Volumes = std::vector<long>;

// Levels 20 and 100 on PulseAudio's scale (655 units a percent).
constexpr long kDown = 20 * 655;
constexpr long kUp = 100 * 655;

// Levels 20 and 100; pair 1 holds the volume down at every time of the hour ("" < t < "60:00").
inline const std::string kAlwaysDown =
    "20,100\r\n,00:00,00:00,00:00,00:00,00:00,00:00,00:00\r\n"
    "60:00,00:00,00:00,00:00,00:00,00:00,00:00,00:00\r\n"
    " 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n";

// Levels 20 and 100, all pairs off.
inline const std::string kQuiet =
    "20,100\r\n,,,,,,,\r\n,,,,,,,\r\n 0 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n";

// Waits out the hour's end when a mark `ahead` from now would fall past it (or within 10 s of it).
inline void waitOutTheHourEnd(std::chrono::seconds ahead) {
    std::tm local{};
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &local);
    if (local.tm_min == 59 && local.tm_sec + ahead.count() > 50) {
        std::this_thread::sleep_for(std::chrono::seconds(61 - local.tm_sec));
    }
}

// A wall-clock second as a mark "mm:ss".
inline std::string markText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", local.tm_min, local.tm_sec);
    return text;
}

// Whole seconds from now on the wall clock, as a mark "mm:ss"; waits out an hour's end first
// when the mark would fall past it.
inline std::string markIn(std::chrono::seconds ahead) {
    waitOutTheHourEnd(ahead);
    return markText(std::time(nullptr) + ahead.count());
}

// The wall-clock second at which the mark "MM:SS" next comes, within the hour from now.
inline std::time_t nextTimeOf(const std::string& mark) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const long until = ((std::stoi(mark) * 60 + std::stoi(mark.substr(3))) -
                        (local.tm_min * 60 + local.tm_sec) + 3600) %
                       3600;
    return now + until;
}

}  // namespace hushwell::testing
