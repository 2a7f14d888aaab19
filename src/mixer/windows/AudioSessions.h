#pragma once

// The audio sessions of one output: a volume per program on Windows, for the endpoint-volume
// provider, used on the COM thread alone.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mixer/windows/ComSupport.h"

struct IMMDevice;
struct IAudioSessionControl2;
struct IAudioSessionManager2;
struct IAudioSessionNotification;

namespace hushwell {

// The file name of a process's executable in UTF-8 ("firefox.exe"), empty when it cannot be had
// (the process ended, or belongs to a user this one may not look at).
using ProcessNameLookup = std::function<std::string(unsigned long processId)>;
[[nodiscard]] std::string executableName(unsigned long processId);

// The file name of the executable in an audio session's identifier, in UTF-8, empty when it names
// none. Windows does not document the identifier's form; it holds the executable's path after the
// first '|', up to "%b" ("{0.0.0.00000000}.{...}|\Device\HarddiskVolume3\Apps\vlc.exe%b{...}"),
// and so names the program of a session whose process has ended.
[[nodiscard]] std::string identifiedProgram(const std::wstring& sessionIdentifier);

// Whether two executables' names are the same one, as Windows compares file names (ordinal,
// ignoring case).
[[nodiscard]] bool sameProgram(const std::string& a, const std::string& b);

// The session manager of one output and the registration for its new sessions. Every call is made
// on the provider's COM thread, the one that bound it; only `sessionCreated` comes from a thread of
// Windows' own.
class AudioSessions {
public:
    // `note` is told each call that failed; `sessionCreated` is called, on a thread of Windows'
    // own, when a session starts on the output (it must only hand the news on).
    AudioSessions(ProcessNameLookup names, std::function<void(const char* call, long result)> note,
                  std::function<void()> sessionCreated);
    ~AudioSessions();
    AudioSessions(const AudioSessions&) = delete;
    AudioSessions& operator=(const AudioSessions&) = delete;

    // Binds `device`'s session manager and registers for its new sessions, then lists them once
    // (Windows tells of new sessions only after that); false (noted) when the device has none
    // that enumerates. What was bound before is released first.
    bool bind(IMMDevice& device);
    void release();
    [[nodiscard]] bool bound() const { return static_cast<bool>(m_manager); }
    // The last bind() met a device without sessions or a stub (E_NOINTERFACE, E_NOTIMPL: Wine 8's
    // enumerator), which will never list them.
    [[nodiscard]] bool stub() const { return m_stub; }

    // The programs with a session on the output that is not expired, but the system sounds and
    // this process: sorted, each once whatever its case. nullopt when the output's sessions could
    // not be listed; a session whose own calls fail (it went with its process or device) is left
    // out.
    [[nodiscard]] std::optional<std::vector<std::string>> programs();

    // Sets the volume of every session of `program` (compared as sameProgram()) to `level`
    // (0 to 1), with `context` as the change's event context, expired ones too: Windows calls a
    // session expired when it has no stream (a paused tab, a player that moved with the output),
    // and keeps its level for the program's next stream, even after a restart of the program.
    // Returns how many sessions took it; nullopt when the sessions could not be listed or one of
    // the program's refused (the others are set all the same). A session that says it is gone is
    // left out.
    [[nodiscard]] std::optional<int> setVolume(const std::string& program, float level,
                                               const GUID& context);
    // The same on `device`, any output (one left behind, mostly), through a session manager of
    // its own whose news is not asked for and whose failure loses nothing.
    [[nodiscard]] std::optional<int> setVolumeOn(IMMDevice& device, const std::string& program,
                                                 float level, const GUID& context);

    // Whether the last programs() or setVolume() met the loss of the output itself (its session
    // manager failed, or the audio service stopped), not only that of one session.
    [[nodiscard]] bool outputLost() const { return m_outputLost; }

private:
    struct Session {
        std::string program;
        bool expired;
        com::Ref<IAudioSessionControl2> control;
    };
    // The sessions of other processes than this one, the system sounds left out.
    // `bound`: `manager` is the bound output's, whose failure loses the output.
    [[nodiscard]] std::optional<std::vector<Session>> sessionsOf(IAudioSessionManager2& manager,
                                                                 bool bound);
    [[nodiscard]] std::optional<int> setVolumeOf(IAudioSessionManager2& manager, bool bound,
                                                 const std::string& program, float level,
                                                 const GUID& context);
    void failed(const char* call, HRESULT result, bool outputLost);

    const ProcessNameLookup m_names;
    const std::function<void(const char*, long)> m_note;
    // Once registered, kept until the process ends: Microsoft does not say that
    // UnregisterSessionNotification waits for a callback in flight on Windows' own thread.
    IAudioSessionNotification* m_notification;
    bool m_notificationGiven = false;
    com::Ref<IAudioSessionManager2> m_manager;
    bool m_registered = false;
    bool m_outputLost = false;
    bool m_stub = false;
};

}  // namespace hushwell
