#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include <atomic>
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

// A named pipe of this user's session: the first copy creates it as its first instance; a later
// copy connects to it. A thread of the first copy waits for those connections.
struct SingleInstance::Listener {
    std::wstring name;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    std::atomic<bool> stopping{false};
    std::function<void()> bringToFront;
    std::thread waiter;

    void wait() {
        while (!stopping) {
            if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
                if (!stopping) {
                    QMetaObject::invokeMethod(qApp, bringToFront, Qt::QueuedConnection);
                }
            }
            DisconnectNamedPipe(pipe);
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
    auto listener = std::make_unique<Listener>();
    listener->name = pipeName();
    listener->pipe = CreateNamedPipeW(listener->name.c_str(),
                                      PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                      PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 64, 0, nullptr);
    if (listener->pipe != INVALID_HANDLE_VALUE) {
        return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(listener)));
    }
    // Another copy holds the name: knocking is the whole message.
    const HANDLE other =
        CreateFileW(listener->name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        // It holds the name but cannot be reached: rather two copies than none.
        return std::unique_ptr<SingleInstance>(new SingleInstance(nullptr));
    }
    CloseHandle(other);
    return nullptr;
}

void SingleInstance::onAsked(std::function<void()> bringToFront) {
    if (m_listener) {
        m_listener->bringToFront = std::move(bringToFront);
        m_listener->waiter = std::thread([listener = m_listener.get()] { listener->wait(); });
    }
}

SingleInstance::~SingleInstance() {
    if (!m_listener) {
        return;
    }
    m_listener->stopping = true;
    if (m_listener->waiter.joinable()) {
        // Knock once more, so that the waiting thread wakes and sees that it is to stop.
        const HANDLE self = CreateFileW(m_listener->name.c_str(), GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
        if (self != INVALID_HANDLE_VALUE) {
            CloseHandle(self);
        }
        m_listener->waiter.join();
    }
    CloseHandle(m_listener->pipe);
}

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
