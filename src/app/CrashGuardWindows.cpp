#include "app/CrashGuard.h"

#include <windows.h>
#include <QWinEventNotifier>

#include <cstdint>
#include <functional>
#include <string>

#include "app/GuardLauncher.h"

namespace hushwell {

namespace {

// A notifier, parented to `owner`, that calls `ended` on its thread once `process` has ended.
QObject* notifyEnd(QObject* owner, std::intptr_t process, std::function<void()> ended) {
    auto* notifier = new QWinEventNotifier(reinterpret_cast<HANDLE>(process), owner);
    QObject::connect(notifier, &QWinEventNotifier::activated, owner, std::move(ended));
    return notifier;
}

void retire(QObject*& notifier) {
    if (notifier != nullptr) {
        static_cast<QWinEventNotifier*>(notifier)->setEnabled(false);
        notifier->deleteLater();  // it may be the one that is calling
        notifier = nullptr;
    }
}

}  // namespace

std::int64_t CrashGuard::thisProcessId() {
    return static_cast<std::int64_t>(GetCurrentProcessId());
}

std::optional<int> CrashGuard::runIfGuard() {
    if (const std::optional<int> launched = runIfGuardLauncher()) {
        return launched;
    }
    const std::optional<std::intptr_t> inherited = inheritedGuardPipe();
    if (!inherited) {
        return std::nullopt;
    }
    const auto pipe = reinterpret_cast<HANDLE>(*inherited);
    // The program's writes never wait, so a message may come in parts: only a failed read means
    // the program is gone.
    return runGuard(
        [pipe](Message& message) {
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
        },
        nullptr);
}

// The guard is this program again, started by a launcher (app/GuardLauncher.h) and told by an
// environment variable which inherited handle is its end of the pipe; the program's end is not
// inherited, so when the program is gone the read fails at once. What the program writes before
// the guard runs waits in the pipe. The guard reads nothing from the program's standard input and
// writes nothing to its output; its log goes where the program's does.
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
    std::string why;
    const std::optional<GuardLauncher> launcher =
        startGuardLauncher(reinterpret_cast<std::intptr_t>(readEnd), why);
    CloseHandle(readEnd);
    if (!launcher) {
        CloseHandle(writeEnd);
        return why;
    }
    m_pipe = reinterpret_cast<std::intptr_t>(writeEnd);
    m_process = launcher->process;
    m_launcherAnswer = launcher->answer;
    m_unsent.clear();
    m_notifier =
        notifyEnd(this, m_process, [this, generation = ++m_generation] { launched(generation); });
    return {};
}

// The launcher has ended: the guard it started is watched in its place; where it started none,
// another try comes later.
void CrashGuard::launched(unsigned generation) {
    std::string failed;
    {
        const std::lock_guard lock(m_mutex);
        if (generation != m_generation || m_launcherAnswer == -1) {
            return;
        }
        const std::optional<std::intptr_t> guard =
            launchedGuard({m_process, m_launcherAnswer}, failed);
        m_process = -1;
        m_launcherAnswer = -1;
        retire(m_notifier);
        if (guard) {
            m_process = *guard;
            m_notifier =
                notifyEnd(this, m_process, [this, generation] { replaceIfGone(generation); });
            return;
        }
        closeGuard();
    }
    retryLater("could not be started (" + failed + ")");
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
    retire(m_notifier);
    if (m_launcherAnswer != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(m_launcherAnswer));
        m_launcherAnswer = -1;
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

}  // namespace hushwell
