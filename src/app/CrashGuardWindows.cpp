#include "app/CrashGuard.h"

#include <windows.h>
#include <QWinEventNotifier>

#include <cstdint>
#include <cwchar>
#include <string>

#include "platform/ProgramPaths.h"

namespace hushwell {

namespace {

constexpr const wchar_t* kGuardVariable = L"HUSHWELL_GUARD";

}  // namespace

std::int64_t CrashGuard::thisProcessId() {
    return static_cast<std::int64_t>(GetCurrentProcessId());
}

std::optional<int> CrashGuard::runIfGuard() {
    wchar_t value[32] = {};
    if (GetEnvironmentVariableW(kGuardVariable, value, 32) == 0) {
        return std::nullopt;
    }
    const auto pipe =
        reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(value, nullptr, 10)));
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
    // Out of the job this program may run in (a launcher's, which ends its processes together),
    // where the job lets it go: a job that does not refuses the start, which is then made in it.
    BOOL inJob = FALSE;
    const bool breakAway = IsProcessInJob(GetCurrentProcess(), nullptr, &inJob) && inJob;
    BOOL started = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW | (breakAway ? CREATE_BREAKAWAY_FROM_JOB : 0),
                                  nullptr, nullptr, &startup, &process);
    if (!started && breakAway && GetLastError() == ERROR_ACCESS_DENIED) {
        started = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    }
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

}  // namespace hushwell
