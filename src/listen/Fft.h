#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

namespace hushwell {

// The power spectrum of real blocks of one size (a power of two, at least 8): the block packed
// into a complex transform of half its size, its tables made once.
class PowerSpectrum {
public:
    explicit PowerSpectrum(std::size_t size);

    // |X(k)|², unscaled, of the `size` samples of `block`, for k from 0 to size / 2 - 1.
    void operator()(std::span<const float> block, std::span<float> power);

private:
    void transform();

    std::vector<std::complex<float>> m_data;
    std::vector<std::complex<float>> m_twiddles;  // of the complex transform
    std::vector<std::complex<float>> m_unpack;    // from the packed transform to the real one
    std::vector<std::size_t> m_reversed;          // bit-reversed indices
};

}  // namespace hushwell
