#include "listen/HighBands.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hushwell {
namespace {

constexpr double kLowest = 2000.0;   // Hz, where the frames' own bands end
constexpr double kHighest = 8500.0;  // below what a 32 kbps MP3 keeps
constexpr double kUsable = 0.45;     // of the rate, what its anti-alias filter leaves whole
constexpr double kBlockSeconds = 0.0116;
constexpr double kDecimatedRate = 22050;  // at least, when the rate is higher

std::size_t blockSize(double sampleRate) {
    std::size_t size = 8;
    while (static_cast<double>(size) * 1.5 < sampleRate * kBlockSeconds) {
        size *= 2;
    }
    return size;
}

}  // namespace

HighBands::HighBands(double sampleRate)
    : m_carried(kHighest <= kUsable * sampleRate),
      m_decimator(std::max(1, static_cast<int>(sampleRate / kDecimatedRate))),
      m_size(blockSize(sampleRate / m_decimator.factor())),
      m_spectrum(m_size),
      m_power(m_size / 2) {
    for (std::size_t i = 0; i < m_size; ++i) {
        m_window.push_back(static_cast<float>(std::sin(
            std::numbers::pi * (static_cast<double>(i) + 0.5) / static_cast<double>(m_size))));
    }
    const double binWidth = sampleRate / m_decimator.factor() / static_cast<double>(m_size);
    for (int band = 0; band <= kBands; ++band) {
        const double hz =
            kLowest * std::pow(kHighest / kLowest, static_cast<double>(band) / kBands);
        m_edges.push_back(
            std::min(static_cast<int>(std::lround(hz / binWidth)), static_cast<int>(m_size / 2)));
    }
    m_windowed.resize(m_size);
}

void HighBands::restart() {
    m_decimator.restart();
    m_pending.clear();
    m_pendingStart = 0;
    m_blocks.clear();
}

void HighBands::push(std::span<const float> samples) {
    if (!m_carried) {
        return;
    }
    m_decimator.push(samples, m_pending);
    const std::size_t hop = m_size / 2;
    // The sine window's power is half the block's: a tone of mean square P sums to size² P / 4.
    const auto scale = 4.0F / static_cast<float>(m_size * m_size);
    std::size_t at = 0;
    for (; at + m_size <= m_pending.size(); at += hop) {
        for (std::size_t i = 0; i < m_size; ++i) {
            m_windowed[i] = m_pending[at + i] * m_window[i];
        }
        m_spectrum(m_windowed, m_power);
        Block block{m_pendingStart + static_cast<std::int64_t>(at), {}};
        for (int band = 0; band < kBands; ++band) {
            float sum = 0;
            for (int k = m_edges[static_cast<std::size_t>(band)];
                 k < m_edges[static_cast<std::size_t>(band) + 1]; ++k) {
                sum += m_power[static_cast<std::size_t>(k)];
            }
            block.powers[static_cast<std::size_t>(band)] = sum * scale;
        }
        m_blocks.push_back(block);
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(at));
    m_pendingStart += static_cast<std::int64_t>(at);
}

HighBands::Powers HighBands::powers(double from, double to) {
    Powers result{};
    const auto size = static_cast<double>(m_size);
    const auto inputPosition = [this](std::int64_t index) {
        return m_decimator.inputPosition(static_cast<double>(index));
    };
    while (!m_blocks.empty() && inputPosition(m_blocks.front().start) < from) {
        m_blocks.pop_front();
    }
    double weights = 0;
    for (const Block& block : m_blocks) {
        if (inputPosition(block.start) + size * m_decimator.factor() > to) {
            break;
        }
        const double middle =
            m_decimator.inputPosition(static_cast<double>(block.start) + size / 2);
        const double hann =
            0.5 - 0.5 * std::cos(2 * std::numbers::pi * (middle - from) / (to - from));
        const auto weight = static_cast<float>(hann * hann);
        for (std::size_t band = 0; band < result.size(); ++band) {
            result[band] += weight * block.powers[band];
        }
        weights += weight;
    }
    if (weights > 0) {
        for (float& power : result) {
            power = static_cast<float>(power / weights);
        }
    }
    return result;
}

}  // namespace hushwell
