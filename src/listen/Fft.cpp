#include "listen/Fft.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace hushwell {
namespace {

// Complex products written out: std::complex's own checks for infinities on every product.
std::complex<float> times(std::complex<float> a, std::complex<float> b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

std::complex<float> turn(double turns) {
    const double angle = -2.0 * std::numbers::pi * turns;
    return {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
}

}  // namespace

PowerSpectrum::PowerSpectrum(std::size_t size) : m_data(size / 2), m_reversed(size / 2) {
    const std::size_t n = size / 2;
    // Each stage's own from the third on, one after the other, so that a stage reads them in order.
    for (std::size_t length = 8; length <= n; length <<= 1) {
        for (std::size_t k = 0; k < length / 2; ++k) {
            m_twiddles.push_back(turn(static_cast<double>(k) / static_cast<double>(length)));
        }
    }
    for (std::size_t k = 0; k < n; ++k) {
        m_unpack.push_back(turn(static_cast<double>(k) / static_cast<double>(size)));
    }
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        m_reversed[i] = j;
    }
}

// The discrete Fourier transform of m_data in place (radix 2, no scaling).
void PowerSpectrum::transform() {
    const std::size_t n = m_data.size();
    for (std::size_t i = 1; i < n; ++i) {
        if (i < m_reversed[i]) {
            std::swap(m_data[i], m_data[m_reversed[i]]);
        }
    }
    // The first two stages at once: their turns are by 1 and -i, no products.
    for (std::size_t start = 0; start + 3 < n; start += 4) {
        std::complex<float>* d = &m_data[start];
        const std::complex<float> sum01 = d[0] + d[1];
        const std::complex<float> difference01 = d[0] - d[1];
        const std::complex<float> sum23 = d[2] + d[3];
        const std::complex<float> difference23 = d[2] - d[3];
        const std::complex<float> turned{difference23.imag(), -difference23.real()};  // times -i
        d[0] = sum01 + sum23;
        d[1] = difference01 + turned;
        d[2] = sum01 - sum23;
        d[3] = difference01 - turned;
    }
    const std::complex<float>* twiddles = m_twiddles.data();
    for (std::size_t length = 8; length <= n; length <<= 1) {
        const std::size_t half = length / 2;
        for (std::size_t start = 0; start < n; start += length) {
            std::complex<float>* even = &m_data[start];
            std::complex<float>* odd = even + half;
            for (std::size_t k = 0; k < half; ++k) {
                const std::complex<float> turned = times(odd[k], twiddles[k]);
                odd[k] = even[k] - turned;
                even[k] += turned;
            }
        }
        twiddles += half;
    }
}

void PowerSpectrum::operator()(std::span<const float> block, std::span<float> power) {
    const std::size_t n = m_data.size();
    for (std::size_t i = 0; i < n; ++i) {
        m_data[i] = {block[2 * i], block[2 * i + 1]};
    }
    transform();
    for (std::size_t k = 0; k < n; ++k) {
        const std::complex<float> z = m_data[k];
        const std::complex<float> mirror = std::conj(m_data[k == 0 ? 0 : n - k]);
        const std::complex<float> sum = z + mirror;
        const std::complex<float> rotated = times(m_unpack[k], z - mirror);  // then times -i
        const float real = 0.5F * (sum.real() + rotated.imag());
        const float imag = 0.5F * (sum.imag() - rotated.real());
        power[k] = real * real + imag * imag;
    }
}

}  // namespace hushwell
