#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace hushwell {

// Lowers a rate by a whole factor through three boxes of that many samples in cascade: a few
// additions a sample, whose nulls lie at the multiples of the new rate, where the audio would fold
// onto the lowest part of what is kept.
class BoxDecimator {
public:
    explicit BoxDecimator(int factor);

    [[nodiscard]] int factor() const { return m_factor; }
    // The input position, from the last restart, at the middle of the input output `index` summed.
    [[nodiscard]] double inputPosition(double index) const {
        return index * m_factor + static_cast<double>(m_kernel.size() - 1) / 2.0;
    }
    // Adds input samples; appends the outputs they complete to `out`.
    void push(std::span<const float> samples, std::vector<float>& out);
    void restart() { m_pending.clear(); }

private:
    int m_factor;
    std::vector<float> m_kernel;
    std::vector<float> m_pending;  // input not yet used
};

// The sum of the products of `size` floats at `a` and at `b`: a filter's output.
[[nodiscard]] float dot(const float* a, const float* b, std::size_t size);

}  // namespace hushwell
