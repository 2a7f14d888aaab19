#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "listen/BoxDecimator.h"
#include "listen/Fft.h"

namespace hushwell {

// The power of the input's bands above those analysed at kPrintRate (2 to 8.5 kHz, where a beep
// or a bright jingle may hold all its sound), taken from the input as it comes, beside the
// decimation to kPrintRate: brought to 22-24 kHz by boxes (BoxDecimator), then cut into blocks of
// about 12 ms, each half over the one before, under a sine window (whose squares over two such
// blocks add up to one, so that every sample weighs the same). A frame's powers are those of its
// blocks under the frame's own window.
//
// A rate that cannot carry the highest band (below about 19 kHz) carries none of them: powers()
// then says nothing, and the frames have no high bits rather than bits of noise.
class HighBands {
public:
    static constexpr int kBands = 17;  // 16 differences of neighbours
    using Powers = std::array<float, kBands>;

    explicit HighBands(double sampleRate);

    [[nodiscard]] bool carried() const { return m_carried; }
    // Adds input samples, in order.
    void push(std::span<const float> samples);
    void restart();
    // The mean square of each band over the input from `from` to `to` (sample positions counted
    // from the last restart), weighted by a Hann window over that span, as the frame's own
    // samples are; blocks before `from` are then dropped, so frames must come in order.
    [[nodiscard]] Powers powers(double from, double to);

private:
    struct Block {
        std::int64_t start = 0;
        Powers powers{};
    };

    bool m_carried;
    BoxDecimator m_decimator;
    std::size_t m_size = 0;  // of a block, a power of two
    std::vector<float> m_window;
    std::vector<int> m_edges;  // FFT bins
    PowerSpectrum m_spectrum;
    std::vector<float> m_power;
    std::vector<float> m_pending;     // decimated input not yet in a block
    std::int64_t m_pendingStart = 0;  // its first sample's index since the restart
    std::vector<float> m_windowed;
    std::deque<Block> m_blocks;
};

}  // namespace hushwell
