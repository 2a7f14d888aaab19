#include "app/CrashGuard.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <iterator>
#include <system_error>
#include <thread>
#include <vector>

#include "app/MixerLog.h"
#include "mixer/MixerChoice.h"
#include "platform/ProgramPaths.h"
#include "platform/SystemError.h"

#ifdef _WIN32
#include <windows.h>
#include <QWinEventNotifier>

#include <cwchar>
#else
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;
#endif

namespace hushwell {
namespace {

using Message = CrashGuard::Message;
using namespace std::chrono_literals;

// How long the guard tries to reach a sound server that is away (a restart, a resume from
// sleep), and how long it pauses between tries.
constexpr auto kTrying = 60s;
constexpr auto kPause = 250ms;

// A guard that could not be started is tried again after this pause, doubled after each failure
// up to the longest: a system out of processes gets a few spare moments, never a storm of forks.
// A guard that ends sooner than kSettled after its start ended as it started (it could not run:
// an exec that failed, say) and counts as a failed start.
constexpr std::chrono::milliseconds kFirstRetry = 500ms;
constexpr std::chrono::milliseconds kLongestRetry = 30s;
constexpr auto kSettled = 5s;

// "0.5 s", "30 s".
std::string inSeconds(std::chrono::milliseconds pause) {
    const auto count = pause.count();
    return std::to_string(count / 1000) +
           (count % 1000 != 0 ? "." + std::to_string(count % 1000 / 100) : "") + " s";
}

volatile std::sig_atomic_t g_ending = 0;  // the guard was asked to end: one last try

std::int64_t thisProcess() {
#ifdef _WIN32
    return static_cast<std::int64_t>(GetCurrentProcessId());
#else
    return static_cast<std::int64_t>(getpid());
#endif
}

}  // namespace

PutBack putBackOn(MasterVolume& volume, const CrashGuard::Message& last, std::int32_t value) {
    const std::string name = last.loweredName();
    if (name.empty()) {
        return volume.set(value) ? PutBack::Done : PutBack::NotTaken;
    }
    std::optional<int> streams;
    if (last.loweredWhole()) {
        streams = volume.setProgram(name, value);
    } else {
        streams = 0;
        for (const std::string& program : volume.playingPrograms()) {
            if (program.compare(0, name.size(), name) == 0) {
                const std::optional<int> set = volume.setProgram(program, value);
                streams = set && streams ? std::optional(*streams + *set) : std::nullopt;
            }
        }
    }
    if (!streams) {
        return PutBack::NotTaken;
    }
    return *streams > 0 ? PutBack::Done : PutBack::NothingPlaying;
}

namespace {

// Puts the Up value back through a mixer of the guard's own, connecting afresh on every try,
// until it lands, the time is up, or the guard is asked to end. The guard's mixer may not be the
// one the program had (a server that was slow when the program started, and is not now): the
// value goes over in the guard's own scale.
int putBack(const Message& last) {
    // The provider that held the volume, and no other: one that opens while the program's is
    // away (winmm while Windows' audio service restarts, ALSA while PulseAudio does) would set a
    // volume that is not the one held down, and the guard would end content.
    std::vector<MixerProvider> providers = platformProviders();
    if (last.provider >= 0 && static_cast<std::size_t>(last.provider) < providers.size()) {
        providers = {providers[static_cast<std::size_t>(last.provider)]};
    }
    const auto until = std::chrono::steady_clock::now() + kTrying;
    for (;;) {
        {
            FirstThatOpens volume(providers,
                                  [](const std::string& line) { logMixerCall("guard: " + line); });
            const std::optional<std::int32_t> scale =
                volume.open() ? volume.locate() : std::nullopt;
            const PutBack done =
                scale ? putBackOn(volume, last, rescaled(last.upValue, last.scale, *scale))
                      : PutBack::NotTaken;
            if (done != PutBack::NotTaken) {
                if (done == PutBack::Done) {
                    HeldRecord().releaseHeldBy(last.program);
                }
                return 0;
            }
        }
        if (g_ending != 0 || std::chrono::steady_clock::now() >= until) {
            return 1;
        }
        std::this_thread::sleep_for(kPause);
    }
}

// The guard's whole life: it waits for what the program tells it; when the program is gone while
// the volume was held, it puts the Up value back.
template <typename Read>
int guard(Read read) {
    Message last{};
    Message message{};
    while (read(message)) {
        last = message;
    }
    return last.held != 0 ? putBack(last) : 0;
}

}  // namespace

#ifdef _WIN32

namespace {

constexpr const wchar_t* kGuardVariable = L"HUSHWELL_GUARD";

}  // namespace

std::optional<int> CrashGuard::runIfGuard() {
    wchar_t value[32] = {};
    if (GetEnvironmentVariableW(kGuardVariable, value, 32) == 0) {
        return std::nullopt;
    }
    const auto pipe =
        reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(value, nullptr, 10)));
    // The program's writes never wait, so a message may come in parts: only a failed read means
    // the program is gone.
    return guard([pipe](Message& message) {
        auto* bytes = reinterpret_cast<char*>(&message);
        DWORD have = 0;
        while (have < sizeof message) {
            DWORD read = 0;
            if (ReadFile(pipe, bytes + have, static_cast<DWORD>(sizeof message - have), &read,
                         nullptr) == 0) {
                return false;
            }
            have += read;
        }
        return true;
    });
}

