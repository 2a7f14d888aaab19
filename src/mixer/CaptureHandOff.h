#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "mixer/AudioCapture.h"
#include "mixer/WorkerThread.h"

namespace hushwell {

// A capture's blocks carried to the listener on a thread of their own. A provider reads on the
// thread its volume calls go through too (the sound server's connection, the COM thread), while
// the listener takes a lock and may fingerprint seconds of audio at once (a press): a volume call
// must not wait for that. Up to kWaiting blocks (8 s of audio) wait for the listener: more than a
// provider hands on at once (PulseAudio's relaxed pieces of 2 s, two of them when read late, and
// a program's mix catching up by up to 5 s). Beyond them the listener is behind, and a block is
// dropped rather than kept, which the listener sees as a gap.
class CaptureHandOff {
public:
    static constexpr int kWaiting = 80;  // of a tenth of a second

    explicit CaptureHandOff(AudioCapture::Samples samples)
        : m_state(std::make_shared<State>(std::move(samples))) {
        m_state->thread.start(m_state);
    }
    ~CaptureHandOff() { stop(); }
    CaptureHandOff(const CaptureHandOff&) = delete;
    CaptureHandOff& operator=(const CaptureHandOff&) = delete;

    void post(std::span<const float> samples, double rate,
              std::chrono::steady_clock::time_point start) {
        if (m_state->waiting >= kWaiting) {
            return;
        }
        ++m_state->waiting;
        const bool queued =
            m_state->thread.post([state = m_state.get(), rate, start,
                                  block = std::vector<float>(samples.begin(), samples.end())] {
                const std::lock_guard lock(state->mutex);
                if (state->samples) {
                    state->samples(block, rate, start);
                }
                --state->waiting;
            });
        if (!queued) {
            --m_state->waiting;
        }
    }

    // What was handed on is taken (a stuck listener is given three seconds), and nothing after.
    void stop() {
        (void)m_state->thread.stop(std::chrono::seconds(3));
        const std::lock_guard lock(m_state->mutex);
        m_state->samples = {};
    }

private:
    // Kept alive by its thread, which a stuck listener may keep running after stop().
    struct State {
        explicit State(AudioCapture::Samples given) : samples(std::move(given)) {}
        std::mutex mutex;  // held while a block is handed on: none is after stop() returned
        AudioCapture::Samples samples;
        std::atomic<int> waiting{0};  // blocks not taken yet
        WorkerThread thread;
    };
    std::shared_ptr<State> m_state;
};

}  // namespace hushwell
