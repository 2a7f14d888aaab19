// The claim that keeps one copy per user, built for Linux and for Windows (run under Wine).

#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "app/CrashGuard.h"
#include "app/SoundServerName.h"
#endif

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#endif

namespace hushwell {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `done` holds or `limit` has passed; whether it held.
bool processUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(1ms);
    }
    return done();
}

// Whether `work` ends within `limit`; a thread that hangs is left behind for the process's end.
bool endsWithin(std::function<void()> work, std::chrono::milliseconds limit) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    std::thread([work = std::move(work), done] {
        work();
        done->set_value();
    }).detach();
    return ended.wait_for(limit) == std::future_status::ready;
}

TEST(SingleInstance, ALaterStartFindsTheFirstAndAsksItToTheFront) {
    const std::unique_ptr<SingleInstance> first = SingleInstance::claim();
    ASSERT_NE(first, nullptr);
    std::atomic<int> asked{0};
    first->onAsked([&asked] { ++asked; });
    EXPECT_EQ(SingleInstance::claim(), nullptr);
    EXPECT_TRUE(processUntil([&asked] { return asked == 1; })) << asked;
}

// The first copy answers one knock at a time: starts that come together wait their turn instead
// of running as second copies.
TEST(SingleInstance, StartsThatComeTogetherAllFindTheFirst) {
    const std::unique_ptr<SingleInstance> first = SingleInstance::claim();
    ASSERT_NE(first, nullptr);
    std::atomic<int> asked{0};
    first->onAsked([&asked] { ++asked; });
    constexpr int kStarts = 12;
    std::atomic<int> claimed{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> starts;
    for (int i = 0; i < kStarts; ++i) {
        starts.emplace_back([&claimed, &finished] {
            if (SingleInstance::claim() != nullptr) {
                ++claimed;
            }
            ++finished;
        });
    }
    EXPECT_TRUE(processUntil([&] { return finished == kStarts && asked == kStarts; }))
        << finished << " starts finished, " << asked << " asked";
    for (std::thread& start : starts) {
        start.join();
    }
    EXPECT_EQ(claimed, 0) << "starts that ran as second copies";
}

// The program ends while other starts knock: it stops listening at once, and the claim is free
// for the next start.
TEST(SingleInstance, TheClaimEndsWhileStartsKnock) {
    for (int round = 0; round < 20; ++round) {
        std::unique_ptr<SingleInstance> first = SingleInstance::claim();
        ASSERT_NE(first, nullptr) << "round " << round;
        first->onAsked([] {});
        std::atomic<bool> knocking{true};
        std::thread knocker([&knocking] {
            while (knocking) {
                (void)SingleInstance::claim();
            }
        });
        std::this_thread::sleep_for(5ms);
        first->beginEnding();
        ASSERT_TRUE(endsWithin([&first] { first.reset(); }, 10s))
            << "the claim did not end in round " << round;
        knocking = false;
        knocker.join();
        processUntil([] { return false; }, 20ms);  // what was asked before the end
    }
    EXPECT_NE(SingleInstance::claim(), nullptr);
}

// A start while the first copy is ending (its window's thread held by a slow server): it is not
// asked to the front, and the start waits for it to let the claim go, then runs; one that is
// still ending when the start's patience runs out is told so.
TEST(SingleInstance, AStartDuringAnEndingWaitsForIt) {
    const struct {
        const char* name;
        std::chrono::milliseconds patience;
        bool endsWhileWaited;
    } cases[] = {
        {"the first ends while the start waits", 10000ms, true},
        {"the first is still ending at the start's deadline", 300ms, false},
    };
    for (const auto& c : cases) {
        auto first = SingleInstance::claim();
        ASSERT_NE(first, nullptr) << c.name;
        std::atomic<int> asked{0};
        first->onAsked([&asked] { ++asked; });
        first->beginEnding();
        std::promise<void> waiting;
        std::string told;
        std::unique_ptr<SingleInstance> second;
        std::thread start([&] {
            second =
                SingleInstance::claim(&told, {c.patience, [&waiting] { waiting.set_value(); }});
        });
        const bool waited = waiting.get_future().wait_for(10s) == std::future_status::ready;
        if (c.endsWhileWaited) {
            first.reset();
        }
        start.join();
        processUntil([] { return false; }, 100ms);
        EXPECT_TRUE(waited) << c.name;
        EXPECT_EQ(second != nullptr, c.endsWhileWaited) << c.name;
        EXPECT_EQ(told.find("still ending") != std::string::npos, !c.endsWhileWaited)
            << c.name << ": " << told;
        EXPECT_EQ(asked, 0) << c.name;
    }
}

// Two starts of one user, each with the variables that name its sound server and session, the
// others unset ("{run}": a path of the test's own, "{long}": a name too long for a socket's).
// On Linux the claim is the sound server's: a start in the first's session raises it, one from
// another session is told so, one on another server runs too. A first that is ending is waited
// for, from whatever session of its server. On Windows the session is the claim.
enum class Second { RaisesTheFirst, IsTold, RunsToo, WaitsForTheEnd };

struct TwoStarts {
    const char* name;
    const char* first;
    const char* second;
    Second outcome;
    bool firstEnding = false;
};

void useSession(std::string assignments, const std::string& run) {
    for (const char* name : {"PULSE_SERVER", "PULSE_RUNTIME_PATH", "XDG_RUNTIME_DIR",
                             "XDG_SESSION_ID", "DISPLAY", "WAYLAND_DISPLAY"}) {
        qunsetenv(name);
    }
    const std::string pid = std::to_string(QCoreApplication::applicationPid());
#ifdef _WIN32
    const std::string machine;
#else
    const std::string machine = ServerEnvironment::ofThisProcess().machineId;
#endif
    for (const auto& [from, to] : {std::pair{"{run}", run},
                                   {"{long}", std::string(100, 'l')},
                                   {"{pid}", pid},
                                   {"{machine}", machine}}) {
        for (std::size_t at = assignments.find(from); at != std::string::npos;
             at = assignments.find(from)) {
            assignments.replace(at, std::strlen(from), to);
        }
    }
    std::istringstream words(assignments);
    for (std::string word; words >> word;) {
        qputenv(word.substr(0, word.find('=')).c_str(), word.substr(word.find('=') + 1).c_str());
    }
}

// The test's own: a server name that keeps the claim away from a running copy.
std::string ownSession() {
    return "PULSE_SERVER=hushwell-test-" + std::to_string(QCoreApplication::applicationPid()) +
           " DISPLAY=:0";
}

class TheSecondOfTwoStarts : public ::testing::TestWithParam<TwoStarts> {};

TEST_P(TheSecondOfTwoStarts, FindsTheFirstOnItsSoundServer) {
    const std::string run =
        "/tmp/hushwell-claim-" + std::to_string(QCoreApplication::applicationPid());
    const bool ending = GetParam().firstEnding;
#ifdef _WIN32
    const Second expected = ending ? Second::WaitsForTheEnd : Second::RaisesTheFirst;
#else
    const Second expected = GetParam().outcome;
#endif
    useSession(GetParam().first, run);
    std::unique_ptr<SingleInstance> first = SingleInstance::claim();
    ASSERT_NE(first, nullptr);
    std::atomic<int> asked{0};
    first->onAsked([&asked] { ++asked; });
    if (ending) {
        first->beginEnding();
    }
    useSession(GetParam().second, run);
    std::string told;
    // The second start waits for the first's end, which then comes, or decides without it.
    std::promise<void> waiting;
    std::future<void> waits = waiting.get_future();
    std::future<bool> second = std::async(std::launch::async, [&] {
        return SingleInstance::claim(&told, {10s, [&waiting] { waiting.set_value(); }}) != nullptr;
    });
    while (second.wait_for(1ms) != std::future_status::ready &&
           waits.wait_for(1ms) != std::future_status::ready) {
    }
    const bool waited = waits.wait_for(0ms) == std::future_status::ready;
    if (waited) {
        first.reset();
    }
    const bool secondRuns = second.get();
    useSession(ownSession(), "");
    processUntil([&asked] { return asked > 0; },
                 expected == Second::RaisesTheFirst ? 5000ms : 200ms);
    EXPECT_EQ(secondRuns, expected == Second::RunsToo || expected == Second::WaitsForTheEnd);
    EXPECT_EQ(told.empty(), expected != Second::IsTold) << told;
    EXPECT_EQ(asked, expected == Second::RaisesTheFirst ? 1 : 0);
    EXPECT_EQ(waited, expected == Second::WaitsForTheEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, TheSecondOfTwoStarts,
    ::testing::Values(
        TwoStarts{"AScreenOfTheDisplay", "XDG_RUNTIME_DIR={run} DISPLAY=:1",
                  "XDG_RUNTIME_DIR={run} DISPLAY=:1.0", Second::RaisesTheFirst},
        TwoStarts{"TheXNameOfAWaylandSession",
                  "XDG_RUNTIME_DIR={run} WAYLAND_DISPLAY=wayland-0 DISPLAY=:0",
                  "XDG_RUNTIME_DIR={run} DISPLAY=unix:0", Second::RaisesTheFirst},
        TwoStarts{"OneLoginSession", "XDG_RUNTIME_DIR={run} XDG_SESSION_ID=3 WAYLAND_DISPLAY=w",
                  "XDG_RUNTIME_DIR={run} XDG_SESSION_ID=3 DISPLAY=:0", Second::RaisesTheFirst},
        TwoStarts{"TheServerNamedOrFound",
                  "PULSE_SERVER={{machine}}unix:{run}/pulse/native DISPLAY=:0",
                  "XDG_RUNTIME_DIR={run} DISPLAY=:0", Second::RaisesTheFirst},
        TwoStarts{"TwoSpellingsOfOnePath", "PULSE_RUNTIME_PATH={run}/./{long}//pulse DISPLAY=:0",
                  "XDG_RUNTIME_DIR={run}/{long} DISPLAY=:0", Second::RaisesTheFirst},
        TwoStarts{"TwoSessionsOnOneServer", "XDG_RUNTIME_DIR={run} XDG_SESSION_ID=3 DISPLAY=:0",
                  "XDG_RUNTIME_DIR={run} XDG_SESSION_ID=7 DISPLAY=:1", Second::IsTold},
        TwoStarts{"TwoServers", "PULSE_SERVER=unix:{run}/{long}/one DISPLAY=:0",
                  "PULSE_SERVER=unix:{run}/{long}/two DISPLAY=:0", Second::RunsToo},
        TwoStarts{"TwoSpellingsOfOneAddress", "PULSE_SERVER=tcp:localhost:{pid} DISPLAY=:0",
                  "PULSE_SERVER=tcp4:127.0.0.1:{pid} DISPLAY=:0", Second::RaisesTheFirst},
        TwoStarts{"OneSessionWhileTheFirstEnds", "XDG_RUNTIME_DIR={run} DISPLAY=:1",
                  "XDG_RUNTIME_DIR={run} DISPLAY=:1", Second::WaitsForTheEnd, true},
        TwoStarts{"TwoSessionsOnOneServerWhileTheFirstEnds",
                  "XDG_RUNTIME_DIR={run} XDG_SESSION_ID=3 DISPLAY=:0",
                  "XDG_RUNTIME_DIR={run} XDG_SESSION_ID=7 DISPLAY=:1", Second::WaitsForTheEnd,
                  true},
        TwoStarts{"TwoServersWhileTheFirstEnds", "PULSE_SERVER=unix:{run}/{long}/one DISPLAY=:0",
                  "PULSE_SERVER=unix:{run}/{long}/two DISPLAY=:0", Second::RunsToo, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

#ifdef _WIN32

// This process' user, as a SID in text.
std::wstring userSid() {
    HANDLE token = nullptr;
    std::wstring result;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> user(size);
        wchar_t* text = nullptr;
        if (GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
            result = text;
            LocalFree(text);
        }
        CloseHandle(token);
    }
    return result;
}

// The pipe this user's copy claims first, as anyone who knows the user's SID can work it out.
std::wstring claimedPipe() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return L"\\\\.\\pipe\\io.github.hushwell.Hushwell-" + userSid() + L"-" +
           std::to_wstring(session);
}

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The pipe is this user's alone: owned by the user, and opened by no one else.
TEST(SingleInstanceAndAnotherUser, ThePipeIsThisUsersAlone) {
    const std::unique_ptr<SingleInstance> first = SingleInstance::claim();
    ASSERT_NE(first, nullptr);
    const HANDLE pipe =
        CreateFileW(claimedPipe().c_str(), READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    PSID owner = nullptr;
    PACL rules = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &rules, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
        nullptr);
    const std::string shown = text != nullptr ? narrow(text) : "?";
    wchar_t* ownerText = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(owner, &ownerText));
    EXPECT_EQ(narrow(ownerText), narrow(userSid())) << shown;
    ASSERT_NE(rules, nullptr) << "no access rules at all: " << shown;
    ASSERT_EQ(rules->AceCount, 1) << shown;
    void* rule = nullptr;
    ASSERT_TRUE(GetAce(rules, 0, &rule));
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(rule);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << shown;
    wchar_t* grantee = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &grantee));
    EXPECT_EQ(narrow(grantee), narrow(userSid())) << shown;
    LocalFree(grantee);
    LocalFree(ownerText);
    LocalFree(text);
    LocalFree(descriptor);
    CloseHandle(pipe);
}

