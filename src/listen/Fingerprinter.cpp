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
// down to kSilenceFloor, where music lowered by 60 dB lies.
constexpr float kSilence = 1e-5F;
constexpr float kSilenceFloor = 1e-8F;                                          // -80 dBFS
constexpr float kBelowLoudest = 1e-3F;                                          // 30 dB
const float kRelease = std::pow(10.0F, static_cast<float>(-0.1 * kFrameStep));  // 1 dB a second
constexpr int kHalfFrame =
    kPrintFrameSize / 2;  // s between blocks that counts as a break in the audio

double sinc(double x) {
    return x == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

int firstFactor(double sampleRate) {
    return std::max(1, static_cast<int>(sampleRate / (2 * kPrintRate)));
}

std::vector<float> boxes(int factor) {
    std::vector<double> kernel{1.0};
    for (int box = 0; box < 3; ++box) {
        std::vector<double> wider(kernel.size() + static_cast<std::size_t>(factor) - 1);
        for (std::size_t i = 0; i < kernel.size(); ++i) {
            for (std::size_t j = 0; j < static_cast<std::size_t>(factor); ++j) {
                wider[i + j] += kernel[i];
            }
        }
        kernel = std::move(wider);
    }
    const double sum = std::accumulate(kernel.begin(), kernel.end(), 0.0);
    std::vector<float> result;
    result.reserve(kernel.size());
    for (const double value : kernel) {
        result.push_back(static_cast<float>(value / sum));
    }
    return result;
}

}  // namespace

Fingerprinter::Fingerprinter(double sampleRate)
    : m_inputRate(sampleRate),
      m_factor(firstFactor(sampleRate)),
      m_boxes(boxes(m_factor)),
      m_rate(sampleRate / m_factor),
      m_ratio(m_rate / kPrintRate),
      m_taps(2 * static_cast<int>(std::ceil(2.75 * m_rate / kTransition))),
      m_window(kPrintFrameSize),
      m_spectrum(kPrintFrameSize / 2),
      m_previous(kBands - 1) {
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
    for (std::size_t k = 0; k < m_spectrum.size(); ++k) {
        const double angle =
            -std::numbers::pi * static_cast<double>(k) / static_cast<double>(m_spectrum.size());
        m_twiddles.emplace_back(static_cast<float>(std::cos(angle)),
                                static_cast<float>(std::sin(angle)));
    }
    const double binWidth = kPrintRate / kPrintFrameSize;
    for (int band = 0; band <= kBands; ++band) {
        const double hz =
            kLowest * std::pow(kHighest / kLowest, static_cast<double>(band) / kBands);
        m_bandEdges.push_back(static_cast<int>(std::lround(hz / binWidth)));
    }
}

void Fingerprinter::restart(double time) {
    m_undecimated.clear();
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
    m_havePrevious = false;
    m_started = true;
}

void Fingerprinter::decimate(std::span<const float> samples) {
    m_undecimated.insert(m_undecimated.end(), samples.begin(), samples.end());
    m_received += static_cast<std::int64_t>(samples.size());
    const std::size_t taps = m_boxes.size();
    std::size_t at = 0;  // in m_undecimated, of the next output's first sample
    while (at + taps <= m_undecimated.size()) {
        float sum = 0;
        for (std::size_t i = 0; i < taps; ++i) {
            sum += m_boxes[i] * m_undecimated[at + i];
        }
        m_input.push_back(sum);
        ++m_decimated;
        at += static_cast<std::size_t>(m_factor);
    }
    m_undecimated.erase(m_undecimated.begin(),
                        m_undecimated.begin() + static_cast<std::ptrdiff_t>(at));
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
    decimate(samples);
    if (m_decimated == firstNew) {
        return {};
    }
    // The first new first-stage sample lies at the middle of the input it summed.
    m_anchorIndex = firstNew;
    m_anchorTime = time + (static_cast<double>(firstNew * m_factor - m_blockIndex) +
                           static_cast<double>(m_boxes.size() - 1) / 2.0) /
                              m_inputRate;
    resampleInto(m_frame);

    std::vector<PrintFrame> frames;
    while (m_frame.size() >= static_cast<std::size_t>(kPrintFrameSize)) {
        const std::int64_t start = m_analysedCount - static_cast<std::int64_t>(m_frame.size());
        const Fingerprint bits = frameBits();
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
        float sum = 0;
        for (int i = 0; i < m_taps; ++i) {
            sum += row[i] * input[i];
        }
        out.push_back(sum);
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

// The frame's bits: the real frame is packed into a complex transform of half its size.
Fingerprint Fingerprinter::frameBits() {
    const std::size_t half = kPrintFrameSize / 2;
    for (std::size_t i = 0; i < half; ++i) {
        m_spectrum[i] = {m_frame[2 * i] * m_window[2 * i],
                         m_frame[2 * i + 1] * m_window[2 * i + 1]};
    }
    fft(m_spectrum);
    const auto power = [&](std::size_t k) {
        const std::complex<float> z = m_spectrum[k];
        const std::complex<float> mirror = std::conj(m_spectrum[(half - k) % half]);
        const std::complex<float> value =
            0.5F * (z + mirror) + std::complex<float>(0.0F, -0.5F) * m_twiddles[k] * (z - mirror);
        return std::norm(value);
    };
    std::array<float, kBands> energy{};
    for (int band = 0; band < kBands; ++band) {
        float sum = 0;
        for (int k = m_bandEdges[static_cast<std::size_t>(band)];
             k < m_bandEdges[static_cast<std::size_t>(band) + 1]; ++k) {
            sum += power(static_cast<std::size_t>(k));
        }
        energy[static_cast<std::size_t>(band)] = sum;
    }
    Fingerprint print;
    float squares = 0;
    for (std::size_t i = 0; i < kPrintFrameSize; ++i) {
        squares += m_frame[i] * m_frame[i];
    }
    const float level = squares / static_cast<float>(kPrintFrameSize);
    m_loudest = std::max(level, m_loudest * kRelease);
    const bool quiet =
        level < kSilenceFloor || level < std::min(kSilence, m_loudest * kBelowLoudest);
    std::array<float, kBands - 1> change{};
    for (std::size_t band = 0; band + 1 < kBands; ++band) {
        const float difference = energy[band] - energy[band + 1];
        change[band] = difference - m_previous[band];
        if (change[band] > 0) {
            print.bits |= 1U << band;
        }
        m_previous[band] = difference;
    }
    if (quiet) {
        return print;
    }
    std::array<std::size_t, kBands - 1> order{};
    std::iota(order.begin(), order.end(), 0);
    std::nth_element(order.begin(), order.begin() + order.size() / 2, order.end(),
                     [&change](std::size_t a, std::size_t b) {
                         return std::abs(change[a]) > std::abs(change[b]);
                     });
    for (std::size_t i = 0; i < order.size() / 2; ++i) {
        print.strong |= 1U << order[i];
    }
    return print;
}

}  // namespace hushwell
