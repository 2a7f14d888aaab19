#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace hushwell {

// How long a file step refused for a moment is tried again: an antivirus or indexer that has just
// opened the file (without sharing its deletion) refuses a rename or a deletion on Windows for
// about that long.
struct Patience {
    int tries = 21;
    std::chrono::milliseconds pause{50};
};

// Runs `step` (0: done, else the system's error) until it is done, fails with an error that
// `passes` does not call passing, or has been tried `patience.tries` times, `wait` pausing
// between tries; the last result.
template <typename Error>
Error tryPatiently(
    const std::function<Error()>& step, const std::function<bool(Error)>& passes,
    Patience patience = {},
    const std::function<void(std::chrono::milliseconds)>& wait =
        [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }) {
    Error error = step();
    for (int tried = 1; error != Error{} && passes(error) && tried < patience.tries; ++tried) {
        wait(patience.pause);
        error = step();
    }
    return error;
}

}  // namespace hushwell
