#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "mixer/MasterVolume.h"

namespace hushwell {

// A master volume whose provider works on a thread of its own, so that no call holds the
// caller's thread for longer than it takes to hand a value over, whatever the sound server does.
// open() and locate() wait for their answer (start-up needs it; the provider bounds them); set()
// only hands the value over, and a value the provider does not take comes back as a Refused event.
// Events reach the handler on the caller's thread, through `post`.
//
// The value last asked for is sent again when the sound server comes back, and when the system's
// output changes while the value is not the Up value, so the held level follows the output.
// The thread starts with the first call, so a process can still fork after constructing this.
class BackgroundVolume final : public MasterVolume {
public:
    // Runs a task on the thread that owns this volume.
    using Post = std::function<void(std::function<void()>)>;

    BackgroundVolume(MasterVolume& provider, Post post);
    ~BackgroundVolume() override;
    BackgroundVolume(const BackgroundVolume&) = delete;
    BackgroundVolume& operator=(const BackgroundVolume&) = delete;

    bool open() override;
    std::optional<std::int32_t> locate() override;
    bool set(std::int32_t value) override;
    void setUpValue(std::int32_t value) override;
    void watch(const EventHandler& handler) override;
    // Sends what is still to be sent, then stops the thread.
    void finish() override;

private:
    template <typename Result>
    Result onThread(std::function<Result()> call);
    void start();
    void onProviderEvent(const VolumeEvent& event);
    void run();

    MasterVolume& m_provider;
    Post m_post;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_calls;
    EventHandler m_handler;
    std::optional<std::int32_t> m_asked;  // the value last asked for
    std::int32_t m_upValue = 0;
    bool m_send = false;  // m_asked is still to be sent
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace hushwell
