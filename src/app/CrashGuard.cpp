#include "app/CrashGuard.h"

#include <string>

#include "app/MixerLog.h"
#include "mixer/MixerChoice.h"

#ifdef _WIN32
#include <windows.h>

#include <cwchar>
#else
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace hushwell {
namespace {

// What the program tells its guard: the Up value in the program's scale, and what the guard is
// to do with it.
struct Message {
    std::int32_t upValue = 0;
    std::int32_t scale = 0;
    std::int32_t state = 0;
};
constexpr std::int32_t kUp = 0;         // the volume is at the Up value: nothing to put back
constexpr std::int32_t kHeld = 1;       // held away from it: put it back if the program vanishes
constexpr std::int32_t kStandDown = 2;  // the program ends in order: the guard ends too

// The guard's whole life: it waits for what the program tells it; when the program is gone
// without standing it down while the volume was held, it puts the Up value back.
template <typename Read>
int guard(Read read) {
    Message last{};
    Message message{};
    while (read(message)) {
        if (message.state == kStandDown) {
            return 0;
        }
        last = message;
    }
    if (last.state == kHeld) {
        FirstThatOpens volume(platformProviders(),
                              [](const std::string& line) { logMixerCall("guard: " + line); });
        // The guard's mixer may not be the one the program had (a server that was slow when
        // the program started, and is not now): the value goes over in the guard's own scale.
        const std::optional<std::int32_t> scale = volume.open() ? volume.locate() : std::nullopt;
        if (scale) {
            (void)volume.set(rescaled(last.upValue, last.scale, *scale));
        }
    }
    return 0;
}

#ifdef _WIN32

constexpr const wchar_t* kGuardVariable = L"HUSHWELL_GUARD";

void inheritable(HANDLE handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
}

#endif

}  // namespace

#ifdef _WIN32

// The guard is this program again, told by an environment variable which inherited handle is
// its end of the pipe; the program's end is not inherited, so when the program is gone the read
// fails at once.
CrashGuard::CrashGuard(MasterVolume& volume) : m_volume(volume) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return;
    }
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    std::wstring exe(32768, L'\0');
    exe.resize(GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size())));
    std::wstring command = L"\"" + exe + L"\"";
    SetEnvironmentVariableW(kGuardVariable,
                            std::to_wstring(reinterpret_cast<std::uintptr_t>(readEnd)).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        inheritable(handle);  // the guard writes its log where the program does
    }
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(kGuardVariable, nullptr);
    CloseHandle(readEnd);
    if (!started) {
        CloseHandle(writeEnd);
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    m_pipe = reinterpret_cast<std::intptr_t>(writeEnd);
}

std::optional<int> CrashGuard::runIfGuard() {
    wchar_t value[32] = {};
    if (GetEnvironmentVariableW(kGuardVariable, value, 32) == 0) {
        return std::nullopt;
    }
    const auto pipe =
        reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(value, nullptr, 10)));
    return guard([pipe](Message& message) {
        DWORD read = 0;
        return ReadFile(pipe, &message, sizeof message, &read, nullptr) != 0 &&
               read == sizeof message;
    });
}

namespace {

void send(std::intptr_t pipe, const Message& message) {
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(pipe), &message, sizeof message, &written, nullptr);
}

void closePipe(std::intptr_t pipe) {
    CloseHandle(reinterpret_cast<HANDLE>(pipe));
}

}  // namespace

#else

// The guard is forked twice, so that it is nobody's child to wait for, and in a session of its
// own, so that the terminal's signals that end the program do not end it first.
CrashGuard::CrashGuard(MasterVolume& volume) : m_volume(volume) {
    int ends[2];
    // Messages keep their bounds: one that does not fit whole is not sent at all.
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        if (fork() != 0) {
            _exit(0);
        }
        setsid();
        prctl(PR_SET_NAME, "hushwell guard");  // what a process list shows for it
        for (int number : {SIGINT, SIGHUP, SIGTERM, SIGPIPE}) {
            std::signal(number, SIG_IGN);
        }
        // Nothing of the program's but the log: no socket of its may outlive it here.
        close_range(3, static_cast<unsigned>(ends[1]) - 1, 0);
        close_range(static_cast<unsigned>(ends[1]) + 1, ~0U, 0);
        _exit(guard([fd = ends[1]](Message& message) {
            return recv(fd, &message, sizeof message, 0) == sizeof message;
        }));
    }
    close(ends[1]);
    if (child < 0) {
        close(ends[0]);
        return;
    }
    waitpid(child, nullptr, 0);
    m_pipe = ends[0];
}

std::optional<int> CrashGuard::runIfGuard() {
    return std::nullopt;
}

namespace {

// Never waits: a guard that reads nothing (stopped in a debugger, say) must not hold the window.
// What it misses then, the next message repeats whole.
void send(std::intptr_t pipe, const Message& message) {
    (void)::send(static_cast<int>(pipe), &message, sizeof message, MSG_NOSIGNAL | MSG_DONTWAIT);
}

void closePipe(std::intptr_t pipe) {
    close(static_cast<int>(pipe));
}

}  // namespace

#endif

CrashGuard::~CrashGuard() {
    if (m_pipe != -1) {
        closePipe(m_pipe);
    }
}

std::optional<std::int32_t> CrashGuard::locate() {
    const std::optional<std::int32_t> scale = m_volume.locate();
    m_scale = scale.value_or(0);
    return scale;
}

void CrashGuard::tell(std::int32_t state) {
    if (m_pipe != -1) {
        send(m_pipe, {m_upValue, m_scale, state});
    }
}

bool CrashGuard::set(std::int32_t value) {
    m_asked = value;
    tell(value != m_upValue ? kHeld : kUp);
    return m_volume.set(value);
}

void CrashGuard::setUpValue(std::int32_t value) {
    m_upValue = value;
    tell(m_asked && *m_asked != value ? kHeld : kUp);
    m_volume.setUpValue(value);
}

void CrashGuard::finish() {
    m_volume.finish();
    tell(kStandDown);
}

}  // namespace hushwell
