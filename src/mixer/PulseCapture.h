#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "mixer/AudioCapture.h"

namespace hushwell {

// Capture from the PulseAudio server (or PipeWire's PulseAudio server), on libpulse's own thread,
// at the output's own rate and channels (the server neither resamples nor remixes), mixed down to
// mono here: a record stream from the default sink's monitor, or one from the monitor of each
// stream of one program, mixed. One connection throughout, told of streams as they come and go.
[[nodiscard]] std::unique_ptr<AudioCapture> pulseCapture();

// The streams of one program mixed into one on the output's sample clock: each stream's samples
// follow on from its own last ones, and the mix is handed on as far as every stream has come. A
// stream more than `slack` samples behind the one furthest on (paused, or late) counts as silence
// up to `slack` behind it. A stream added starts where the one furthest on is.
class StreamMix {
public:
    explicit StreamMix(std::size_t slack) : m_slack(slack) {}

    void add(std::uint32_t stream);
    void remove(std::uint32_t stream);
    // Adds `samples` of `stream` and returns the mix as far as it is through now (empty for a
    // stream not added); valid until the next call.
    std::span<const float> push(std::uint32_t stream, std::span<const float> samples);

private:
    struct Lane {
        std::uint32_t stream;
        std::uint64_t at;  // where its next sample goes, counted from the mix's first
    };
    std::size_t m_slack;
    std::vector<Lane> m_lanes;
    std::vector<float> m_sum;  // the mix from m_through on
    std::uint64_t m_through = 0;
    std::vector<float> m_out;
};

// When the capture's thread may look at its connection again. While audio comes, at most once a
// pause from its last wake-up (the pieces meanwhile wait in the socket or at the server), so that
// a server handing over a piece every few milliseconds (a player asked for a short latency) wakes
// it no more often than the fragment it asked for; otherwise at once. A call from another thread
// ends the wait early.
class WakePacing {
public:
    using Clock = std::chrono::steady_clock;

    void setPause(Clock::duration pause) { m_pause = pause; }
    // Audio was handed over since the thread last woke.
    void audio() { m_audio = true; }
    // Nothing is ready at `now`: until when to wait before waiting for the connection, no later
    // than `timer` (the loop's next timed event), if any.
    [[nodiscard]] Clock::time_point waitUntil(Clock::time_point now,
                                              std::optional<Clock::time_point> timer) const;
    // The thread woke from a wait at `now`.
    void woke(Clock::time_point now) {
        m_wokeAt = now;
        m_audio = false;
    }

private:
    Clock::duration m_pause{};
    Clock::time_point m_wokeAt;
    bool m_audio = false;
};

}  // namespace hushwell
