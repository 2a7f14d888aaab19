#pragma once

#include <string>
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

}  // namespace hushwell::testing