// The guard is this program again, told by an environment variable which inherited handle is
// its end of the pipe; the program's end is not inherited, so when the program is gone the read
// fails at once. The guard reads nothing from the program's standard input and writes nothing to
// its output; its log goes where the program's does.
std::string CrashGuard::spawn() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return "CreatePipe: error " + std::to_string(GetLastError());
    }
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    // A write never waits for a guard that reads nothing: what the pipe cannot hold waits here.
    DWORD mode = PIPE_NOWAIT;
    SetNamedPipeHandleState(writeEnd, &mode, nullptr, nullptr);
    const std::wstring exe = ProgramPaths::executable().wstring();
    std::wstring command = L"\"" + exe + L"\"";
    SetEnvironmentVariableW(kGuardVariable,
                            std::to_wstring(reinterpret_cast<std::uintptr_t>(readEnd)).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = nullptr;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (startup.hStdError != nullptr && startup.hStdError != INVALID_HANDLE_VALUE) {
        SetHandleInformation(startup.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    const DWORD error = GetLastError();
    SetEnvironmentVariableW(kGuardVariable, nullptr);
    CloseHandle(readEnd);
    if (!started) {
        CloseHandle(writeEnd);
        return "CreateProcess: error " + std::to_string(error);
    }
    CloseHandle(process.hThread);
    m_pipe = reinterpret_cast<std::intptr_t>(writeEnd);
    m_process = reinterpret_cast<std::intptr_t>(process.hProcess);
    m_unsent.clear();
    auto* notifier = new QWinEventNotifier(process.hProcess, this);
    connect(notifier, &QWinEventNotifier::activated, this,
            [this, generation = ++m_generation] { replaceIfGone(generation); });
    m_notifier = notifier;
    return {};
}

bool CrashGuard::send(const Message& message) {
    // The rest of a message the pipe took only part of goes first; a whole one not yet begun
    // gives way to the newer.
    m_unsent.resize(m_unsent.size() % sizeof message);
    m_unsent.append(reinterpret_cast<const char*>(&message), sizeof message);
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(m_pipe), m_unsent.data(),
                   static_cast<DWORD>(m_unsent.size()), &written, nullptr)) {
        return false;  // the guard is gone
    }
    m_unsent.erase(0, written);
    return true;
}

void CrashGuard::closeGuard() {
    if (m_notifier != nullptr) {
        static_cast<QWinEventNotifier*>(m_notifier)->setEnabled(false);
        m_notifier->deleteLater();  // it may be the one that is calling
        m_notifier = nullptr;
    }
    if (m_pipe != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(m_pipe));
        m_pipe = -1;
    }
    if (m_process != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(m_process));
        m_process = -1;
    }
}

#else

namespace {

constexpr const char* kGuardVariable = "HUSHWELL_GUARD";
constexpr int kGuardDescriptor = 3;  // the guard's end of the socket, in the guard

// Asked to end: the program's own orderly end (when it was asked too) and then one last try get
// this long, then SIGALRM ends the guard.
void onTerminate(int) {
    g_ending = 1;
    alarm(10);
}

// Closes every descriptor from `first` on: close_range() where the kernel has it (5.9 and later,
// and not refused by a seccomp filter), else one by one. Only calls that are safe after fork().
void closeFrom(int first, long openMax) {
    if (close_range(static_cast<unsigned>(first), ~0U, 0) == 0) {
        return;
    }
    for (long fd = first; fd < openMax; ++fd) {
        close(static_cast<int>(fd));
    }
}

}  // namespace

