#include "listen/Fingerprinter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <numeric>
#include <utility>

#include "listen/Fft.h"

namespace hushwell {
namespace {

constexpr int kPhases = 32;         // fractional positions of the resampling filter
constexpr double kCutoff = 2750.0;  // Hz: keeps what folds onto the bands out of them
constexpr double kTransition = 1500.0;
constexpr double kLowest = 300.0;  // Hz, the bands' range
constexpr double kHighest = 2000.0;
constexpr int kBands = 33;
constexpr double kGap = 0.1;
// Mean square of a frame's analysed samples below which it is near silence (-50 dBFS): no strong
// bits. Music at its usual level is some 20 dB above it; a codec's noise in a pause far below.
// An output's monitor may carry the audio after the output's volume, though: a station played
// at 30 % comes 31 dB down, a break lowered to 20 % 42 dB. So near silence lies lower in a quiet
// stream: kBelowLoudest under the loudest frame so far (that level falling kRelease a second),
// down to kFloorBelow under kSilence, where music lowered by 60 dB lies.
constexpr float kSilence = 1e-5F;
constexpr float kFloorBelow = 1e-3F;    // -80 dBFS
constexpr float kBelowLoudest = 1e-3F;  // 30 dB
constexpr float kRelease = 0.98936F;    // 10^(-kFrameStep / 10): 1 dB a second
constexpr int kHalfFrame =
    kPrintFrameSize / 2;  // s between blocks that counts as a break in the audio

double sinc(double x) {
    return x == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

int firstFactor(double sampleRate) {
    return std::max(1, static_cast<int>(sampleRate / (2 * kPrintRate)));
}

// Whether a frame at `level` is near silence (`silence` at the usual level), judged against
// `loudest`, the loudest level so far, which it updates.
bool nearSilence(float level, float silence, float& loudest) {
    loudest = std::max(level, loudest * kRelease);
    return level < silence * kFloorBelow || level < std::min(silence, loudest * kBelowLoudest);
}

// The bits of a frame's bands: each the sign of how the difference of a band and the next changed
// since the frame before (`previous`, updated); the changes into `change`.
template <std::size_t Bands>
std::uint32_t changeBits(const std::array<float, Bands>& energy, std::span<float> previous,
                         std::array<float, Bands - 1>& change) {
    std::uint32_t bits = 0;
    for (std::size_t band = 0; band + 1 < Bands; ++band) {
        const float difference = energy[band] - energy[band + 1];
        change[band] = difference - previous[band];
        if (change[band] > 0) {
            bits |= 1U << band;
        }
        previous[band] = difference;
    }
    return bits;
}

// The bits of the `count` largest changes: the strong ones.
std::uint32_t largest(std::span<const float> change, std::size_t count) {
    std::array<std::size_t, 32> order{};
    const auto end = order.begin() + static_cast<std::ptrdiff_t>(change.size());
    std::iota(order.begin(), end, 0);
    std::nth_element(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count), end,
                     [&change](std::size_t a, std::size_t b) {
                         return std::abs(change[a]) > std::abs(change[b]);
                     });
    std::uint32_t strong = 0;
    for (std::size_t i = 0; i < count; ++i) {
        strong |= 1U << order[i];
    }
    return strong;
}

}  // namespace

Fingerprinter::Fingerprinter(double sampleRate)
    : m_inputRate(sampleRate),
      m_first(firstFactor(sampleRate)),
      m_rate(sampleRate / m_first.factor()),
      m_ratio(m_rate / kPrintRate),
      m_taps(2 * static_cast<int>(std::ceil(2.75 * m_rate / kTransition))),
      m_window(kPrintFrameSize),
      m_windowed(kPrintFrameSize),
      m_spectrum(kPrintFrameSize),
      m_power(kPrintFrameSize / 2),
      m_previous(kBands - 1),
      m_high(sampleRate) {
    const double cutoff = kCutoff / m_rate;
    const int half = m_taps / 2;
    m_filter.resize(static_cast<std::size_t>(kPhases) * static_cast<std::size_t>(m_taps));
    for (int phase = 0; phase < kPhases; ++phase) {
        const double fraction = static_cast<double>(phase) / kPhases;
        double sum = 0;
        float* row = &m_filter[static_cast<std::size_t>(phase) * static_cast<std::size_t>(m_taps)];
        for (int i = 0; i < m_taps; ++i) {
            const double x = i - half + 1 - fraction;
            const double w = x / half;  // -1..1 over the taps
            const double blackman = std::abs(w) >= 1
                                        ? 0.0
                                        : 0.42 + 0.5 * std::cos(std::numbers::pi * w) +
                                              0.08 * std::cos(2 * std::numbers::pi * w);
            const double value = 2 * cutoff * sinc(2 * cutoff * x) * blackman;
            row[i] = static_cast<float>(value);
            sum += value;
        }
        for (int i = 0; i < m_taps; ++i) {
            row[i] = static_cast<float>(row[i] / sum);
        }
    }
    for (int i = 0; i < kPrintFrameSize; ++i) {
        m_window[static_cast<std::size_t>(i)] = static_cast<float>(
            0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / (kPrintFrameSize - 1)));
    }
    const double binWidth = kPrintRate / kPrintFrameSize;
    for (int band = 0; band <= kBands; ++band) {
        const double hz =
            kLowest * std::pow(kHighest / kLowest, static_cast<double>(band) / kBands);
        m_bandEdges.push_back(static_cast<int>(std::lround(hz / binWidth)));
    }
}

