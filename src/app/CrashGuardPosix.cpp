#include "app/CrashGuard.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/SystemError.h"

extern char** environ;

namespace hushwell {

namespace {

constexpr const char* kGuardVariable = "HUSHWELL_GUARD";
constexpr int kGuardDescriptor = 3;           // the guard's end of the socket, in the guard
volatile std::sig_atomic_t g_askedToEnd = 0;  // the guard was asked to end: one last try

// Asked to end: the program's own orderly end (when it was asked too) and then one last try get
// this long, then SIGALRM ends the guard.
void onTerminate(int) {
    g_askedToEnd = 1;
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

std::int64_t CrashGuard::thisProcessId() {
    return static_cast<std::int64_t>(getpid());
}

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
    return runGuard(
        [](Message& message) {
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
        },
        &g_askedToEnd);
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

}  // namespace hushwell
