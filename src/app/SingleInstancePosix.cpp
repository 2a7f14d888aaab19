#include "app/SingleInstance.h"

#include "app/MainThreadTasks.h"
#include "app/SoundServerName.h"
#include "platform/ProgramNames.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
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
// session, and one that finds the claim but none of them runs in another session. A thread of
// the copy's own answers each knock on a door at once, whatever the window's thread is doing (a
// slow server holds it at start-up and at the end): "r", the copy comes to the front; "e", the
// copy is ending. The claim itself answers "e" while the copy ends, and nothing before: a start
// from another session waits for the end too.
struct SingleInstance::Listener {
    std::vector<int> sockets;  // the claim, then the doors
    int wake[2] = {-1, -1};    // written to: the answerer leaves
    std::mutex mutex;
    std::function<void()> bringToFront;  // empty until asked, and once the copy is ending
    bool ending = false;
    MainThreadTasks front;  // where bringToFront runs: the application's loop
    std::thread answerer;

    ~Listener() {
        if (answerer.joinable()) {
            (void)!write(wake[1], "x", 1);
            answerer.join();
        }
        for (const int end : wake) {
            if (end >= 0) {
                close(end);
            }
        }
        for (const int socket : sockets) {
            close(socket);
        }
    }

    void answer(std::size_t index);
    void answerKnocks();
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
        name = prefix + "#" + shortDigest(what);
    }
    result.where.sun_family = AF_UNIX;
    std::memcpy(result.where.sun_path, name.data(), name.size());
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    return result;
}

// The claim's name number `index` ("~1" and on for the later ones), and its door for `session`.
std::string claimName(int index) {
    return soundServerName() + (index > 0 ? "~" + std::to_string(index) : "");
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

// How long a start waits for the answer to its knock on a door. The copy's answerer gives it at
// once; a copy of a version before the answer closes the knock without a word.
constexpr auto kAnswerWait = std::chrono::seconds(2);

// What a copy of ours said on a door: "e", it is ending; anything else (a copy that says nothing
// included) counts as answered, the copy asked to the front.
Knock answerOn(int door) {
    pollfd ready{door, POLLIN, 0};
    const auto until = Clock::now() + kAnswerWait;
    int waited = 0;
    while ((waited = poll(&ready, 1,
                          static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               until - Clock::now())
                                               .count()))) < 0 &&
           errno == EINTR) {
    }
    char said = 0;
    if (waited == 1 && recv(door, &said, 1, 0) < 0 && errno == ECONNRESET) {
        return Knock::Gone;  // the copy ended with the knock unanswered
    }
    return said == 'e' ? Knock::Ending : Knock::Answered;
}

// Connects to the process that holds the name, never waiting in the kernel: a local connect
// completes at once into the listener's queue, or fails with EAGAIN while the queue is full, which
// a copy of ours empties quickly and a process that never accepts never does. On a door, a copy of
// ours answers.
Knock knockOn(const Address& name, Clock::time_point deadline, bool door = false) {
    const int other = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (other < 0) {
        return Knock::Foreign;
    }
    Knock result = Knock::Foreign;
    while (true) {
        if (connect(other, name.get(), name.length) == 0) {
            result = !sameUser(other) ? Knock::Foreign : door ? answerOn(other) : Knock::Answered;
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
            const Knock door = knockOn(address(doorName(index, session)), deadline, true);
            if (door == Knock::Answered || door == Knock::Ending) {
                return door;
            }
        }
        if (Clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A copy that ended meanwhile leaves the name to this start; one that is ending says so on
    // its claim, whatever the session.
    const Knock last = knockOn(address(claimName(index)), deadline, true);
    return last == Knock::Gone || last == Knock::Ending ? last : Knock::Elsewhere;
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
    if (const QCoreApplication* app = QCoreApplication::instance()) {
        listener->front.moveToThread(app->thread());  // whichever thread claims
    }
    listener->sockets.push_back(claim);
    // A door that cannot be had (another user's process holds it) leaves starts there a message.
    for (const std::string& session : sessionNames()) {
        if (const int door = listening(address(doorName(index, session))); door >= 0) {
            listener->sockets.push_back(door);
        }
    }
    if (pipe2(listener->wake, O_CLOEXEC) == 0) {
        listener->answerer =
            std::thread([answering = listener.get()] { answering->answerKnocks(); });
    }
    return listener;
}

// Any user can connect to an abstract name: another's knock is closed unanswered, and so is a
// knock on the claim itself (the socket at `index` 0) but while the copy is ending.
void SingleInstance::Listener::answer(std::size_t index) {
    const int asker = accept4(sockets[index], nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (asker < 0) {
        return;
    }
    if (sameUser(asker)) {
        const std::lock_guard lock(mutex);
        if (index > 0 || ending) {
            (void)send(asker, ending ? "e" : "r", 1, MSG_NOSIGNAL);
        }
        if (index > 0 && bringToFront && !ending) {
            front.post(bringToFront);
        }
    }
    close(asker);
}

void SingleInstance::Listener::answerKnocks() {
    std::vector<pollfd> ready;
    for (const int socket : sockets) {
        ready.push_back({socket, POLLIN, 0});
    }
    ready.push_back({wake[0], POLLIN, 0});
    while (true) {
        if (poll(ready.data(), ready.size(), -1) < 0 && errno != EINTR) {
            return;
        }
        if (ready.back().revents != 0) {
            return;
        }
        for (std::size_t i = 0; i + 1 < ready.size(); ++i) {
            if (ready[i].revents != 0) {
                answer(i);
            }
        }
    }
}

void SingleInstance::onAsked(std::function<void()> bringToFront) {
    if (m_listener) {
        const std::lock_guard lock(m_listener->mutex);
        m_listener->bringToFront = std::move(bringToFront);
    }
}

void SingleInstance::beginEnding() {
    if (m_listener) {
        const std::lock_guard lock(m_listener->mutex);
        m_listener->ending = true;
        m_listener->bringToFront = nullptr;
    }
}

}  // namespace hushwell
