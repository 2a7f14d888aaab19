#include "app/SingleInstance.h"

#include "platform/ProgramNames.h"

#include <QCoreApplication>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <mutex>
#include <vector>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <vector>
#endif

namespace hushwell {

namespace {

using Clock = std::chrono::steady_clock;

// How long a start waits, in all, for a holder of the name that cannot take its knock at once
// before it runs as if no copy ran. A copy of ours takes every knock at once on Linux, where only
// a process that never accepts makes a start wait; on Windows its pipe takes one knock at a time,
// and starts that come together wait their turns.
#ifdef _WIN32
constexpr std::chrono::milliseconds kAnswerDeadline{1000};
#else
constexpr std::chrono::milliseconds kAnswerDeadline{250};
#endif

// The names a copy may claim, in order: when another user's process holds one, the copy claims
// the next, and later starts look for it there.
constexpr int kNames = 4;

enum class Knock {
    Answered,   // a copy of this user's holds the name, and has been asked to come to the front
    Elsewhere,  // a copy of this user's holds the name in another graphical session
    Gone,       // nothing holds the name any more
    Foreign,    // held by another user's process, or one that does not answer in time
};

constexpr const char* kElsewhere =
    "Hushwell is already running in another session of yours that uses the same sound server. "
    "Two copies would fight over one volume, so this one does not start. Close Hushwell there "
    "to use it here.";

}  // namespace

#ifdef _WIN32

// A named pipe of this user's session: the first copy creates it as its only instance; a later
// copy connects to it. A thread of the first copy waits for those connections, one at a time.
struct SingleInstance::Listener {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // set: the waiter leaves
    std::mutex mutex;
    std::function<void()> bringToFront;  // empty once the program stops listening
    std::thread waiter;

    ~Listener() {
        SetEvent(stop);
        if (waiter.joinable()) {
            waiter.join();
        }
        CloseHandle(stop);
        CloseHandle(pipe);
    }

    // Waits for the next knock; false when told to stop.
    bool nextKnock(OVERLAPPED& overlapped) {
        ResetEvent(overlapped.hEvent);
        if (ConnectNamedPipe(pipe, &overlapped)) {
            return true;
        }
        switch (GetLastError()) {
            case ERROR_PIPE_CONNECTED:  // knocked before the wait began
            case ERROR_NO_DATA:         // knocked and already gone
                return true;
            case ERROR_IO_PENDING: {
                const HANDLE events[] = {stop, overlapped.hEvent};
                if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
                    return true;
                }
                CancelIo(pipe);
                DWORD ignored = 0;
                GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
                return false;
            }
            default:  // a pipe that cannot wait: rather no more knocks than a spinning thread
                WaitForSingleObject(stop, INFINITE);
                return false;
        }
    }

    // Whether the start that connected knocks: it sends one byte once it has made sure that the
    // pipe is this user's, which it can only do while connected. One that says nothing within a
    // moment is let go.
    bool knocked(OVERLAPPED& overlapped) {
        ResetEvent(overlapped.hEvent);
        char knock = 0;
        DWORD read = 0;
        if (ReadFile(pipe, &knock, 1, &read, &overlapped)) {
            return read == 1;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            return false;  // gone without a word
        }
        const HANDLE events[] = {stop, overlapped.hEvent};
        if (WaitForMultipleObjects(2, events, FALSE, 1000) == WAIT_OBJECT_0 + 1) {
            return GetOverlappedResult(pipe, &overlapped, &read, FALSE) && read == 1;
        }
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &read, TRUE);
        return false;
    }

    void wait() {
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        while (overlapped.hEvent != nullptr && nextKnock(overlapped)) {
            if (knocked(overlapped)) {
                const std::lock_guard lock(mutex);
                if (bringToFront) {
                    QMetaObject::invokeMethod(qApp, bringToFront, Qt::QueuedConnection);
                }
            }
            DisconnectNamedPipe(pipe);
        }
        if (overlapped.hEvent != nullptr) {
            CloseHandle(overlapped.hEvent);
        }
    }
};

namespace {

// The SID of this process' user (empty if it cannot be read), and as text.
class User {
public:
    User() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            return;
        }
        m_sid = tokenUser(token);
        CloseHandle(token);
        wchar_t* text = nullptr;
        if (!m_sid.empty() && ConvertSidToStringSidW(sid(), &text)) {
            m_text = text;
            LocalFree(text);
        }
    }
    [[nodiscard]] PSID sid() const { return const_cast<BYTE*>(m_sid.data()); }
    [[nodiscard]] const std::wstring& text() const { return m_text; }
    [[nodiscard]] bool is(PSID other) const {
        return !m_sid.empty() && other != nullptr && IsValidSid(other) && EqualSid(sid(), other);
    }

    // The user SID of `token`, copied; empty if it cannot be read.
    static std::vector<BYTE> tokenUser(HANDLE token) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> buffer(size);
        if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
            return {};
        }
        const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        std::vector<BYTE> copy(GetLengthSid(sid));
        if (!CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid)) {
            return {};
        }
        return copy;
    }

private:
    std::vector<BYTE> m_sid;
    std::wstring m_text;
};

const User& thisUser() {
    static const User user;
    return user;
}

// Pipe names are one namespace for the whole machine: the name says whose copy, in which session.
std::wstring pipeName(int index) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    const std::string_view id = kProgramId;
    return L"\\\\.\\pipe\\" + std::wstring(id.begin(), id.end()) + L"-" + thisUser().text() + L"-" +
           std::to_wstring(session) + (index > 0 ? L"~" + std::to_wstring(index) : L"");
}

