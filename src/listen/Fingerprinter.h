#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "listen/BoxDecimator.h"
#include "listen/Fft.h"
#include "listen/Fingerprint.h"
#include "listen/HighBands.h"

namespace hushwell {

// Turns mono samples at any rate into fingerprint frames (see Fingerprint.h). It keeps about half
// a second of audio, no more, and nothing of it outlives the object.
//
// The rate comes down to kPrintRate in two stages: a whole factor first (44.1 and 48 kHz by 4,
// 96 kHz by 8, to 11-12 kHz) through three boxes in cascade, a few additions a sample, whose
// nulls lie where the audio folds onto the bands; then the filtered fractional stage. The bits of
// the bands above 2 kHz come from the input itself (HighBands), over the same span as the frame's.
class Fingerprinter {
public:
    // `sampleRate`: of the samples push() is given, at least 8000 per second.
    explicit Fingerprinter(double sampleRate);

    // Adds samples; `time` is the time of the first of them. Returns the frames completed by
    // them, in order. A block that does not follow the one before (its time differs by more
    // than 0.1 s from where the previous block ended: capture restarted, samples lost) starts
    // afresh, so no frame spans a gap; the first frame after a start takes a further frame.
    std::vector<PrintFrame> push(std::span<const float> samples, double time);
    [[nodiscard]] double rate() const { return m_inputRate; }

private:
    void resampleInto(std::vector<float>& out);
    Fingerprint frameBits(double from, double to);
    void restart(double time);

    double m_inputRate;
    BoxDecimator m_first;           // the first stage
    std::int64_t m_received = 0;    // input samples since the start
    std::int64_t m_decimated = 0;   // first-stage samples since the start
    std::int64_t m_blockIndex = 0;  // input index of the first sample of the last block
    double m_blockTime = 0;
    double m_rate;                   // of the first stage's output
    double m_ratio;                  // first-stage samples per analysed sample
    int m_taps;                      // of the anti-alias filter
    std::vector<float> m_filter;     // kPhases rows of m_taps
    std::vector<float> m_input;      // input not yet consumed
    double m_next = 0;               // input position (in m_input) of the next analysed sample
    std::int64_t m_inputStart = 0;   // absolute index of m_input[0]
    std::int64_t m_anchorIndex = 0;  // absolute index of the first sample the last block gave
    double m_anchorTime = 0;
    double m_firstAnalysed = 0;        // absolute input position of the first analysed sample
    std::int64_t m_analysedCount = 0;  // analysed samples since the start
    bool m_started = false;
    std::vector<float> m_frame;  // analysed samples of the frame being filled
    std::vector<float> m_window;
    std::vector<float> m_windowed;
    PowerSpectrum m_spectrum;
    std::vector<float> m_power;
    std::vector<int> m_bandEdges;   // FFT bins
    std::vector<float> m_previous;  // the previous frame's band differences
    HighBands m_high;
    std::array<float, HighBands::kBands - 1> m_previousHigh{};
    bool m_havePrevious = false;
    float m_loudest =
        0;  // the levels near silence is judged against (of the frame, and above 2 kHz)
    float m_loudestHigh = 0;
};

}  // namespace hushwell
