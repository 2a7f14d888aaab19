#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <mutex>
#include <thread>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#endif

namespace hushwell {

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

    void wait() {
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        while (overlapped.hEvent != nullptr && nextKnock(overlapped)) {
            {
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

std::wstring pipeName() {
    wchar_t user[256] = L"";
    DWORD length = 256;
    GetUserNameW(user, &length);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return L"\\\\.\\pipe\\io.github.hushwell.Hushwell-" + std::to_wstring(session) + L"-" + user;
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim() {
    const std::wstring name = pipeName();
    // The first copy answers one knock at a time: a start that finds it busy waits its turn.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        const HANDLE pipe = CreateNamedPipeW(
            name.c_str(),
            PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
            PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 64, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            auto listener = std::make_unique<Listener>();
            listener->pipe = pipe;
            return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(listener)));
        }
        // Another copy holds the name: knocking is the whole message.
        const HANDLE other =
            CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (other != INVALID_HANDLE_VALUE) {
            CloseHandle(other);
            return nullptr;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_BUSY) {
            WaitNamedPipeW(name.c_str(), 1000);
        } else if (error != ERROR_FILE_NOT_FOUND) {  // not found: it ended, the name is free
            break;
        }
    }
    // It holds the name but cannot be reached: rather two copies than none.
    return std::unique_ptr<SingleInstance>(new SingleInstance(nullptr));
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

SingleInstance::~SingleInstance() = default;

#else

// A socket in the abstract namespace, named for the user and the display: binding it claims it,
// and the kernel lets it go with the process, whatever way it ends. A later copy connects to it.
struct SingleInstance::Listener {
    int socket = -1;
    QPointer<QSocketNotifier> notifier;  // the application's child: it may go first
};

namespace {

sockaddr_un address(socklen_t& length) {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (display == nullptr || *display == '\0') {
        display = std::getenv("DISPLAY");
    }
    const std::string name = std::string(1, '\0') + "io.github.hushwell.Hushwell-" +
                             std::to_string(getuid()) + "-" + (display != nullptr ? display : "");
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    const std::size_t size = std::min(name.size(), sizeof where.sun_path);
    std::memcpy(where.sun_path, name.data(), size);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size);
    return where;
}

enum class Knock { Answered, Gone, Foreign };

// Connects to the process that holds the name. Anyone may bind an abstract name: only one that
// runs as this user is a copy of ours, and has now been asked to come to the front.
Knock knock(const sockaddr_un& where, socklen_t length) {
    const int other = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (other < 0) {
        return Knock::Foreign;
    }
    Knock result = Knock::Foreign;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (connect(other, reinterpret_cast<const sockaddr*>(&where), length) != 0) {
        result = errno == ECONNREFUSED ? Knock::Gone : Knock::Foreign;
    } else if (getsockopt(other, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
               peer.uid == getuid()) {
        result = Knock::Answered;
    }
    close(other);
    return result;
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim() {
    socklen_t length = 0;
    const sockaddr_un where = address(length);
    // The holder may end between a failed bind and the connect: then the name is free again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int own = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (own < 0) {
            break;
        }
        if (bind(own, reinterpret_cast<const sockaddr*>(&where), length) == 0 &&
            listen(own, 4) == 0) {
            auto listener = std::make_unique<Listener>();
            listener->socket = own;
            return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(listener)));
        }
        const bool taken = errno == EADDRINUSE;
        close(own);
        if (!taken) {
            break;
        }
        const Knock answer = knock(where, length);
        if (answer == Knock::Answered) {
            return nullptr;
        }
        if (answer == Knock::Foreign) {
            break;
        }
    }
    // A name that is held but cannot be reached, or is held by someone else: rather two copies
    // than none.
    return std::unique_ptr<SingleInstance>(new SingleInstance(nullptr));
}

void SingleInstance::onAsked(std::function<void()> bringToFront) {
    if (!m_listener) {
        return;
    }
    m_listener->notifier = new QSocketNotifier(m_listener->socket, QSocketNotifier::Read, qApp);
    QObject::connect(m_listener->notifier, &QSocketNotifier::activated, qApp,
                     [socket = m_listener->socket, bringToFront = std::move(bringToFront)] {
                         const int asker = accept4(socket, nullptr, nullptr, SOCK_CLOEXEC);
                         if (asker >= 0) {
                             close(asker);
                             bringToFront();
                         }
                     });
}

void SingleInstance::stopListening() {
    if (m_listener) {
        delete m_listener->notifier;
    }
}

SingleInstance::~SingleInstance() {
    if (m_listener) {
        delete m_listener->notifier;
        close(m_listener->socket);
    }
}

#endif

SingleInstance::SingleInstance(std::unique_ptr<Listener> listener)
    : m_listener(std::move(listener)) {}

}  // namespace hushwell
