#include "listen/SampleRing.h"

#include <algorithm>
#include <cmath>

namespace hushwell {
namespace {

constexpr float kFullScale = 32767.0F;

// Truncated, not rounded: a loop the compiler turns into vector instructions.
void store(std::span<const float> samples, std::int16_t* to) {
    std::transform(samples.begin(), samples.end(), to, [](float sample) {
        return static_cast<std::int16_t>(std::clamp(sample, -1.0F, 1.0F) * kFullScale);
    });
}

}  // namespace

void SampleRing::push(std::span<const float> samples, double rate, double time) {
    if (rate != m_rate) {
        m_rate = rate;
        m_samples.assign(static_cast<std::size_t>(std::ceil(m_seconds * rate)), 0);
        clear();
    }
    const std::size_t capacity = m_samples.size();
    if (capacity == 0 || samples.empty()) {
        return;
    }
    if (samples.size() > capacity) {
        time += static_cast<double>(samples.size() - capacity) / rate;
        samples = samples.last(capacity);
    }
    while (m_size + samples.size() > capacity) {
        Block& oldest = m_blocks.front();
        const std::size_t dropped = std::min(oldest.count, m_size + samples.size() - capacity);
        oldest.count -= dropped;
        oldest.time += static_cast<double>(dropped) / rate;
        m_oldest = (m_oldest + dropped) % capacity;
        m_size -= dropped;
        if (oldest.count == 0) {
            m_blocks.pop_front();
        }
    }
    const std::size_t at = (m_oldest + m_size) % capacity;
    const std::size_t first = std::min(samples.size(), capacity - at);
    store(samples.first(first), m_samples.data() + at);
    store(samples.subspan(first), m_samples.data());
    m_size += samples.size();
    m_blocks.push_back({time, samples.size()});
}

void SampleRing::clear() {
    m_oldest = 0;
    m_size = 0;
    m_blocks.clear();
}

void SampleRing::replay(const std::function<void(std::span<const float>, double)>& take,
                        double seconds) {
    std::size_t skip =
        m_size -
        std::min(m_size, static_cast<std::size_t>(std::max(0.0, std::min(seconds * m_rate, 1e12))));
    std::size_t at = m_oldest;
    for (const Block& block : m_blocks) {
        const std::size_t skipped = std::min(skip, block.count);
        skip -= skipped;
        at = (at + skipped) % m_samples.size();
        m_out.resize(block.count - skipped);
        for (float& sample : m_out) {
            sample = static_cast<float>(m_samples[at]) / kFullScale;
            at = at + 1 == m_samples.size() ? 0 : at + 1;
        }
        if (!m_out.empty()) {
            take(m_out, block.time + static_cast<double>(skipped) / m_rate);
        }
    }
}

}  // namespace hushwell
