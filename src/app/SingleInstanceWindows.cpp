#include "app/SingleInstance.h"

#include "platform/ProgramNames.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <QCoreApplication>
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace hushwell {

// The pipe takes one knock at a time, and starts that come together wait their turns.
std::chrono::milliseconds SingleInstance::answerDeadline() {
    return std::chrono::milliseconds{1000};
}

namespace {

// Waits up to `limit` (or until `stop`, if given, is set) for the read or write of one byte that
// `begun` (what ReadFile or WriteFile returned) started on `pipe`, and cancels one that has not
// finished by then: ERROR_SUCCESS when the byte went through, WAIT_TIMEOUT when time ran out, else
// why it failed (ERROR_BROKEN_PIPE: the other end has gone).
DWORD oneByte(HANDLE pipe, OVERLAPPED& overlapped, BOOL begun, DWORD limit, HANDLE stop = nullptr) {
    if (!begun && GetLastError() != ERROR_IO_PENDING) {
        return GetLastError();
    }
    DWORD moved = 0;
    const HANDLE events[] = {overlapped.hEvent, stop};
    const DWORD waited = WaitForMultipleObjects(stop != nullptr ? 2 : 1, events, FALSE, limit);
    if (waited != WAIT_OBJECT_0) {
        CancelIo(pipe);
    }
    if (!GetOverlappedResult(pipe, &overlapped, &moved, TRUE)) {
        const DWORD error = GetLastError();
        return error == ERROR_OPERATION_ABORTED ? WAIT_TIMEOUT : error;
    }
    return moved == 1 ? ERROR_SUCCESS : ERROR_BROKEN_PIPE;
}

}  // namespace

// A named pipe of this user's session: the first copy creates it as its only instance; a later
// copy connects to it. A thread of the first copy waits for those connections, one at a time,
// and answers each knock at once, whatever the window's thread is doing (a slow server holds it
// at the end): "r", the copy comes to the front; "e", the copy is ending.
struct SingleInstance::Listener {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // set: the waiter leaves
    std::mutex mutex;
    std::function<void()> bringToFront;  // empty once the copy is ending
    bool ending = false;
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

    // Whether the start that connected sends a byte within a moment. Before the answer, that is
    // its knock, which it sends once it has made sure that the pipe is this user's (it can only do
    // that while connected); after the answer, it sends nothing and hangs up, which ends the wait.
    bool heard(OVERLAPPED& overlapped) {
        char said = 0;
        return oneByte(pipe, overlapped, ReadFile(pipe, &said, 1, nullptr, &overlapped), 1000,
                       stop) == ERROR_SUCCESS;
    }

    void wait() {
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // Starts that keep knocking do not hold the waiter once it is told to stop.
        while (overlapped.hEvent != nullptr && WaitForSingleObject(stop, 0) == WAIT_TIMEOUT &&
               nextKnock(overlapped)) {
            if (heard(overlapped)) {
                char answer = 'e';
                {
                    const std::lock_guard lock(mutex);
                    if (!ending) {
                        answer = 'r';
                    }
                    if (bringToFront) {
                        QMetaObject::invokeMethod(qApp, bringToFront, Qt::QueuedConnection);
                    }
                }
                // The answer is read before the pipe is disconnected, which would drop it.
                if (oneByte(pipe, overlapped, WriteFile(pipe, &answer, 1, nullptr, &overlapped),
                            1000, stop) == ERROR_SUCCESS) {
                    (void)heard(overlapped);
                }
            }
            DisconnectNamedPipe(pipe);
        }
        if (overlapped.hEvent != nullptr) {
            CloseHandle(overlapped.hEvent);
        }
    }
};

void SingleInstance::ListenerDeleter::operator()(Listener* listener) const {
    delete listener;
}

namespace {

using Clock = std::chrono::steady_clock;

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

// How long a start waits for the answer to its knock. A copy's waiter gives it at once; a copy
// that has only just started takes its knock once it listens, and comes to the front then.
constexpr DWORD kAnswerWait = 2000;

// Knocks on the pipe of a copy of ours (one byte), and reads its answer.
SingleInstance::Knock answerOf(HANDLE copy) {
    using Knock = SingleInstance::Knock;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return Knock::Foreign;
    }
    char said = 0;
    DWORD done =
        oneByte(copy, overlapped, WriteFile(copy, "k", 1, nullptr, &overlapped), kAnswerWait);
    if (done == ERROR_SUCCESS) {
        done =
            oneByte(copy, overlapped, ReadFile(copy, &said, 1, nullptr, &overlapped), kAnswerWait);
    }
    CloseHandle(overlapped.hEvent);
    if (done == ERROR_SUCCESS || done == WAIT_TIMEOUT) {
        return said == 'e' ? Knock::Ending : Knock::Answered;
    }
    return Knock::Gone;  // it ended meanwhile, the knock unanswered
}

}  // namespace

// Connects to the pipe of that name and, if it is this user's, knocks and reads the answer.
// Whoever serves the pipe may learn who knocks, but never act as them: the connection allows
// identification, not impersonation (a pipe server gets impersonation by default).
SingleInstance::Knock SingleInstance::knock(int index, Clock::time_point deadline) {
    const std::wstring name = pipeName(index);
    while (true) {
        const HANDLE other = CreateFileW(
            name.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (other != INVALID_HANDLE_VALUE) {
            const Knock result = servedByThisUser(other) ? answerOf(other) : Knock::Foreign;
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

SingleInstance::ListenerHandle SingleInstance::listenOn(int index, bool& taken) {
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
        PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 64, 64, 0, &security);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (pipe == INVALID_HANDLE_VALUE) {
        // The first instance exists already: access denied, or busy with its one instance.
        taken = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
        return nullptr;
    }
    ListenerHandle listener(new Listener);
    listener->pipe = pipe;
    return listener;
}

void SingleInstance::onAsked(std::function<void()> bringToFront) {
    if (m_listener && m_listener->stop != nullptr) {
        m_listener->bringToFront = std::move(bringToFront);
        m_listener->waiter = std::thread([listener = m_listener.get()] { listener->wait(); });
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
