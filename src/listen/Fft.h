#pragma once

#include <complex>
#include <span>

namespace hushwell {

// The discrete Fourier transform of `data` in place (radix 2, no scaling). Its size must be a
// power of two.
void fft(std::span<std::complex<float>> data);

}  // namespace hushwell