// Whether the pipe at the other end of `pipe` is this user's: created by this user (its owner,
// which no one else can give it) and served by a process that runs as this user.
bool servedByThisUser(HANDLE pipe) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const bool owned = GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                       nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                       thisUser().is(owner);
    LocalFree(descriptor);
    ULONG server = 0;
    if (!owned || !GetNamedPipeServerProcessId(pipe, &server)) {
        return false;
    }
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server);
    HANDLE token = nullptr;
    const bool opened = process != nullptr && OpenProcessToken(process, TOKEN_QUERY, &token);
    std::vector<BYTE> user = opened ? User::tokenUser(token) : std::vector<BYTE>{};
    if (token != nullptr) {
        CloseHandle(token);
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
    return !user.empty() && thisUser().is(user.data());
}

// Connects to the pipe of that name and, if it is this user's, knocks: one byte is the whole
// message. Whoever serves the pipe may learn who knocks, but never act as them: the connection
// allows identification, not impersonation (a pipe server gets impersonation by default).
Knock knock(int index, Clock::time_point deadline) {
    const std::wstring name = pipeName(index);
    while (true) {
        const HANDLE other =
            CreateFileW(name.c_str(), GENERIC_WRITE | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (other != INVALID_HANDLE_VALUE) {
            Knock result = Knock::Foreign;
            DWORD written = 0;
            if (servedByThisUser(other)) {
                result = WriteFile(other, "k", 1, &written, nullptr) && written == 1
                             ? Knock::Answered
                             : Knock::Gone;  // it ended meanwhile
            }
            CloseHandle(other);
            return result;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return Knock::Gone;
        }
        // Busy: the holder answers one knock at a time, or never.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (error != ERROR_PIPE_BUSY || left <= 0) {
            return Knock::Foreign;  // access denied: not this user's pipe
        }
        WaitNamedPipeW(name.c_str(), static_cast<DWORD>(left));
    }
}

}  // namespace

std::unique_ptr<SingleInstance::Listener> SingleInstance::listenOn(int index, bool& taken) {
    taken = false;
    if (thisUser().text().empty()) {
        return nullptr;
    }
    // Only this user may open the pipe, and this user owns it (an elevated process would
    // otherwise give it to the Administrators group, and later starts would not believe it).
    const std::wstring sid = thisUser().text();
    const std::wstring rules = L"O:" + sid + L"D:P(A;;GA;;;" + sid + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(rules.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return nullptr;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    const HANDLE pipe = CreateNamedPipeW(
        pipeName(index).c_str(),
        PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 64, 0, &security);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (pipe == INVALID_HANDLE_VALUE) {
        // The first instance exists already: access denied, or busy with its one instance.
        taken = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
        return nullptr;
    }
    auto listener = std::make_unique<Listener>();
    listener->pipe = pipe;
    return listener;
}

void SingleInstance::onAsked(std::function<void()> bringToFront) {
    if (m_listener && m_listener->stop != nullptr) {
        m_listener->bringToFront = std::move(bringToFront);
        m_listener->waiter = std::thread([listener = m_listener.get()] { listener->wait(); });
    }
}

void SingleInstance::stopListening() {
    if (m_listener) {
        const std::lock_guard lock(m_listener->mutex);
        m_listener->bringToFront = nullptr;
    }
}

#else

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

namespace {

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

// The claim's holder, if it is a copy of ours, is asked to the front through a door of this
// session. A copy binds its doors just after its claim: a start that came between the two looks
// again until the deadline.
Knock knock(int index, Clock::time_point deadline) {
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

std::unique_ptr<SingleInstance::Listener> SingleInstance::listenOn(int index, bool& taken) {
    const int claim = listening(address(claimName(index)));
    taken = claim < 0 && errno == EADDRINUSE;
    if (claim < 0) {
        return nullptr;
    }
    auto listener = std::make_unique<Listener>();
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

#endif

std::unique_ptr<SingleInstance> SingleInstance::claim(std::string* elsewhere) {
    const auto deadline = Clock::now() + kAnswerDeadline;
    const auto unclaimed = [] {
        // Rather two copies than none: this one runs, as if it were alone.
        return std::unique_ptr<SingleInstance>(new SingleInstance(nullptr));
    };
    const auto found = [elsewhere](Knock answer) {
        if (answer == Knock::Elsewhere && elsewhere != nullptr) {
            *elsewhere = kElsewhere;
        }
        return answer == Knock::Answered || answer == Knock::Elsewhere;
    };
    for (int index = 0; index < kNames; ++index) {
        // The holder may end between a failed claim and the knock: then the name is free again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            bool taken = false;
            if (std::unique_ptr<Listener> listener = listenOn(index, taken)) {
                // A copy that started while this name was held by someone else runs on a later
                // one.
                for (int later = index + 1; later < kNames; ++later) {
                    if (found(knock(later, deadline))) {
                        return nullptr;
                    }
                }
                return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(listener)));
            }
            if (!taken) {
                return unclaimed();
            }
            const Knock answer = knock(index, deadline);
            if (found(answer)) {
                return nullptr;
            }
            if (answer == Knock::Foreign) {
                break;
            }
        }
    }
    return unclaimed();
}

SingleInstance::SingleInstance(std::unique_ptr<Listener> listener)
    : m_listener(std::move(listener)) {}

SingleInstance::~SingleInstance() = default;

}  // namespace hushwell
