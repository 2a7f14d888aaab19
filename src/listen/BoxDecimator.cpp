#include "listen/BoxDecimator.h"

#include <array>

#include <numeric>

namespace hushwell {
namespace {

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

float dot(const float* a, const float* b, std::size_t size) {
    // Four sums side by side, so that the products can go four at a time.
    std::array<float, 4> sums{};
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        for (std::size_t j = 0; j < 4; ++j) {
            sums[j] += a[i + j] * b[i + j];
        }
    }
    for (; i < size; ++i) {
        sums[0] += a[i] * b[i];
    }
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

BoxDecimator::BoxDecimator(int factor) : m_factor(factor), m_kernel(boxes(factor)) {}

void BoxDecimator::push(std::span<const float> samples, std::vector<float>& out) {
    if (m_factor == 1) {
        out.insert(out.end(), samples.begin(), samples.end());
        return;
    }
    m_pending.insert(m_pending.end(), samples.begin(), samples.end());
    const std::size_t taps = m_kernel.size();
    std::size_t at = 0;  // of the next output's first sample
    for (; at + taps <= m_pending.size(); at += static_cast<std::size_t>(m_factor)) {
        out.push_back(dot(m_kernel.data(), &m_pending[at], taps));
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace hushwell
