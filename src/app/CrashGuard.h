#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/HeldRecord.h"
#include "mixer/MasterVolume.h"

namespace hushwell {

// The guard of the volume: a small process of this same program that learns, from what landed,
// the Up value and whether the volume is held away from it. When this process ends while the
// volume is held (killed, crashed, or an orderly end whose Up level did not land), the guard puts
// the Up value back through a connection of its own, trying for a while if the sound server is
// away. An orderly end whose Up level landed leaves it nothing to do. It waits blocked on its
// pipe, with no timer: it costs no CPU while the program runs. A guard that is gone is replaced.
// A guard that could not be started (no process to be had: EAGAIN, RLIMIT_NPROC), or that ended as
// it started, is tried again after a pause that grows with each failure, never in a storm; the
// mixer log says while the volume has no guard.
//
// While the volume is held, a HeldRecord says so, for a start after an end that took the guard
// too.
class CrashGuard final : public QObject {
    Q_OBJECT
public:
    // What starting a guard asks of the system.
    struct System {
#ifndef _WIN32
        // Both forks of a start; it must stay safe to call in a child of a process with threads.
        int (*fork)() = nullptr;  // none: the system's
#endif
        // Calls `retry`, on this object's thread, once `pause` has passed; none: a timer does.
        std::function<void(std::chrono::milliseconds pause, std::function<void()> retry)>
            retryAfter;
    };

    // Starts the guard: this program again, with a pipe to read (see runIfGuard()). A guard that
    // is gone is replaced, and `onReplaced` asked to tell the new one the volume's record.
    explicit CrashGuard(std::function<void()> onReplaced);
    CrashGuard(std::function<void()> onReplaced, System system);
    // Closes the pipe: the guard acts on the last state it was told.
    ~CrashGuard() override;
    CrashGuard(const CrashGuard&) = delete;
    CrashGuard& operator=(const CrashGuard&) = delete;

    // In the guard process, runs the guard and gives its exit status; anywhere else it returns
    // nothing at once.
    [[nodiscard]] static std::optional<int> runIfGuard();

    // The volume's record changed: `held` while it may stand away from `upValue` (of a scale
    // running to `scale`), on the provider at `provider` in platformProviders() (-1: not known),
    // what is held being the streams of `program` (empty: the output), `owed` the programs still
    // owed the Up value and `owedOn` those owed it on an output they left (program, output), kept
    // in the HeldRecord for the next start. Any thread; never waits for
    // the guard.
    void tell(std::int32_t upValue, std::int32_t scale, bool held, int provider,
              const std::string& program = {}, const std::vector<std::string>& owed = {},
              const std::vector<std::pair<std::string, std::string>>& owedOn = {});
    // Where the first HeldRecord that cannot be written is told, in words for the user (from
    // any thread); before it is set, nothing is told.
    void onRecordProblem(std::function<void(const std::string&)> tell);

    // What the program tells its guard: the Up value in the program's scale, whether the volume
    // may stand away from it, the provider that holds it, and who the program is.
    struct Message {
        std::int32_t upValue = 0;
        std::int32_t scale = 0;
        std::int32_t held = 0;
        std::int32_t provider = -1;  // its index in platformProviders(); -1: any that opens
        std::int64_t processId = 0;  // the program's
        // The program whose streams are held, its first bytes when longer than the field (then
        // every playing program whose name begins so gets the Up value); empty: the output.
        std::int32_t loweredLength = 0;  // the name's whole length
        char lowered[256] = {};

        void setLowered(const std::string& name);
        [[nodiscard]] bool loweredWhole() const;
        [[nodiscard]] std::string loweredName() const;
    };

signals:
    // A send found the guard `generation` gone (from any thread).
    void lost(unsigned generation);

private:
    // The guard's whole life: it reads what the program tells it until the program is gone, then
    // puts the Up value back if the volume was held; its exit status. A guard asked to end (when
    // `askedToEnd` is given and set) gives up after its current try.
    [[nodiscard]] static int runGuard(const std::function<bool(Message&)>& read,
                                      const volatile std::sig_atomic_t* askedToEnd);
    [[nodiscard]] static std::int64_t thisProcessId();

    // Each system's own: starting the guard process, telling it, letting it go.
    // Starts a guard; what failed, or empty. With m_mutex held.
    [[nodiscard]] std::string spawn();
    bool send(const Message& message);
    void closeGuard();

    // Starts a guard, or tries again later; `tellRecord`: asks `onReplaced` once one runs.
    void start(bool tellRecord);
    void retryLater(const std::string& why);
    void replaceIfGone(unsigned generation);
    void launched(unsigned generation);  // Windows: the guard's launcher has ended

    std::mutex m_mutex;
    std::function<void()> m_onReplaced;
    System m_system;
    HeldRecord m_record;
    std::function<void(const std::string&)> m_recordProblem;  // emptied once it told
    std::intptr_t m_pipe = -1;            // a file descriptor, or a HANDLE on Windows; -1: no guard
    std::intptr_t m_process = -1;         // Windows: the guard's process HANDLE, or its launcher's
    std::intptr_t m_launcherAnswer = -1;  // Windows: the launcher's answer, while it runs
    std::string m_unsent;  // Windows: the rest of a message the pipe took only part of
    QObject* m_notifier = nullptr;
    unsigned m_generation = 0;  // counts the guards started: a report names the one it is about
    // The window's thread only: the last guard's start, and the failed starts since a guard last
    // lived on past its start.
    std::chrono::steady_clock::time_point m_startedAt;
    int m_failures = 0;
    QTimer m_retry;
};

// What a put-back came to. NothingPlaying: the program has no stream now; the sound server may
// still hold its Down level for the program's next stream (servers remember a program's volume),
// so the held record stays, for the next start to try again.
enum class PutBack { NotTaken, Done, NothingPlaying };

// The guard's put-back on `volume`: `value` for what `last` says was held, the output or the
// streams of the program it names (of every playing program whose name begins so, when only the
// name's start fitted).
[[nodiscard]] PutBack putBackOn(MasterVolume& volume, const CrashGuard::Message& last,
                                std::int32_t value);

}  // namespace hushwell