std::optional<int> CrashGuard::runIfGuard() {
    const char* value = std::getenv(kGuardVariable);
    if (value == nullptr || std::strcmp(value, "3") != 0) {
        return std::nullopt;
    }
    unsetenv(kGuardVariable);
    prctl(PR_SET_NAME, "hushwell guard");  // what a process list shows for it
    // The terminal's signals that end the program do not end the guard; SIGTERM ends it after
    // the program's end and one last try, or at the alarm.
    for (int number : {SIGINT, SIGHUP, SIGPIPE}) {
        std::signal(number, SIG_IGN);
    }
    struct sigaction terminate {};
    terminate.sa_handler = onTerminate;
    sigaction(SIGTERM, &terminate, nullptr);
    return guard([](Message& message) {
        for (;;) {
            const ssize_t got = recv(kGuardDescriptor, &message, sizeof message, 0);
            if (got == static_cast<ssize_t>(sizeof message)) {
                return true;
            }
            if (got < 0 && errno == EINTR) {
                continue;  // SIGTERM: the program, if it got one too, is ending; wait for it
            }
            return false;
        }
    });
}

// The guard is this program again, started anew (fork and exec: safe in a process with threads)
// and forked twice, so that it is nobody's child to wait for, in a session of its own, so that
// the terminal's signals that end the program do not end it first. It keeps nothing of the
// program's but its end of the socket and the log: standard input and output are the null
// device, and so is standard error where that is a terminal (the guard outlives the shell's job).
// The first child's exit status is the second fork's errno: a guard that could not be forked is
// told from one that was.
std::string CrashGuard::spawn() {
    const auto failed = [](const char* call, int error) {
        return std::string(call) + ": " + errnoText(error);
    };
    int ends[2];
    // Messages keep their bounds: one that does not fit whole is not sent at all.
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        return failed("socketpair", errno);
    }
    // Everything the child needs is made before fork(): after it, only async-signal-safe calls.
    std::vector<std::string> variables{std::string(kGuardVariable) + "=3"};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "HUSHWELL_GUARD=", 15) != 0) {
            variables.emplace_back(*entry);
        }
    }
    std::vector<char*> environment;
    environment.reserve(variables.size() + 1);
    for (std::string& variable : variables) {
        environment.push_back(variable.data());
    }
    environment.push_back(nullptr);
    char name[] = "hushwell";
    char* arguments[] = {name, nullptr};
    const long openMax = sysconf(_SC_OPEN_MAX);
    const bool errorIsTerminal = isatty(2) != 0;
    int (*const forkNow)() =
        m_system.fork != nullptr ? m_system.fork : +[] { return static_cast<int>(fork()); };

    const pid_t child = forkNow();
    const int forkError = errno;
    if (child == 0) {
        const pid_t guard = forkNow();
        if (guard != 0) {
            _exit(guard > 0 ? 0 : errno != 0 ? errno : EAGAIN);
        }
        setsid();
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        if (errorIsTerminal) {
            dup2(null, 2);
        }
        if (ends[1] == kGuardDescriptor) {
            fcntl(kGuardDescriptor, F_SETFD, 0);
        } else {
            dup2(ends[1], kGuardDescriptor);
        }
        closeFrom(kGuardDescriptor + 1, openMax);
        execve("/proc/self/exe", arguments, environment.data());
        _exit(127);
    }
    close(ends[1]);
    if (child < 0) {
        close(ends[0]);
        return failed("fork", forkError);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        close(ends[0]);
        return WIFEXITED(status) ? failed("fork", WEXITSTATUS(status))
                                 : std::string("fork: its first child was killed");
    }
    m_pipe = ends[0];
    // The guard never writes: the socket turns readable when the guard is gone.
    auto* notifier = new QSocketNotifier(static_cast<qintptr>(m_pipe), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this,
            [this, generation = ++m_generation] { replaceIfGone(generation); });
    m_notifier = notifier;
    return {};
}

// Never waits: a guard that reads nothing (stopped in a debugger, say) must not hold the mixer.
// What it misses then, the next message repeats whole.
bool CrashGuard::send(const Message& message) {
    if (::send(static_cast<int>(m_pipe), &message, sizeof message, MSG_NOSIGNAL | MSG_DONTWAIT) <
        0) {
        return errno == EAGAIN || errno == EWOULDBLOCK;  // otherwise the guard is gone
    }
    return true;
}