// A pipe of the claim's name that someone else made first, open to everyone: one that waits for
// starts, or one that is always busy.
struct Squatter {
    const char* name;
    bool answers;
};

void PrintTo(const Squatter& s, std::ostream* out) {
    *out << s.name;
}

class APipeOfSomeoneElse : public ::testing::TestWithParam<Squatter> {};

// Under Wine every process runs as one user: the pipe is someone else's by its owner, a group of
// this user's that no copy of ours gives its pipe.
TEST_P(APipeOfSomeoneElse, IsNotTakenForACopyOfOurs) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:BAD:(A;;GA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    const HANDLE squatter =
        CreateNamedPipeW(claimedPipe().c_str(),
                         PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                         PIPE_TYPE_BYTE, 1, 0, 64, 0, &security);
    LocalFree(descriptor);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    OVERLAPPED waiting{};
    waiting.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE busy = INVALID_HANDLE_VALUE;
    if (GetParam().answers) {
        ConnectNamedPipe(squatter, &waiting);
    } else {  // its one instance taken
        busy = CreateFileW(claimedPipe().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
        ASSERT_NE(busy, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    }

    auto first = std::make_shared<std::unique_ptr<SingleInstance>>();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(endsWithin([first] { *first = SingleInstance::claim(); }, 10s));
    std::printf("   start with the pipe made by someone else (%s): %lld ms\n", GetParam().name,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count()));
    EXPECT_NE(*first, nullptr) << "the other pipe was taken for a copy of ours";
    if (*first != nullptr) {
        std::atomic<int> asked{0};
        (*first)->onAsked([&asked] { ++asked; });
        EXPECT_EQ(SingleInstance::claim(), nullptr) << "a later start did not find the first";
        EXPECT_TRUE(processUntil([&asked] { return asked == 1; })) << asked;
        first->reset();
    }
    if (busy != INVALID_HANDLE_VALUE) {
        CloseHandle(busy);
    }
    CancelIo(squatter);
    CloseHandle(squatter);
    CloseHandle(waiting.hEvent);
}

INSTANTIATE_TEST_SUITE_P(Squatters, APipeOfSomeoneElse,
                         ::testing::Values(Squatter{"Answering", true},
                                           Squatter{"AlwaysBusy", false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

#else

// A process of user nobody that does one thing with the name this user's copy claims first, then
// holds what it made until the test lets it go. Any user may bind or connect to a name in the
// abstract namespace; switching users needs root, so without it the test skips.
class OtherUser {
public:
    enum class Act {
        HoldTheNameWithAFullQueue,  // binds, listens, never accepts, fills its queue
        KnockAndWaitUntilClosed,    // connects and waits for the listener to close it
    };
    enum class State { Busy, Done, CannotSwitch, Failed };

    explicit OtherUser(Act act) {
        sockaddr_un where{};
        where.sun_family = AF_UNIX;
        const std::string name = std::string(1, '\0') + "io.github.hushwell.Hushwell-" +
                                 std::to_string(getuid()) + "-" + soundServerName();
        std::memcpy(where.sun_path, name.data(), name.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        int report[2];
        int hold[2];
        if (pipe2(report, O_CLOEXEC) != 0 || pipe2(hold, O_CLOEXEC) != 0) {
            return;
        }
        m_child = fork();
        if (m_child == 0) {
            close(report[0]);
            close(hold[1]);
            run(act, where, length, report[1], hold[0]);
        }
        close(report[1]);
        close(hold[0]);
        m_report = report[0];
        m_hold = hold[1];
    }
    ~OtherUser() {
        close(m_hold);
        close(m_report);
        if (m_child > 0) {
            waitpid(m_child, nullptr, 0);
        }
    }
    OtherUser(const OtherUser&) = delete;
    OtherUser& operator=(const OtherUser&) = delete;

    // What the process has done so far, waiting up to `limit` for it to finish its act.
    State state(std::chrono::milliseconds limit = 0ms) {
        pollfd ready{m_report, POLLIN, 0};
        char said = 0;
        if (m_state == State::Busy && poll(&ready, 1, static_cast<int>(limit.count())) == 1) {
            m_state = read(m_report, &said, 1) != 1 ? State::Failed
                      : said == 'r' ? State::Done
                      : said == 'u' ? State::CannotSwitch
                                    : State::Failed;
        }
        return m_state;
    }

private:
    // In the child: system calls only.
    [[noreturn]] static void run(Act act, const sockaddr_un& where, socklen_t length, int report,
                                 int hold) {
        constexpr uid_t kNobody = 65534;
        const auto say = [report](char c) { (void)!write(report, &c, 1); };
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
            say('u');
            _exit(0);
        }
        const auto* address = reinterpret_cast<const sockaddr*>(&where);
        const int own = socket(AF_UNIX, SOCK_STREAM, 0);
        if (act == Act::HoldTheNameWithAFullQueue) {
            if (bind(own, address, length) != 0 || listen(own, 0) != 0) {
                say('f');
                _exit(1);
            }
            // Connections nobody accepts, until one more would have to wait.
            for (int i = 0; i < 16; ++i) {
                if (connect(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0), address, length) !=
                    0) {
                    break;
                }
            }
        } else {
            if (connect(own, address, length) != 0) {
                say('f');
                _exit(1);
            }
            char c = 0;
            while (read(own, &c, 1) > 0) {
            }
        }
        say('r');
        char c = 0;
        (void)!read(hold, &c, 1);  // until the test closes its end
        _exit(0);
    }

    pid_t m_child = -1;
    int m_report = -1;
    int m_hold = -1;
    State m_state = State::Busy;
};

// Another user binds the name first and never accepts: a start neither waits for it nor takes it
// for a copy of ours; it runs, and later starts find it, also once the other process has gone.
TEST(SingleInstanceAndAnotherUser, ANameHeldWithAFullQueueDoesNotHoldTheStart) {
    auto squatter = std::make_unique<OtherUser>(OtherUser::Act::HoldTheNameWithAFullQueue);
    if (squatter->state(5000ms) == OtherUser::State::CannotSwitch) {
        GTEST_SKIP() << "cannot act as user nobody (needs root)";
    }
    ASSERT_EQ(squatter->state(), OtherUser::State::Done) << "user nobody could not take the name";
    auto first = std::make_shared<std::unique_ptr<SingleInstance>>();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(endsWithin([first] { *first = SingleInstance::claim(); }, 5s))
        << "the start waits for the other user's process";
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::printf("   start with the name held by another user: %lld ms\n",
                static_cast<long long>(took.count()));
    ASSERT_NE(*first, nullptr) << "the other user's process was taken for a copy of ours";
    std::atomic<int> asked{0};
    (*first)->onAsked([&asked] { ++asked; });
    EXPECT_EQ(SingleInstance::claim(), nullptr) << "a later start did not find the first";
    EXPECT_TRUE(processUntil([&asked] { return asked == 1; })) << asked;
    squatter.reset();
    EXPECT_EQ(SingleInstance::claim(), nullptr)
        << "with the name free, a start ran as a second copy";
    EXPECT_TRUE(processUntil([&asked] { return asked == 2; })) << asked;
}

// Only this user's starts bring the window to the front; the listener goes on answering them.
TEST(SingleInstanceAndAnotherUser, AKnockFromAnotherUserIsNotAnswered) {
    const std::unique_ptr<SingleInstance> first = SingleInstance::claim();
    ASSERT_NE(first, nullptr);
    std::atomic<int> asked{0};
    first->onAsked([&asked] { ++asked; });
    OtherUser knocker(OtherUser::Act::KnockAndWaitUntilClosed);
    // The knock is handled (and closed) on the event loop.
    ASSERT_TRUE(processUntil([&knocker] { return knocker.state() != OtherUser::State::Busy; }));
    if (knocker.state() == OtherUser::State::CannotSwitch) {
        GTEST_SKIP() << "cannot act as user nobody (needs root)";
    }
    ASSERT_EQ(knocker.state(), OtherUser::State::Done) << "user nobody could not knock";
    processUntil([] { return false; }, 100ms);
    EXPECT_EQ(asked, 0) << "the other user's knock brought the window to the front";
    EXPECT_EQ(SingleInstance::claim(), nullptr);
    EXPECT_TRUE(processUntil([&asked] { return asked == 1; })) << asked;
}

#endif

}  // namespace
}  // namespace hushwell

int main(int argc, char** argv) {
#ifndef _WIN32
    // The guards the guard's tests start are this program again.
    if (const std::optional<int> guardStatus = hushwell::CrashGuard::runIfGuard()) {
        return *guardStatus;
    }
#endif
    QCoreApplication app(argc, argv);
    hushwell::useSession(hushwell::ownSession(), "");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
