#pragma once

#include <cstdint>
#include <vector>

namespace hushwell {

// Fingerprints of audio: 32 bits per frame (and 16 more, below), one frame every kFrameStep
// seconds, each bit the sign of how the energy difference of two neighbouring frequency bands
// changed since the frame before. Such bits survive a change of level, noise and a small change
// of speed, and they cannot be turned back into the audio. Half of them, those of the largest
// changes, are marked strong: a band that holds little but noise changes its bit at random, so
// matching counts only the strong bits of the print it looks for. A frame of silence or near
// silence has no strong bits: it matches nothing, not even silence.
//
// Times are seconds on a clock the caller chooses (a steady clock in the program); the listening
// layer only compares them with each other.
constexpr double kPrintRate = 5512.5;  // samples per second the audio is analysed at
constexpr int kPrintFrameSize = 2048;  // samples of one frame (0.37 s)
constexpr int kPrintHop = 256;         // samples between the starts of two frames
constexpr double kFrameStep = kPrintHop / kPrintRate;  // 46.4 ms

// A jingle may hold all its sound above those bands (beeps at 8 kHz): 16 more bits, `high`, come
// from bands from 2 to 8.5 kHz by the same rule, half of them strong, none when that part is
// silent or the capture's rate cannot carry it. A print of an earlier version has none.
struct Fingerprint {
    std::uint32_t bits = 0;    // of the bands from 300 Hz to 2 kHz
    std::uint32_t strong = 0;  // 16 of the bits
    std::uint16_t high = 0;
    std::uint16_t highStrong = 0;  // 8 of them
    friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};

inline bool silent(const Fingerprint& frame) {
    return frame.strong == 0 && frame.highStrong == 0;
}

struct PrintFrame {
    double time = 0;  // the middle of the frame
    Fingerprint print;
};

// What a Set press keeps: the fingerprints of about kKeptBefore seconds before the press and
// kKeptAfter seconds after it, one every kFrameStep, and which of them is the press's.
//
// Live frames fall anywhere against the kept ones, and where a jingle's clear stretch is short,
// those halfway between differ by a few bits: `halfway` holds the same stretch fingerprinted half
// a step later (halfway[i] lies kFrameStep / 2 after frames[i]), silent frames where the audio
// was no longer kept; empty in a print of an earlier version, or one that has none.
struct MarkPrint {
    std::vector<Fingerprint> frames;
    std::size_t pressFrame = 0;
    std::vector<Fingerprint> halfway;

    friend bool operator==(const MarkPrint&, const MarkPrint&) = default;
};
constexpr double kKeptBefore = 8.0;
constexpr double kKeptAfter = 8.0;

}  // namespace hushwell