void CrashGuard::closeGuard() {
    if (m_notifier != nullptr) {
        static_cast<QSocketNotifier*>(m_notifier)->setEnabled(false);
        m_notifier->deleteLater();  // it may be the one that is calling
        m_notifier = nullptr;
    }
    if (m_pipe != -1) {
        close(static_cast<int>(m_pipe));
        m_pipe = -1;
    }
}

#endif

void CrashGuard::Message::setLowered(const std::string& name) {
    loweredLength = static_cast<std::int32_t>(std::min<std::size_t>(name.size(), INT32_MAX));
    std::fill(std::begin(lowered), std::end(lowered), '\0');
    std::copy_n(name.begin(), std::min(name.size(), sizeof lowered), std::begin(lowered));
}

bool CrashGuard::Message::loweredWhole() const {
    return loweredLength >= 0 && static_cast<std::size_t>(loweredLength) <= sizeof lowered;
}

std::string CrashGuard::Message::loweredName() const {
    if (loweredLength <= 0) {
        return {};
    }
    return {lowered, std::min(static_cast<std::size_t>(loweredLength), sizeof lowered)};
}

CrashGuard::CrashGuard(std::function<void()> replaced)
    : CrashGuard(std::move(replaced), System{}) {}

CrashGuard::CrashGuard(std::function<void()> replaced, System system)
    : m_replaced(std::move(replaced)), m_system(std::move(system)) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { start(true); });
    connect(this, &CrashGuard::lost, this, &CrashGuard::replaceIfGone, Qt::QueuedConnection);
    start(false);
}

CrashGuard::~CrashGuard() {
    const std::lock_guard lock(m_mutex);
    closeGuard();
}

void CrashGuard::start(bool tellRecord) {
    std::string failed;
    {
        const std::lock_guard lock(m_mutex);
        failed = spawn();
    }
    if (!failed.empty()) {
        retryLater("could not be started (" + failed + ")");
        return;
    }
    m_startedAt = std::chrono::steady_clock::now();
    if (m_failures > 0) {
        logMixerCall("guard: started: the volume has a guard again");
    }
    if (tellRecord) {
        m_replaced();
    }
}

void CrashGuard::retryLater(const std::string& why) {
    const std::chrono::milliseconds pause = std::min<std::chrono::milliseconds>(
        kFirstRetry * (1 << std::min(m_failures, 16)), kLongestRetry);
    ++m_failures;
    logMixerCall("guard: " + why + ": the volume has no guard; next try in " + inSeconds(pause));
    if (m_system.later) {
        m_system.later(pause, [this] { start(true); });
    } else {
        m_retry.start(pause);
    }
}

// Both the notifier and a failed send report a guard that is gone: only the first report about
// a guard replaces it, so that a later one does not end the new guard, nor start a second try.
void CrashGuard::replaceIfGone(unsigned generation) {
    {
        const std::lock_guard lock(m_mutex);
        if (generation != m_generation || m_pipe == -1) {
            return;
        }
        closeGuard();
    }
    if (std::chrono::steady_clock::now() - m_startedAt < kSettled) {
        retryLater("ended soon after its start");
        return;
    }
    m_failures = 0;
    start(true);
}

void CrashGuard::onRecordProblem(std::function<void(const std::string&)> tell) {
    const std::lock_guard lock(m_mutex);
    m_recordProblem = std::move(tell);
}

void CrashGuard::tell(std::int32_t upValue, std::int32_t scale, bool held, int provider,
                      const std::string& program, const std::vector<std::string>& owed) {
    const std::lock_guard lock(m_mutex);
    if (held || !owed.empty()) {
        const std::optional<std::string> problem =
            m_record.write({upValue, scale, thisProcess(), program, owed, held});
        if (problem && m_recordProblem) {
            m_recordProblem(*problem);
            m_recordProblem = nullptr;  // once: the record is tried again at each change
        }
    } else {
        m_record.remove();
    }
    Message message;
    message.upValue = upValue;
    message.scale = scale;
    message.held = held ? 1 : 0;
    message.provider = provider;
    message.program = thisProcess();
    message.setLowered(program);
    if (m_pipe != -1 && !send(message)) {
        // Gone: on the window's thread, a new guard takes its place and is told the record.
        emit lost(m_generation);
    }
}

}  // namespace hushwell
