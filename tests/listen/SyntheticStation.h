#pragma once

#include <vector>

namespace hushwell::testing {

// A radio station made of synthetic sounds, played at kStationRate: the same seed is the same
// sound wherever it plays.
constexpr double kStationRate = 11025;

enum class Sound { Song, Talk };  // harmonic notes; voiced syllables with breath noise
struct Segment {
    Sound sound;
    unsigned seed;
    double start;  // station seconds
    double length;

    double gain = 1;  // of this segment against the others
};

// What a listener hears from `from` to `to` (their seconds) at `rate` samples a second: the
// station's clock runs `speed` times theirs from `from` on, `noise` is the amplitude of white
// noise added, `gain` the level.
std::vector<float> render(const std::vector<Segment>& programme, double from, double to,
                          double speed = 1, double noise = 0, double gain = 1,
                          double rate = kStationRate);

// Adds a beep, a pure tone at `hz` (one above the bands of speech, say), to `samples`, heard from
// `from` at `rate`: from `start` for `length` (their seconds), faded in and out over 5 ms.
void addTone(std::vector<float>& samples, double from, double rate, double start, double length,
             double hz, double amplitude);

}  // namespace hushwell::testing
