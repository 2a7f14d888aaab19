#pragma once

#include <cstdint>
#include <optional>

#include "mixer/MasterVolume.h"

namespace hushwell {

// A master volume that a guard process watches. The guard is a small process of this same
// program: it learns the Up value and whether the volume is held away from it, and when this
// process ends without saying goodbye (killed, crashed) it puts the Up value back through a
// connection of its own. An orderly end (finish()) tells it to stand down. It waits blocked on its
// pipe, with no timer: it costs no CPU while the program runs.
class CrashGuard final : public MasterVolume {
public:
    // Starts the guard. On Linux it forks: construct it before any thread is started.
    explicit CrashGuard(MasterVolume& volume);
    ~CrashGuard() override;
    CrashGuard(const CrashGuard&) = delete;
    CrashGuard& operator=(const CrashGuard&) = delete;

    // On Windows the guard is this program started again with a pipe to read: in that process
    // this runs the guard and gives its exit status; anywhere else it returns nothing at once.
    [[nodiscard]] static std::optional<int> runIfGuard();

    bool open() override { return m_volume.open(); }
    std::optional<std::int32_t> locate() override;
    bool set(std::int32_t value) override;
    void setUpValue(std::int32_t value) override;
    void watch(const EventHandler& handler) override { m_volume.watch(handler); }
    void finish() override;

private:
    void tell(std::int32_t state);

    MasterVolume& m_volume;
    std::intptr_t m_pipe = -1;  // a file descriptor, or a HANDLE on Windows; -1: no guard
    std::int32_t m_scale = 0;   // the program's, which the guard's own mixer may not share
    std::int32_t m_upValue = 0;
    std::optional<std::int32_t> m_asked;
};

}  // namespace hushwell
