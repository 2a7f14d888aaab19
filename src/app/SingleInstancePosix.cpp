#include "app/SingleInstance.h"

#include "platform/ProgramNames.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace hushwell {

// A copy of ours takes every knock at once: only a process that never accepts makes a start
// wait.
std::chrono::milliseconds SingleInstance::answerDeadline() {
    return std::chrono::milliseconds{250};
}

// Sockets in the abstract namespace: the kernel lets them go with the process, whatever way it
// ends. The claim is named for the user and the sound server the copy drives: binding it claims
// it. Beside it the copy listens on a door for each name of its graphical session (the login
// session, the X display, the Wayland display): a later start knocks on the doors of its own
// session, and one that finds the claim but none of them runs in another session.
struct SingleInstance::Listener {
    using Notifier = QPointer<QSocketNotifier>;  // the application's child: it may go first
    std::vector<int> sockets;                    // the claim, then the doors
    std::vector<Notifier> notifiers;

    ~Listener() {
        for (const Notifier& notifier : notifiers) {
            delete notifier;
        }
        for (const int socket : sockets) {
            close(socket);
        }
    }
};

void SingleInstance::ListenerDeleter::operator()(Listener* listener) const {
    delete listener;
}

namespace {

using Clock = std::chrono::steady_clock;
using Knock = SingleInstance::Knock;

struct Address {
    sockaddr_un where{};
    socklen_t length = 0;
    [[nodiscard]] const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&where); }
};

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A path as the file it names, so that two spellings of one socket compare equal.
std::string canonical(const std::string& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    return error ? path : resolved.string();
}

// The PulseAudio server this process would reach (PipeWire serves the same socket), as libpulse
// finds it: PULSE_SERVER (each entry without its machine-id prefix, a socket as the file it
// names), else the socket in PULSE_RUNTIME_PATH, else the one in XDG_RUNTIME_DIR's "pulse";
// empty when none is named, which leaves the user alone to tell the claims apart.
std::string soundServer() {
    if (const std::string servers = variable("PULSE_SERVER"); !servers.empty()) {
        std::istringstream entries(servers);
        std::string result;
        for (std::string entry; entries >> entry;) {
            if (entry.front() == '{' && entry.find('}') != std::string::npos) {
                entry.erase(0, entry.find('}') + 1);
            }
            if (entry.rfind("unix:", 0) == 0) {
                entry.erase(0, 5);
            }
            result +=
                (result.empty() ? "" : " ") + (entry.rfind('/', 0) == 0 ? canonical(entry) : entry);
        }
        return result;
    }
    if (const std::string runtime = variable("PULSE_RUNTIME_PATH"); !runtime.empty()) {
        return canonical(runtime + "/native");
    }
    if (const std::string runtime = variable("XDG_RUNTIME_DIR"); !runtime.empty()) {
        return canonical(runtime + "/pulse/native");
    }
    return {};
}

// The names of this process' graphical session: its login session, its X display (":1.0" and
// "unix:1" are ":1"), its Wayland display (a name is in XDG_RUNTIME_DIR).
std::vector<std::string> sessionNames() {
    std::vector<std::string> names;
    if (const std::string session = variable("XDG_SESSION_ID"); !session.empty()) {
        names.push_back("session " + session);
    }
    if (std::string x = variable("DISPLAY"); !x.empty()) {
        const std::size_t colon = x.rfind(':');
        if (colon != std::string::npos) {
            const std::size_t screen = x.find('.', colon);
            x = (x.compare(0, colon, "unix") == 0 ? "" : x.substr(0, colon)) +
                x.substr(colon, screen == std::string::npos ? std::string::npos : screen - colon);
        }
        names.push_back("x " + x);
    }
    if (const std::string wayland = variable("WAYLAND_DISPLAY"); !wayland.empty()) {
        names.push_back("wayland " + (wayland.front() == '/'
                                          ? wayland
                                          : variable("XDG_RUNTIME_DIR") + "/" + wayland));
    }
    return names;
}

// The abstract name for `what` of this user's: as it reads where it fits, else with `what` as a
// digest (FNV-1a).
Address address(const std::string& what) {
    const std::string prefix =
        std::string(1, '\0') + kProgramId + "-" + std::to_string(getuid()) + "-";
    std::string name = prefix + what;
    Address result;
    if (name.size() > sizeof result.where.sun_path) {
        std::uint64_t digest = 14695981039346656037ULL;
        for (const unsigned char c : what) {
            digest = (digest ^ c) * 1099511628211ULL;
        }
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest));
        name = prefix + "#" + hex;
    }
    result.where.sun_family = AF_UNIX;
    std::memcpy(result.where.sun_path, name.data(), name.size());
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    return result;
}

