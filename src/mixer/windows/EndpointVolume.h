#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mixer/MasterVolume.h"

namespace hushwell {

class ComThread;  // mixer/windows/ComThread.h

// The endpoint volume's waits (EndpointVolume::Deadlines).
struct EndpointDeadlines {
    // How long a broken provider waits between attempts to rebuild itself, and an output
    // whose sessions were refused between attempts to have them.
    std::chrono::milliseconds retry{1000};
    // How long a call waits for the COM thread to answer.
    std::chrono::milliseconds answer{2000};
};

// The volume that Windows' own volume flyout shows: the endpoint volume of the default output
// (render flow, console role), on a scale of 100, so that a level in percent is exactly the number
// Windows shows. It follows the default output as the user switches it, and rebuilds itself when a
// call fails (device invalidated, audio service restarted). It holds no level of its own: what to
// send after an event is the caller's business.
//
// Every COM object lives on the COM thread it is given (the program's, which the loopback capture
// shares, unless a test gives one), which makes, uses and releases every interface there. The
// calling thread (and so the window's, which Qt makes single-threaded) is never initialised nor
// used for COM, and this object may be destroyed on any thread but the COM thread. Calls come from
// one thread at a time; each waits for its answer from the COM thread (behind at most one step of
// the capture), no longer than a deadline: a call that the audio service holds past it counts as
// failed (the guard's minute of tries holds with a hung service), and until it answers the next
// calls fail at once.
class EndpointVolume final : public MasterVolume {
public:
    // The file name of a process's executable in UTF-8 ("firefox.exe"), empty when it cannot be
    // had. The default one asks Windows.
    using ProcessNames = std::function<std::string(unsigned long processId)>;
    static constexpr std::int32_t kScale = 100;
    using Deadlines = EndpointDeadlines;

    EndpointVolume();  // on the program's COM thread
    explicit EndpointVolume(std::shared_ptr<ComThread> thread, ProcessNames names = {},
                            Deadlines deadlines = {});
    ~EndpointVolume() override;
    EndpointVolume(const EndpointVolume&) = delete;
    EndpointVolume& operator=(const EndpointVolume&) = delete;

    // Binds the default output's volume and checks that it takes a value (its own current level,
    // set again). Without an output yet, or with the audio service not answering (or not within
    // the deadline: locate() then answers once it has), it opens all the same and waits: the
    // output is bound when Windows names one, the rest at the next retry.
    // false, with lastError() telling why, only where the volume is known not to work: a stub
    // (E_NOTIMPL), or any failure under Wine, where it may never work (the default constructor's).
    bool open() override;
    std::optional<std::int32_t> locate() override;
    // Sets the current default output to `value` (0 to kScale); returns its device id in UTF-8,
    // empty when there is no output or the value was not taken.
    std::optional<std::string> set(std::int32_t value) override;
    // Sets the output `output` (an id set() returned), current or not; false when it was not
    // taken or the output is gone.
    bool setOn(const std::string& output, std::int32_t value) override;

    // The audio sessions of the default output, by their processes' executables: false before
    // open(), and while the output's session manager cannot be had, which each question tries
    // again, and the provider each retry period (a busy audio service at log-in refuses it for a
    // while; so may an output switched to); when they come it tells StreamStarted.
    [[nodiscard]] bool hasProgramVolume() const override;
    // The executables' file names of the processes with a session on the default output, but the
    // system sounds and this process's own.
    [[nodiscard]] std::vector<std::string> playingPrograms() override;
    // Sets every session of the default output whose process runs `program` (an executable's file
    // name, compared ignoring case) to `value`, and returns how many took it; sessions on other
    // outputs are not touched. setProgramWhere() names the output too: a session's volume stays
    // with its output, so a program set there and left behind keeps its level until setProgramOn()
    // sets it on that output.
    [[nodiscard]] std::optional<int> setProgram(const std::string& program,
                                                std::int32_t value) override;
    [[nodiscard]] std::optional<ProgramTaken> setProgramWhere(const std::string& program,
                                                              std::int32_t value) override;
    // `program`'s sessions on the output `output` (an id set() or setProgramWhere() named),
    // current or not; nullopt when one refused or the output is gone.
    [[nodiscard]] std::optional<int> setProgramOn(const std::string& output,
                                                  const std::string& program,
                                                  std::int32_t value) override;

    // Reports OutputChanged when the default output changed (and the provider rebound), NoOutput
    // when there came to be none (told at once to a watcher that comes after an open that found
    // none), ServerBack when it rebuilt itself after a failed call, and StreamStarted when a
    // session started on the default output. Called from the COM thread.
    void watch(const EventHandler& handler) override;

    // What failed last ("SetMasterVolumeLevelScalar: HRESULT 0x80004001"), empty while nothing
    // did.
    [[nodiscard]] std::string lastError() const;

private:
    struct Endpoint;

    std::shared_ptr<ComThread> m_thread;
    std::shared_ptr<Endpoint> m_endpoint;  // shared with the thread, which may outlive this
};

}  // namespace hushwell
