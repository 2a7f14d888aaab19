#include "mixer/windows/AudioSessions.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <audiopolicy.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <utility>

namespace hushwell {
namespace {

using com::Ref;

// Told by Windows, on a thread of its own, when a session is created on the output. It only hands
// the news on: it must not block or call back into the session manager.
class SessionCreatedClient final
    : public com::Implements<SessionCreatedClient, IAudioSessionNotification> {
public:
    explicit SessionCreatedClient(std::function<void()> post) : m_post(std::move(post)) {}

    HRESULT STDMETHODCALLTYPE OnSessionCreated(IAudioSessionControl* /*session*/) override {
        m_post();
        return S_OK;
    }

private:
    friend com::Implements<SessionCreatedClient, IAudioSessionNotification>;  // deletes it
    ~SessionCreatedClient() = default;

    const std::function<void()> m_post;
};

// A session's call that meets this has lost its own device or process, which may happen to one
// session while the output stays (Windows documents it for GetProcessId): that session is left out.
[[nodiscard]] bool sessionGone(HRESULT result) {
    return result == AUDCLNT_E_DEVICE_INVALIDATED;
}

// CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN: `a` against `b` as Windows compares file names.
[[nodiscard]] int compareFileNames(const std::string& a, const std::string& b) {
    const std::wstring wideA = com::wide(a);
    const std::wstring wideB = com::wide(b);
    return CompareStringOrdinal(wideA.data(), static_cast<int>(wideA.size()), wideB.data(),
                                static_cast<int>(wideB.size()), TRUE);
}

// The last part of a path, in UTF-8.
[[nodiscard]] std::string fileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return com::utf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

}  // namespace

std::string executableName(unsigned long processId) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        return {};
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        auto size = static_cast<DWORD>(path.size());
        if (QueryFullProcessImageNameW(process, 0, path.data(), &size) != 0) {
            path.resize(size);
            break;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768) {
            path.clear();
            break;
        }
        path.resize(path.size() * 2);
    }
    CloseHandle(process);
    return fileNameOf(path);
}

