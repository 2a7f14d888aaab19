#include "listen/SyntheticStation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>

namespace hushwell::testing {
namespace {

struct Note {
    double start, length, pitch, second;  // seconds, Hz of the two tones
};

std::vector<Note> notes(const Segment& segment) {
    std::mt19937 random(segment.seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Note> result;
    const bool talk = segment.sound == Sound::Talk;
    for (double at = 0; at < segment.length;) {
        const double length = talk ? 0.08 + 0.25 * unit(random) : 0.15 + 0.45 * unit(random);
        const double pitch = talk ? 90 + 160 * unit(random) : 150 * std::pow(6.0, unit(random));
        result.push_back({at, length, pitch, talk ? pitch * 1.02 : pitch * (1.2 + unit(random))});
        at += length + (talk ? 0.1 * unit(random) : 0);
    }
    return result;
}

double hashNoise(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return static_cast<double>((x ^ (x >> 31)) >> 11) / 9007199254740992.0 * 2 - 1;
}

}  // namespace

std::vector<float> render(const std::vector<Segment>& programme, double from, double to,
                          double speed, double noise, double gain, double rate) {
    std::vector<float> samples(static_cast<std::size_t>((to - from) * rate));
    for (const Segment& segment : programme) {
        const std::vector<Note> played = notes(segment);
        const double talk = segment.sound == Sound::Talk ? 1 : 0;
        auto note = played.begin();  // the time only goes forward
        const Note* sounding = nullptr;
        std::array<std::complex<double>, 6> phase{};
        std::array<std::complex<double>, 6> step{};
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double local = from + static_cast<double>(i) / rate * speed - segment.start;
            if (local < 0 || local >= segment.length) {
                continue;
            }
            while (note + 1 != played.end() && (note + 1)->start <= local) {
                ++note;
            }
            const double t = local - note->start;
            if (t >= note->length) {
                continue;
            }
            if (&*note != sounding) {  // rotating phasors in place of a sine per sample
                sounding = &*note;
                for (std::size_t k = 0; k < 6; ++k) {
                    const double hz = (k < 3 ? note->pitch : note->second) * double(k % 3 + 1);
                    phase[k] = std::polar(1.0, 2 * std::numbers::pi * hz * t);
                    step[k] = std::polar(1.0, 2 * std::numbers::pi * hz * speed / rate);
                }
            }
            const double envelope = std::sin(std::numbers::pi * t / note->length);
            double value = 0;
            for (std::size_t k = 0; k < 6; ++k) {
                value += phase[k].imag() / double(k % 3 + 1);
                phase[k] *= step[k];
            }
            const auto index = static_cast<std::uint64_t>(local * kStationRate);
            value += talk * 2 * hashNoise(index ^ (std::uint64_t{segment.seed} << 40));
            samples[i] += static_cast<float>(0.15 * envelope * value * gain * segment.gain);
        }
    }
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] += static_cast<float>(noise * hashNoise(i + (std::uint64_t{7} << 50)));
    }
    return samples;
}

void addTone(std::vector<float>& samples, double from, double rate, double start, double length,
             double hz, double amplitude) {
    constexpr double kFade = 0.005;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = from + static_cast<double>(i) / rate - start;
        if (t >= 0 && t < length) {
            const double fade = std::min({1.0, t / kFade, (length - t) / kFade});
            samples[i] +=
                static_cast<float>(amplitude * fade * std::sin(2 * std::numbers::pi * hz * t));
        }
    }
}

}  // namespace hushwell::testing
