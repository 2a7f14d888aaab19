#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <span>
#include <vector>

namespace hushwell {

// The last few seconds of raw mono samples, at their own rate, kept so that they can be
// fingerprinted later (a Set press wants the audio before it). Stored as 16 bits, half the memory
// of the floats, far below the quietest sound a print tells from silence. Each block keeps its
// time, so a gap stays a gap.
class SampleRing {
public:
    explicit SampleRing(double seconds) : m_seconds(seconds) {}

    // A block at `rate` per second whose first sample is at `time`; one at another rate than the
    // one before forgets what was kept. The oldest samples make room.
    void push(std::span<const float> samples, double rate, double time);
    void clear();
    [[nodiscard]] double rate() const { return m_rate; }
    // Hands what is kept to `take`, block by block in order, with each block's time; only the
    // last `seconds` of it, when that is less.
    void replay(const std::function<void(std::span<const float>, double)>& take,
                double seconds = std::numeric_limits<double>::infinity());

private:
    struct Block {
        double time;
        std::size_t count;
    };
    double m_seconds;
    double m_rate = 0;
    std::vector<std::int16_t> m_samples;  // circular
    std::size_t m_oldest = 0;             // index of the oldest sample kept
    std::size_t m_size = 0;
    std::deque<Block> m_blocks;
    std::vector<float> m_out;  // a block replayed
};

}  // namespace hushwell
