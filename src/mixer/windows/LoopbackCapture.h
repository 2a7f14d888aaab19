#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mixer/AudioCapture.h"

namespace hushwell {

class ComThread;  // mixer/windows/ComThread.h

// Capture of what Windows plays: loopback of the default output (render flow, console role) in
// its own mix format, handed on as mono (the channels averaged) at the mix format's rate. Each
// packet is placed by the audio engine's own clock: the performance counter's reading when its
// first frame was recorded, or, where that is uncertain, its device position counted from the last
// packet that had one; nothing played (the stream delivers nothing) shows as a gap. It follows the
// default output as the user switches it, and tries again each second while there is no output or
// after the output was lost (unplugged, the audio service restarted).
//
// Every COM object lives on the COM thread, shared with the endpoint volume, which reads the
// packets in short steps; the blocks go on to the listener from a thread of the capture's own. The
// thread that calls start() and stop() is never used for COM.
class LoopbackCapture final : public AudioCapture {
public:
    using Now = std::function<std::chrono::steady_clock::time_point()>;
    // The performance counter now, in 100-ns units (as GetBuffer gives a packet's time).
    using Counter = std::function<std::uint64_t()>;
    // One line about what the capture does ("capture: ..."), for the program's log: called on the
    // COM thread, and in start().
    using Log = std::function<void(const std::string&)>;

    struct Options {
        std::shared_ptr<ComThread> thread = {};  // empty: the program's
        Now now = {};                            // empty: the steady clock
        Counter counter = {};                    // empty: QueryPerformanceCounter's
        std::chrono::milliseconds retry{1000};
        Log log = {};
    };

    explicit LoopbackCapture(Options options);
    ~LoopbackCapture() override;
    LoopbackCapture(const LoopbackCapture&) = delete;
    LoopbackCapture& operator=(const LoopbackCapture&) = delete;

    // `program` given: the whole output all the same, which the log says (capturing one process
    // needs Windows 10 2004's process loopback, which this build's headers do not declare).
    void start(const std::string& program, Samples samples) override;
    void stop() override;

private:
    struct Stream;

    Options m_options;
    std::shared_ptr<Stream> m_stream;  // shared with the threads, which may outlive a stop()
};

}  // namespace hushwell
