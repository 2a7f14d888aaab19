#pragma once

#include <chrono>
#include <functional>
#include <span>
#include <string>

namespace hushwell {

// Audio of what the computer plays, for listening to the station: one provider per sound system,
// each with a thread of its own. A provider keeps no audio beyond the blocks waiting for the
// listener (eight seconds at most).
class AudioCapture {
public:
    // A block of mono samples at `rate` per second (the provider's own, which may change between
    // blocks: a new output), in [-1, 1]; `start` is when its first sample was heard, less the
    // server's own buffering, which stays about the same from block to block. Called on a thread
    // of the capture's own (`CaptureHandOff`), never the one the volume calls go through, a tenth
    // of a second of audio at a time (several at once while not prompt, see setPrompt()); it must
    // not call start() or stop(). A gap in the audio (capture restarted, samples lost, a listener
    // eight seconds behind) shows only as a `start` later than the previous block's end.
    using Samples = std::function<void(std::span<const float> samples, double rate,
                                       std::chrono::steady_clock::time_point start)>;

    virtual ~AudioCapture() = default;

    // Starts capturing, in place of any capture before: `program` empty, what the default
    // output plays (its monitor, following the default when it changes); else only the streams
    // of that program, named as for the volume per program. When there is nothing to capture
    // (no server, no such stream, the stream ended) it tries again within a second, quietly, until
    // stop(). Samples come to `samples` until stop() returns.
    virtual void start(const std::string& program, Samples samples) = 0;
    virtual void stop() = 0;

    // Whether blocks must follow their audio within a fraction of a second (a mark is listened
    // for), as they do until told otherwise. When not, the audio may come in pieces of up to two
    // seconds, which wakes the provider and the sound server less often; the blocks' times stay
    // as true. Any time, from any thread but the provider's; a provider that is always prompt
    // ignores it.
    virtual void setPrompt(bool prompt) { (void)prompt; }

    // Whether audio is wanted at all, as it is until told otherwise. While not, the provider keeps
    // following the output (one connection, no reconnects) but records nothing, and the sound
    // server hands nothing over; once it is wanted again the blocks follow a gap and carry the
    // real times of their audio. Any time, from any thread but the provider's. Windows' loopback
    // capture ignores it, as it ignores setPrompt: it reads the engine's packets on a poll of its
    // own; stopping its client while not wanted is for a change measured on Windows.
    virtual void setActive(bool active) { (void)active; }

    // Whether what the default output plays is heard before the output's volume (as the players
    // play it), so that a break lowered there is heard as loud as any other sound; else it is
    // heard as lowered.
    [[nodiscard]] virtual bool hearsBeforeTheVolume() const { return false; }
};

}  // namespace hushwell