void Fingerprinter::restart(double time) {
    m_first.restart();
    m_received = 0;
    m_decimated = 0;
    m_blockIndex = 0;
    m_blockTime = time;
    m_input.clear();
    m_inputStart = 0;
    const int half = m_taps / 2;
    m_next = half - 1;
    m_firstAnalysed = m_next;
    m_analysedCount = 0;
    m_frame.clear();
    m_high.restart();
    m_havePrevious = false;
    m_started = true;
}

std::vector<PrintFrame> Fingerprinter::push(std::span<const float> samples, double time) {
    const double expected =
        m_blockTime + static_cast<double>(m_received - m_blockIndex) / m_inputRate;
    if (!m_started || std::abs(time - expected) > kGap) {
        restart(time);
    }
    m_blockIndex = m_received;
    m_blockTime = time;
    const std::int64_t firstNew = m_decimated;
    m_received += static_cast<std::int64_t>(samples.size());
    m_high.push(samples);
    m_first.push(samples, m_input);
    m_decimated = m_inputStart + static_cast<std::int64_t>(m_input.size());
    if (m_decimated == firstNew) {
        return {};
    }
    // The first new first-stage sample lies at the middle of the input it summed.
    m_anchorIndex = firstNew;
    m_anchorTime = time + (m_first.inputPosition(static_cast<double>(firstNew)) -
                           static_cast<double>(m_blockIndex)) /
                              m_inputRate;
    resampleInto(m_frame);

    std::vector<PrintFrame> frames;
    while (m_frame.size() >= static_cast<std::size_t>(kPrintFrameSize)) {
        const std::int64_t start = m_analysedCount - static_cast<std::int64_t>(m_frame.size());
        // The frame's span in input samples.
        const double first = m_firstAnalysed + static_cast<double>(start) * m_ratio;
        const Fingerprint bits = frameBits(
            m_first.inputPosition(first), m_first.inputPosition(first + kPrintFrameSize * m_ratio));
        if (std::exchange(m_havePrevious, true)) {
            const double middle =
                m_firstAnalysed + static_cast<double>(start + kHalfFrame) * m_ratio;
            frames.push_back(
                {m_anchorTime + (middle - static_cast<double>(m_anchorIndex)) / m_rate, bits});
        }
        m_frame.erase(m_frame.begin(), m_frame.begin() + kPrintHop);
    }
    return frames;
}

void Fingerprinter::resampleInto(std::vector<float>& out) {
    const int half = m_taps / 2;
    const auto available = static_cast<double>(m_input.size());
    while (std::floor(m_next) + half + 1 <= available) {
        auto centre = static_cast<std::size_t>(m_next);
        int phase = static_cast<int>(std::lround((m_next - static_cast<double>(centre)) * kPhases));
        if (phase == kPhases) {
            phase = 0;
            ++centre;
            if (static_cast<double>(centre) + half + 1 > available) {
                break;
            }
        }
        const float* row =
            &m_filter[static_cast<std::size_t>(phase) * static_cast<std::size_t>(m_taps)];
        const float* input = &m_input[centre + 1 - static_cast<std::size_t>(half)];
        out.push_back(dot(row, input, static_cast<std::size_t>(m_taps)));
        ++m_analysedCount;
        m_next = m_firstAnalysed - static_cast<double>(m_inputStart) +
                 static_cast<double>(m_analysedCount) * m_ratio;
    }
    const auto consumed = static_cast<std::int64_t>(std::floor(m_next)) - half;
    if (consumed > 0) {
        m_input.erase(m_input.begin(), m_input.begin() + consumed);
        m_inputStart += consumed;
        m_next -= static_cast<double>(consumed);
    }
}

Fingerprint Fingerprinter::frameBits(double from, double to) {
    for (std::size_t i = 0; i < kPrintFrameSize; ++i) {
        m_windowed[i] = m_frame[i] * m_window[i];
    }
    m_spectrum(m_windowed, m_power);
    std::array<float, kBands> energy{};
    for (int band = 0; band < kBands; ++band) {
        float sum = 0;
        for (int k = m_bandEdges[static_cast<std::size_t>(band)];
             k < m_bandEdges[static_cast<std::size_t>(band) + 1]; ++k) {
            sum += m_power[static_cast<std::size_t>(k)];
        }
        energy[static_cast<std::size_t>(band)] = sum;
    }
    Fingerprint print;
    float squares = 0;
    for (std::size_t i = 0; i < kPrintFrameSize; ++i) {
        squares += m_frame[i] * m_frame[i];
    }
    std::array<float, kBands - 1> change{};
    print.bits = changeBits(energy, m_previous, change);
    if (!nearSilence(squares / static_cast<float>(kPrintFrameSize), kSilence, m_loudest)) {
        print.strong = largest(change, change.size() / 2);
    }
    if (m_high.carried()) {
        const HighBands::Powers high = m_high.powers(from, to);
        std::array<float, HighBands::kBands - 1> highChange{};
        print.high = static_cast<std::uint16_t>(changeBits(high, m_previousHigh, highChange));
        if (!nearSilence(std::accumulate(high.begin(), high.end(), 0.0F), kSilence,
                         m_loudestHigh)) {
            print.highStrong =
                static_cast<std::uint16_t>(largest(highChange, highChange.size() / 2));
        }
    }
    return print;
}

}  // namespace hushwell
