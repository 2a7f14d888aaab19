#include "listen/Fft.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace hushwell {

void fft(std::span<std::complex<float>> data) {
    const std::size_t n = data.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(data[i], data[j]);
        }
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const double angle = -2.0 * std::numbers::pi / static_cast<double>(length);
        const std::complex<float> step(static_cast<float>(std::cos(angle)),
                                       static_cast<float>(std::sin(angle)));
        for (std::size_t start = 0; start < n; start += length) {
            std::complex<float> twiddle(1.0F, 0.0F);
            for (std::size_t k = 0; k < length / 2; ++k) {
                const std::complex<float> even = data[start + k];
                const std::complex<float> odd = data[start + k + length / 2] * twiddle;
                data[start + k] = even + odd;
                data[start + k + length / 2] = even - odd;
                twiddle *= step;
            }
        }
    }
}

}  // namespace hushwell