// The claim's name number `index` ("~1" and on for the later ones), and its door for `session`.
std::string claimName(int index) {
    return soundServer() + (index > 0 ? "~" + std::to_string(index) : "");
}

std::string doorName(int index, const std::string& session) {
    return claimName(index) + "@" + session;
}

// Whether the process at the other end of `socket` runs as this user: for a start, the listener
// as it was when it began to listen; for the listener, the start as it was when it connected.
bool sameUser(int socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == getuid();
}

// Connects to the process that holds the name, never waiting in the kernel: a local connect
// completes at once into the listener's queue, or fails with EAGAIN while the queue is full, which
// a copy of ours empties quickly and a process that never accepts never does.
Knock knockOn(const Address& name, Clock::time_point deadline) {
    const int other = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (other < 0) {
        return Knock::Foreign;
    }
    Knock result = Knock::Foreign;
    while (true) {
        if (connect(other, name.get(), name.length) == 0) {
            result = sameUser(other) ? Knock::Answered : Knock::Foreign;
            break;
        }
        if (errno == ECONNREFUSED) {
            result = Knock::Gone;
            break;
        }
        if ((errno != EAGAIN && errno != EINTR) || Clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    close(other);
    return result;
}

}  // namespace

// The claim's holder, if it is a copy of ours, is asked to the front through a door of this
// session. A copy binds its doors just after its claim: a start that came between the two looks
// again until the deadline.
SingleInstance::Knock SingleInstance::knock(int index, Clock::time_point deadline) {
    const Knock claim = knockOn(address(claimName(index)), deadline);
    if (claim != Knock::Answered) {
        return claim;
    }
    const std::vector<std::string> sessions = sessionNames();
    while (true) {
        for (const std::string& session : sessions) {
            if (knockOn(address(doorName(index, session)), deadline) == Knock::Answered) {
                return Knock::Answered;
            }
        }
        if (Clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A copy that ended meanwhile leaves the name to this start.
    return knockOn(address(claimName(index)), deadline) == Knock::Gone ? Knock::Gone
                                                                       : Knock::Elsewhere;
}

namespace {

// A listening socket on `name`; -1 with errno when it cannot be had.
int listening(const Address& name) {
    const int own = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // A long queue: starts that come together all get in without waiting.
    if (own < 0 || (bind(own, name.get(), name.length) == 0 && listen(own, SOMAXCONN) == 0)) {
        return own;
    }
    const int error = errno;
    close(own);
    errno = error;
    return -1;
}

}  // namespace

SingleInstance::ListenerHandle SingleInstance::listenOn(int index, bool& taken) {
    const int claim = listening(address(claimName(index)));
    taken = claim < 0 && errno == EADDRINUSE;
    if (claim < 0) {
        return nullptr;
    }
    ListenerHandle listener(new Listener);
    listener->sockets.push_back(claim);
    // A door that cannot be had (another user's process holds it) leaves starts there a message.
    for (const std::string& session : sessionNames()) {
        if (const int door = listening(address(doorName(index, session))); door >= 0) {
            listener->sockets.push_back(door);
        }
    }
    return listener;
}

void SingleInstance::onAsked(std::function<void()> bringToFront) {
    if (!m_listener) {
        return;
    }
    const auto raise = std::make_shared<std::function<void()> >(std::move(bringToFront));
    for (std::size_t i = 0; i < m_listener->sockets.size(); ++i) {
        const int socket = m_listener->sockets[i];
        const bool door = i > 0;
        auto* notifier = new QSocketNotifier(socket, QSocketNotifier::Read, qApp);
        m_listener->notifiers.emplace_back(notifier);
        QObject::connect(notifier, &QSocketNotifier::activated, qApp, [socket, door, raise] {
            const int asker = accept4(socket, nullptr, nullptr, SOCK_CLOEXEC);
            if (asker < 0) {
                return;
            }
            // Any user can connect to an abstract name: another's knock is closed unanswered,
            // and so is a knock on the claim itself.
            const bool ours = sameUser(asker);
            close(asker);
            if (ours && door) {
                (*raise)();
            }
        });
    }
}

void SingleInstance::stopListening() {
    if (m_listener) {
        for (const Listener::Notifier& notifier : m_listener->notifiers) {
            delete notifier;
        }
    }
}

}  // namespace hushwell
