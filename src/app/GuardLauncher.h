#pragma once

// Windows: the guard is started by a launcher, a short run of this program that starts the guard
// and ends at once, so that the guard has no living parent. Task Manager lists a program's child
// processes under its entry and may end them with it ("End task"); a guard whose parent has ended
// is listed on its own. The launcher hands the guard's process back to the program, which watches
// it as its own child and replaces it when it is gone.

#include <cstdint>
#include <optional>
#include <string>

namespace hushwell {

// In the launcher: starts the guard, tells the program its process, and gives the launcher's exit
// status; nothing at once anywhere else.
[[nodiscard]] std::optional<int> runIfGuardLauncher();

// In the guard: its end of the pipe from the program (a HANDLE); nothing anywhere else.
[[nodiscard]] std::optional<std::intptr_t> inheritedGuardPipe();

// In the program: a launcher under way, its process and the read end of its answer (HANDLEs).
struct GuardLauncher {
    std::intptr_t process = -1;
    std::intptr_t answer = -1;
};

// Starts a launcher, which gives the guard `guardPipe` (an inheritable HANDLE) as its end of the
// pipe; nothing, with `why` saying what failed, where it could not be started.
[[nodiscard]] std::optional<GuardLauncher> startGuardLauncher(std::intptr_t guardPipe,
                                                              std::string& why);

// Once the launcher has ended: the guard's process (a HANDLE of this process, to wait on), or
// nothing with `why`. The launcher's handles are closed.
[[nodiscard]] std::optional<std::intptr_t> launchedGuard(const GuardLauncher& launcher,
                                                         std::string& why);

}  // namespace hushwell