std::string identifiedProgram(const std::wstring& sessionIdentifier) {
    const std::size_t start = sessionIdentifier.find(L'|');
    if (start == std::wstring::npos) {
        return {};
    }
    const std::size_t end = sessionIdentifier.find(L"%b", start);
    const std::wstring path = sessionIdentifier.substr(
        start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
    // The system sounds' identifier holds "#", no path.
    return path.find_first_of(L"\\/") == std::wstring::npos ? std::string() : fileNameOf(path);
}

bool sameProgram(const std::string& a, const std::string& b) {
    return compareFileNames(a, b) == CSTR_EQUAL;
}

AudioSessions::AudioSessions(ProcessNameLookup names,
                             std::function<void(const char* call, long result)> note,
                             std::function<void()> sessionCreated)
    : m_names(names ? std::move(names) : ProcessNameLookup(executableName)),
      m_note(std::move(note)),
      m_notification(new SessionCreatedClient(std::move(sessionCreated))) {}

AudioSessions::~AudioSessions() {
    release();
    if (!m_notificationGiven) {
        m_notification->Release();
    }
}

bool AudioSessions::bind(IMMDevice& device) {
    release();
    m_stub = false;
    Ref<IAudioSessionManager2> manager;
    HRESULT result = device.Activate(__uuidof(IAudioSessionManager2), CLSCTX_INPROC_SERVER, nullptr,
                                     manager.outVoid());
    if (FAILED(result)) {
        failed("Activate(IAudioSessionManager2)", result, true);
        m_stub = result == E_NOINTERFACE || result == E_NOTIMPL;
        return false;
    }
    // Registered before the sessions are listed, as Microsoft documents: a session created in
    // between is then told rather than missed; and Windows holds back the news of new sessions
    // until the existing ones have been counted once.
    result = manager->RegisterSessionNotification(m_notification);
    m_notificationGiven = m_notificationGiven || SUCCEEDED(result);
    if (FAILED(result)) {
        failed("RegisterSessionNotification", result, true);
        return false;
    }
    Ref<IAudioSessionEnumerator> existing;
    result = manager->GetSessionEnumerator(existing.out());
    int count = 0;
    if (SUCCEEDED(result)) {
        result = existing->GetCount(&count);
    }
    if (FAILED(result)) {
        manager->UnregisterSessionNotification(m_notification);
        failed("GetSessionEnumerator", result, true);
        m_stub = result == E_NOTIMPL;
        return false;
    }
    m_manager = std::move(manager);
    m_registered = true;
    return true;
}

void AudioSessions::release() {
    if (m_registered) {
        m_manager->UnregisterSessionNotification(m_notification);
        m_registered = false;
    }
    m_manager.reset();
}

std::optional<std::vector<AudioSessions::Session>> AudioSessions::sessionsOf(
    IAudioSessionManager2& manager, bool bound) {
    Ref<IAudioSessionEnumerator> all;
    HRESULT result = manager.GetSessionEnumerator(all.out());
    int count = 0;
    if (SUCCEEDED(result)) {
        result = all->GetCount(&count);
    }
    if (FAILED(result)) {
        failed("GetSessionEnumerator", result, bound);
        return std::nullopt;
    }
    const DWORD self = GetCurrentProcessId();
    std::vector<Session> found;
    for (int i = 0; i < count; ++i) {
        const char* call = "GetSession";
        Ref<IAudioSessionControl> control;
        result = all->GetSession(i, control.out());
        Ref<IAudioSessionControl2> control2;
        if (SUCCEEDED(result)) {
            call = "QueryInterface(IAudioSessionControl2)";
            result = control->QueryInterface(__uuidof(IAudioSessionControl2), control2.outVoid());
        }
        AudioSessionState state = AudioSessionStateInactive;
        if (SUCCEEDED(result)) {
            call = "GetState";
            result = control2->GetState(&state);
        }
        DWORD processId = 0;
        if (SUCCEEDED(result)) {
            call = "GetProcessId";
            result = control2->GetProcessId(&processId);
        }
        if (result == AUDCLNT_E_SERVICE_NOT_RUNNING) {
            failed(call, result, bound);
            return std::nullopt;
        }
        if (FAILED(result)) {
            // One session that fails is no reason to leave the chosen program's sessions unset,
            // nor to rebuild the output at every call.
            failed(call, result, false);
            continue;
        }
        if (processId == self || control2->IsSystemSoundsSession() == S_OK) {
            continue;
        }
        // An expired session's process may have ended, and its id be another program's now: it
        // is named by its identifier, which needs no living process.
        const bool expired = state == AudioSessionStateExpired;
        std::string program;
        if (expired) {
            LPWSTR identifier = nullptr;
            if (SUCCEEDED(control2->GetSessionIdentifier(&identifier)) && identifier != nullptr) {
                program = identifiedProgram(identifier);
            }
            CoTaskMemFree(identifier);
        } else if (processId != 0) {
            program = m_names(processId);
        }
        if (!program.empty()) {
            found.push_back({std::move(program), expired, std::move(control2)});
        }
    }
    return found;
}

std::optional<std::vector<std::string>> AudioSessions::programs() {
    m_outputLost = false;
    if (!m_manager) {
        return std::nullopt;
    }
    std::optional<std::vector<Session>> all = sessionsOf(*m_manager.get(), true);
    if (!all) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (const Session& session : *all) {
        if (!session.expired) {
            names.push_back(session.program);
        }
    }
    // Case-insensitively first, so that spellings of one program meet and the first is kept.
    const auto before = [](const std::string& a, const std::string& b) {
        const int order = compareFileNames(a, b);
        return order == CSTR_LESS_THAN || (order == CSTR_EQUAL && a < b);
    };
    std::sort(names.begin(), names.end(), before);
    names.erase(std::unique(names.begin(), names.end(), sameProgram), names.end());
    return names;
}

std::optional<int> AudioSessions::setVolume(const std::string& program, float level,
                                            const GUID& context) {
    m_outputLost = false;
    if (!m_manager) {
        return std::nullopt;
    }
    return setVolumeOf(*m_manager.get(), true, program, level, context);
}

std::optional<int> AudioSessions::setVolumeOn(IMMDevice& device, const std::string& program,
                                              float level, const GUID& context) {
    Ref<IAudioSessionManager2> manager;
    const HRESULT result = device.Activate(__uuidof(IAudioSessionManager2), CLSCTX_INPROC_SERVER,
                                           nullptr, manager.outVoid());
    if (FAILED(result)) {
        failed("Activate(IAudioSessionManager2)", result, false);
        return std::nullopt;
    }
    return setVolumeOf(*manager.get(), false, program, level, context);
}

std::optional<int> AudioSessions::setVolumeOf(IAudioSessionManager2& manager, bool bound,
                                              const std::string& program, float level,
                                              const GUID& context) {
    std::optional<std::vector<Session>> all = sessionsOf(manager, bound);
    if (!all) {
        return std::nullopt;
    }
    int taken = 0;
    bool refused = false;
    for (const Session& session : *all) {
        if (!sameProgram(session.program, program)) {
            continue;
        }
        Ref<ISimpleAudioVolume> volume;
        HRESULT result =
            session.control->QueryInterface(__uuidof(ISimpleAudioVolume), volume.outVoid());
        if (SUCCEEDED(result)) {
            result = volume->SetMasterVolume(level, &context);
        }
        if (SUCCEEDED(result)) {
            ++taken;
            continue;
        }
        failed("SetMasterVolume", result, bound && result == AUDCLNT_E_SERVICE_NOT_RUNNING);
        refused = refused || !sessionGone(result);
    }
    return refused ? std::nullopt : std::optional(taken);
}

void AudioSessions::failed(const char* call, HRESULT result, bool outputLost) {
    m_outputLost = m_outputLost || outputLost;
    if (m_note) {
        m_note(call, result);
    }
}

}  // namespace hushwell
