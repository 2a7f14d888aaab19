#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "mixer/MasterVolume.h"

namespace hushwell {

// A master volume whose provider works on a thread of its own, so that no call holds the
// caller's thread for long, whatever the sound server does. open() and locate() wait for their
// answer (start-up needs it), but no longer than a deadline: a provider that does not answer by
// then counts as none. set() only hands the value over; a value the provider does not take comes
// back as a Refused event. Events reach the handler on the caller's thread, through `post`.
//
// The value last asked for is sent again when the sound server comes back, and when the system's
// output changes while the value is not the Up value, so the held level follows the output.
// The thread starts with the first call, so a process can still fork after constructing this.
class BackgroundVolume final : public MasterVolume {
public:
    // Runs a task on the thread that owns this volume.
    using Post = std::function<void(std::function<void()>)>;
    struct Deadlines {
        std::chrono::milliseconds answer{5000};  // for open() and locate()
        std::chrono::milliseconds finish{3000};  // for what is still to be sent at the end
    };

    BackgroundVolume(std::unique_ptr<MasterVolume> provider, Post post, Deadlines deadlines);
    BackgroundVolume(std::unique_ptr<MasterVolume> provider, Post post)
        : BackgroundVolume(std::move(provider), std::move(post), Deadlines{}) {}
    ~BackgroundVolume() override;
    BackgroundVolume(const BackgroundVolume&) = delete;
    BackgroundVolume& operator=(const BackgroundVolume&) = delete;

    bool open() override;
    std::optional<std::int32_t> locate() override;
    bool set(std::int32_t value) override;
    void setUpValue(std::int32_t value) override;
    void watch(const EventHandler& handler) override;
    // Sends what is still to be sent, then stops the thread. A provider that is stuck past the
    // deadline is left to it: the thread is let go, keeping what it works on.
    void finish() override;

private:
    struct State;
    template <typename Result>
    std::optional<Result> ask(std::function<Result(MasterVolume&)> call);
    void start();

    std::shared_ptr<State> m_state;  // shared with the thread, which may outlive this
    Deadlines m_deadlines;
    std::thread m_thread;
};

}  // namespace hushwell
