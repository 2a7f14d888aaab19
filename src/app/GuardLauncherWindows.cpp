#include "app/GuardLauncher.h"

#include <windows.h>

#include <cwchar>

#include "platform/ProgramPaths.h"

namespace hushwell {
namespace {

// Which inherited handle is the guard's end of its pipe (in the launcher and the guard), and the
// program's process (in the launcher alone).
constexpr const wchar_t* kGuardVariable = L"HUSHWELL_GUARD";
constexpr const wchar_t* kLauncherVariable = L"HUSHWELL_GUARD_LAUNCHER";

// What the launcher writes on its standard output, the pipe the program reads once it ended.
struct Answer {
    std::uint32_t error = 0;  // a Windows error code, 0 when the guard started
    std::uint64_t guard = 0;  // the guard's process HANDLE, in the program's process
};

[[nodiscard]] HANDLE handleIn(const wchar_t* variable) {
    wchar_t value[32] = {};
    if (GetEnvironmentVariableW(variable, value, 32) == 0) {
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(value, nullptr, 10)));
}

void setHandleIn(const wchar_t* variable, HANDLE handle) {
    SetEnvironmentVariableW(
        variable, handle == nullptr
                      ? nullptr
                      : std::to_wstring(reinterpret_cast<std::uintptr_t>(handle)).c_str());
}

// This program again, without a window and inheriting what is inheritable: `output` is its
// standard output (none: nothing), its errors go where this program's go, it reads no input.
[[nodiscard]] bool startThisProgram(HANDLE output, DWORD flags, PROCESS_INFORMATION& process) {
    const std::wstring exe = ProgramPaths::executable().wstring();
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (startup.hStdError != nullptr && startup.hStdError != INVALID_HANDLE_VALUE) {
        SetHandleInformation(startup.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    return CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW | flags, nullptr, nullptr, &startup, &process) != 0;
}

}  // namespace

std::optional<int> runIfGuardLauncher() {
    const HANDLE program = handleIn(kLauncherVariable);
    if (program == nullptr) {
        return std::nullopt;
    }
    SetEnvironmentVariableW(kLauncherVariable, nullptr);  // the guard is no launcher
    // Neither goes on to the guard: the program's read of the answer ends when the launcher does.
    const HANDLE answer = GetStdHandle(STD_OUTPUT_HANDLE);
    SetHandleInformation(answer, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(program, HANDLE_FLAG_INHERIT, 0);
    // Out of the job the program may run in (a launcher's, which ends its processes together),
    // where the job lets it go: a job that does not refuses the start, which is then made in it.
    BOOL inJob = FALSE;
    const bool breakAway = IsProcessInJob(GetCurrentProcess(), nullptr, &inJob) && inJob;
    PROCESS_INFORMATION guard{};
    bool started = startThisProgram(nullptr, breakAway ? CREATE_BREAKAWAY_FROM_JOB : 0, guard);
    if (!started && breakAway && GetLastError() == ERROR_ACCESS_DENIED) {
        started = startThisProgram(nullptr, 0, guard);
    }
    Answer told;
    if (!started) {
        told.error = GetLastError();
    } else {
        // A guard the program does not learn of ends when the program closes its pipe.
        HANDLE inProgram = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), guard.hProcess, program, &inProgram, SYNCHRONIZE,
                            FALSE, 0) == 0) {
            told.error = GetLastError();
        }
        told.guard = reinterpret_cast<std::uintptr_t>(inProgram);
        CloseHandle(guard.hThread);
        CloseHandle(guard.hProcess);
    }
    DWORD written = 0;
    WriteFile(answer, &told, sizeof told, &written, nullptr);
    return told.error == 0 ? 0 : 1;
}

std::optional<std::intptr_t> inheritedGuardPipe() {
    const HANDLE pipe = handleIn(kGuardVariable);
    return pipe != nullptr ? std::optional(reinterpret_cast<std::intptr_t>(pipe)) : std::nullopt;
}

std::optional<GuardLauncher> startGuardLauncher(std::intptr_t guardPipe, std::string& why) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE answerRead = nullptr;
    HANDLE answerWrite = nullptr;
    if (!CreatePipe(&answerRead, &answerWrite, &inherit, 0)) {
        why = "CreatePipe: error " + std::to_string(GetLastError());
        return std::nullopt;
    }
    SetHandleInformation(answerRead, HANDLE_FLAG_INHERIT, 0);
    // The launcher duplicates the guard's process handle into this process.
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                    PROCESS_DUP_HANDLE, TRUE, 0);
    setHandleIn(kGuardVariable, reinterpret_cast<HANDLE>(guardPipe));
    setHandleIn(kLauncherVariable, self);
    PROCESS_INFORMATION launcher{};
    const bool started = self != nullptr && startThisProgram(answerWrite, 0, launcher);
    const DWORD error = GetLastError();
    setHandleIn(kGuardVariable, nullptr);
    setHandleIn(kLauncherVariable, nullptr);
    CloseHandle(answerWrite);
    if (self != nullptr) {
        CloseHandle(self);
    }
    if (!started) {
        CloseHandle(answerRead);
        why = (self == nullptr ? "DuplicateHandle: error " : "CreateProcess: error ") +
              std::to_string(error);
        return std::nullopt;
    }
    CloseHandle(launcher.hThread);
    return GuardLauncher{reinterpret_cast<std::intptr_t>(launcher.hProcess),
                         reinterpret_cast<std::intptr_t>(answerRead)};
}

std::optional<std::intptr_t> launchedGuard(const GuardLauncher& launcher, std::string& why) {
    Answer told;
    DWORD read = 0;
    const bool answered = ReadFile(reinterpret_cast<HANDLE>(launcher.answer), &told, sizeof told,
                                   &read, nullptr) != 0 &&
                          read == sizeof told;
    CloseHandle(reinterpret_cast<HANDLE>(launcher.answer));
    CloseHandle(reinterpret_cast<HANDLE>(launcher.process));
    if (!answered) {
        why = "the launcher ended without an answer";
        return std::nullopt;
    }
    if (told.error != 0) {
        why = "the launcher: error " + std::to_string(told.error);
        return std::nullopt;
    }
    return static_cast<std::intptr_t>(told.guard);
}

}  // namespace hushwell
