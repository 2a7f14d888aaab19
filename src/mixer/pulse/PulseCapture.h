#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "mixer/AudioCapture.h"

namespace hushwell {

// Capture from the PulseAudio server (or PipeWire's PulseAudio server), on the thread of the
// process's connection (PulseConnection), at the output's own rate and channels (the server neither
// resamples nor remixes), mixed down to mono here: a record stream from each stream's part of its
// sink's monitor (each stream that plays to the default sink, or each of one program's), which
// carries it before the sink's volume, each with its own volume undone (streamGain()), mixed.
// Told of streams as they come and go.
[[nodiscard]] std::unique_ptr<AudioCapture> pulseCapture();

// The gain a stream's part of the monitor carries: the stream's own volume (linear); with flat
// volumes, where a stream's volume is told as the sink's times its share, that share.
[[nodiscard]] double streamGain(double streamVolume, double sinkVolume, bool flatVolumes);

// The channels a sink's monitor is recorded in: mono where the server mixes the sink down as the
// capture would, to the mean of its channels (PulseAudio, a stereo or mono sink), so that the
// prints stay what they were and the server hands over half the bytes; else the sink's own, mixed
// down here (PipeWire mixes stereo to mono 3 dB louder, and PulseAudio leaves a 5.1 sink's LFE
// out).
[[nodiscard]] std::uint8_t recordedChannels(std::uint8_t sinkChannels, bool pipeWire);

// The streams of one program mixed into one on the output's sample clock: each stream's samples
// follow on from its own last ones, and the mix is handed on as far as every stream has come. The
// server hands each stream's pieces over on its own beat (a fragment at a time, in bursts when read
// late), so a stream behind the others is waited for while it was heard from within `patience`;
// one silent longer (stalled), or more than `slack` samples behind the one furthest on, counts as
// silence up to where the others have come (`slack` behind the furthest at most). A stream added
// starts where the one furthest on is.
class StreamMix {
public:
    using Clock = std::chrono::steady_clock;

    StreamMix(std::size_t slack, Clock::duration patience) : m_slack(slack), m_patience(patience) {}

    void add(std::uint32_t stream, Clock::time_point now);
    void remove(std::uint32_t stream);
    // Adds `samples` of `stream` that came at `now` and returns the mix as far as it is through
    // now (empty for a stream not added); valid until the next call.
    std::span<const float> push(std::uint32_t stream, std::span<const float> samples,
                                Clock::time_point now);

private:
    struct Lane {
        std::uint32_t stream;
        std::uint64_t at;         // where its next sample goes, counted from the mix's first
        Clock::time_point heard;  // when its last piece came (or it was added)
    };
    std::size_t m_slack;
    Clock::duration m_patience;
    std::vector<Lane> m_lanes;
    std::vector<float> m_sum;  // the mix from m_through on
    std::uint64_t m_through = 0;
    std::vector<float> m_out;
};

// The times of captured samples, told by counting them: the server hands over pieces of any size
// at uneven moments (a fragment's pieces all at once when it is complete), so a piece's arrival
// tells only that its audio had been played by then. The count's start is the earliest every piece
// so far allows: a count ahead of the clock is drawn back at once. One behind it is moved on by at
// most kCreep a piece (the output's clock drifts that slowly), and one further behind than `jump`
// follows a gap. The times handed out follow on from the block before, moved towards the count's
// by at most kSlew a block: a first piece that came late, found out only when a later one comes
// on time, slides the times back rather than stepping them back, which a listener would take for
// a gap (it takes 0.1 s for one) and so lose the prints across it; half that a block, so that a
// stream's first second or so of pieces (which come in bursts) is slid out within two seconds.
class SampleClock {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr double kCreep = 0.0005;  // s
    static constexpr double kSlew = 0.05;     // s

    SampleClock(double rate, double jump) : m_rate(rate), m_jump(jump) {}

    // Whether `count` samples that came at `now` follow on from those counted (false: a gap, or
    // nothing counted yet; restart() first, once those not handed on yet are).
    [[nodiscard]] bool follows(std::size_t count, Clock::time_point now) const;
    void add(std::size_t count, Clock::time_point now);
    // The time of the first of the next `count` samples counted, handed on now.
    Clock::time_point handOn(std::size_t count);
    void restart() { m_counting = false; }

private:
    using Seconds = std::chrono::duration<double>;
    using TimePoint = std::chrono::time_point<Clock, Seconds>;
    [[nodiscard]] double behind(std::size_t count, Clock::time_point now) const;

    double m_rate;
    double m_jump;
    bool m_counting = false;
    bool m_handedAny = false;  // since the count started
    TimePoint m_start;         // of the first sample counted
    std::uint64_t m_counted = 0;
    std::uint64_t m_handed = 0;
    TimePoint m_handedEnd;  // of the last block handed on
};

}  // namespace hushwell
