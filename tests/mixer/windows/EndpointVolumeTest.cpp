#include "mixer/windows/EndpointVolume.h"

#include <gtest/gtest.h>

#include <set>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "mixer/MixerChoice.h"
#include "mixer/VolumeOwner.h"
#include "mixer/windows/AudioSessions.h"
#include "mixer/windows/ComThread.h"
#include "mixer/windows/FakeAudioEndpoints.h"
#include "support/FakeVolume.h"

// clang-format off
#include <ole2.h>
// clang-format on

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;
using Kind = VolumeEvent::Kind;

const std::string kSpeakers = "{0.0.0.00000000}.{speakers}";
const std::string kHeadphones = "{0.0.0.00000000}.{headphönes}";  // ids are UTF-16: not ASCII
const wchar_t* const kHeadphonesWide = L"{0.0.0.00000000}.{headph\u00f6nes}";
// The event context Hushwell's own changes carry: {ab70b122-b0ed-4579-a02e-22ca97802402}.
constexpr GUID kHushwellContext = {
    0xab70b122, 0xb0ed, 0x4579, {0xa0, 0x2e, 0x22, 0xca, 0x97, 0x80, 0x24, 0x02}};
constexpr auto kPatience = 10s;  // for what another thread does; never reached when all is well

// An enumerator with two outputs, the speakers the default, made by the provider's factory.
struct Endpoints {
    Endpoints() {
        enumerator.add(speakers);
        enumerator.add(headphones);
        enumerator.setDefault(&speakers);
    }

    // A COM thread of the provider's own.
    std::shared_ptr<ComThread> thread() {
        return ComThread::start([this](IMMDeviceEnumerator** out) -> long {
            system.note("make enumerator");
            ++made;
            *out = nullptr;
            if (FAILED(makeResult.load())) {
                return makeResult;
            }
            enumerator.AddRef();
            *out = &enumerator;
            return S_OK;
        });
    }

    // No reference is held but the test's own, and no client is left registered.
    void expectAllReleased() {
        EXPECT_EQ(enumerator.heldByOthers(), 0);
        for (FakeDevice* device : {&speakers, &headphones}) {
            EXPECT_EQ(device->heldByOthers(), 0);
            EXPECT_EQ(device->volume.heldByOthers(), 0);
            EXPECT_EQ(device->sessions.heldByOthers(), 0);
            EXPECT_EQ(device->sessions.enumeratorsAlive, 0);
            EXPECT_EQ(device->sessions.registered(), nullptr);
        }
        EXPECT_EQ(enumerator.registered(), nullptr);
        EXPECT_EQ(system.stuckUnregistrations, 0) << "unregistered while a callback waited on it";
    }

    FakeAudioSystem system;
    FakeEnumerator enumerator{system};
    FakeDevice speakers{system, L"{0.0.0.00000000}.{speakers}"};
    FakeDevice headphones{system, kHeadphonesWide};
    std::atomic<int> made{0};
    std::atomic<HRESULT> makeResult{S_OK};
};

// What the provider reports, from whatever thread.
class Events {
public:
    MasterVolume::EventHandler handler() {
        return [this](const VolumeEvent& event) {
            const std::lock_guard lock(m_mutex);
            m_kinds.push_back(event.kind);
            m_changed.notify_all();
        };
    }
    [[nodiscard]] bool waitFor(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, [&] { return m_kinds.size() >= count; });
    }
    [[nodiscard]] std::vector<Kind> seen() {
        const std::lock_guard lock(m_mutex);
        return m_kinds;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Kind> m_kinds;
};

template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(EndpointVolume, OpensTheDefaultConsoleOutputAndChecksThatItTakesItsOwnLevel) {
    Endpoints endpoints;
    EndpointVolume volume(endpoints.thread());
    ASSERT_TRUE(volume.open()) << volume.lastError();
    EXPECT_EQ(volume.locate(), 100);
    EXPECT_EQ(
        endpoints.system.callNames(),
        (std::vector<std::string>{"make enumerator", "RegisterEndpointNotificationCallback",
                                  // The thread's note of the default, then the provider's own.
                                  "GetDefaultAudioEndpoint(eRender, eConsole)", "GetId",
                                  "GetDefaultAudioEndpoint(eRender, eConsole)", "GetId",
                                  "Activate(IAudioEndpointVolume)",
                                  // Registered first; new sessions are told only once the
                                  // existing ones were counted.
                                  "Activate(IAudioSessionManager2)", "RegisterSessionNotification",
                                  "GetSessionEnumerator", "GetCount", "GetMasterVolumeLevelScalar",
                                  "SetMasterVolumeLevelScalar"}));
    EXPECT_EQ(endpoints.speakers.volume.taken(), std::vector<float>{0.5f});
    EXPECT_TRUE(volume.lastError().empty());
}

TEST(EndpointVolume, SetsTheLevelAsAShareOfFullVolumeWithHushwellsEventContext) {
    Endpoints endpoints;
    EndpointVolume volume(endpoints.thread());
    ASSERT_TRUE(volume.open());
    const struct {
        std::int32_t value;
        float scalar;
    } cases[] = {{0, 0.0f}, {20, 0.2f}, {65, 0.65f}, {100, 1.0f}};
    for (const auto& c : cases) {
        EXPECT_EQ(volume.set(c.value), kSpeakers) << c.value;
        EXPECT_EQ(endpoints.speakers.volume.level.load(), c.scalar) << c.value;
    }
    for (const GUID& context : endpoints.speakers.volume.contexts) {
        EXPECT_TRUE(IsEqualGUID(context, kHushwellContext));
    }
    // Outside the scale nothing is sent.
    endpoints.system.forgetCalls();
    EXPECT_EQ(volume.set(-1), std::nullopt);
    EXPECT_EQ(volume.set(101), std::nullopt);
    EXPECT_FALSE(volume.setOn(kSpeakers, 101));
    EXPECT_TRUE(endpoints.system.callNames().empty());
    // Never the mute, the dB call or anything else.
    for (const FakeAudioSystem::Call& call : endpoints.system.allCalls()) {
        EXPECT_EQ(call.what.rfind("unexpected", 0), std::string::npos) << call.what;
    }
}

// At log-in the volume may not be had yet: the open waits for it (Wine's strict open is tested on
// Wine's own below), but for a stub.
TEST(EndpointVolume, OpenFailsAndSaysWhyOnlyWhereTheVolumeIsKnownNotToWork) {
    const struct {
        const char* what;
        void (*arrange)(Endpoints&);
        const char* error;
        bool waits;
    } cases[] = {
        {"no enumerator", [](Endpoints& e) { e.makeResult = REGDB_E_CLASSNOTREG; },
         "creating the device enumerator: HRESULT 0x80040154", true},
        {"no output", [](Endpoints& e) { e.enumerator.setDefault(nullptr); },
         "GetDefaultAudioEndpoint: HRESULT 0x80070490", true},
        {"service stopped", [](Endpoints& e) { e.system.serviceRunning = false; },
         "GetDefaultAudioEndpoint: HRESULT 0x88890010", true},
        {"no endpoint volume", [](Endpoints& e) { e.speakers.activateResult = E_NOINTERFACE; },
         "Activate: HRESULT 0x80004002", true},
        {"a stub (Wine 8)", [](Endpoints& e) { e.speakers.volume.setResult = E_NOTIMPL; },
         "SetMasterVolumeLevelScalar: HRESULT 0x80004001", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Endpoints endpoints;
        c.arrange(endpoints);
        EndpointVolume volume(endpoints.thread(), {}, {.retry = 1h});
        EXPECT_EQ(volume.open(), c.waits);
        EXPECT_EQ(volume.lastError(), c.error);
        EXPECT_EQ(volume.locate(), c.waits ? std::optional(100) : std::nullopt);
        EXPECT_EQ(volume.set(20), std::nullopt);
        if (!c.waits) {
            endpoints.expectAllReleased();  // at once, not when the provider goes
        }
    }
}

// Log-in before Windows has an output: the endpoint volume is taken all the same, not winmm,
// which would lower only Hushwell's own session all day; the log and the core learn that it waits,
// and the value asked for lands once the output comes.
TEST(EndpointVolume, WithNoOutputAtTheOpenItIsTakenAndWaitsForOne) {
    Endpoints endpoints;
    endpoints.enumerator.setDefault(nullptr);
    std::vector<std::string> log;  // read once the owner's thread ended
    auto table = std::make_unique<ChosenProvider>(
        std::vector<MixerProvider>{
            {"endpoint volume",
             [&endpoints] { return std::make_unique<EndpointVolume>(endpoints.thread()); }},
            {"winmm", [] { return std::make_unique<FakeProvider>(); }}},
        [&log](const std::string& line) { log.push_back(line); });
    VolumeOwner volume(std::move(table), [](const std::function<void()>& task) { task(); });
    Events events;
    volume.watch(events.handler());
    ASSERT_TRUE(volume.open());
    ASSERT_EQ(volume.locate(), 100);
    volume.set(20);
    ASSERT_TRUE(events.waitFor(2));
    EXPECT_EQ(events.seen(), (std::vector<Kind>{Kind::NoOutput, Kind::Refused}));

    endpoints.enumerator.setDefault(&endpoints.speakers);
    endpoints.enumerator.announce(eRender, eConsole, L"{0.0.0.00000000}.{speakers}");
    EXPECT_TRUE(eventually([&] { return endpoints.speakers.volume.level.load() == 0.2f; }));
    ASSERT_TRUE(events.waitFor(3));
    EXPECT_EQ(events.seen()[2], Kind::OutputChanged);
    volume.finish();
    log.resize(4);
    EXPECT_EQ(log, (std::vector<std::string>{"open: endpoint volume", "no output: waiting for one",
                                             "locate: found, scale 100", "apply 20: refused"}));
}

TEST(EndpointVolume, FollowsTheDefaultConsoleOutputToldFromAnotherThread) {
    Events events;
    Endpoints endpoints;
    EndpointVolume volume(endpoints.thread());
    volume.watch(events.handler());
    ASSERT_TRUE(volume.open());
    ASSERT_EQ(volume.set(20), kSpeakers);
    ASSERT_NE(endpoints.enumerator.registered(), nullptr);

    // News of other flows and roles is not the output's: were it taken, the next call would look
    // for a device that is not there (news goes before calls) and rebuild.
    for (const auto& [flow, role] : {std::pair{eCapture, eConsole}, std::pair{eRender, eMultimedia},
                                     std::pair{eRender, eCommunications}}) {
        endpoints.enumerator.announce(flow, role, L"{0.0.0.00000000}.{elsewhere}");
        EXPECT_EQ(volume.set(20), kSpeakers) << flow << " " << role;
    }
    EXPECT_TRUE(events.seen().empty());

    // The default console output: a call right after the news goes to the new output.
    endpoints.enumerator.setDefault(&endpoints.headphones);
    endpoints.enumerator.announce(eRender, eConsole, kHeadphonesWide);
    EXPECT_EQ(volume.set(20), kHeadphones);
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(events.seen(), std::vector<Kind>{Kind::OutputChanged});
    EXPECT_EQ(endpoints.headphones.volume.taken(), std::vector<float>{0.2f});
    // The output left behind is still within reach, by the id it had.
    EXPECT_TRUE(volume.setOn(kSpeakers, 100));
    EXPECT_EQ(endpoints.speakers.volume.level.load(), 1.0f);
    EXPECT_EQ(endpoints.speakers.volume.heldByOthers(), 0);
    EXPECT_TRUE(volume.setOn(kHeadphones, 20));
    EXPECT_EQ(endpoints.made, 1);  // no rebuild
}

TEST(EndpointVolume, NoDefaultOutputMeansNothingToSetUntilOneComes) {
    Events events;
    Endpoints endpoints;
    EndpointVolume volume(endpoints.thread());
    volume.watch(events.handler());
    ASSERT_TRUE(volume.open());
    ASSERT_NE(endpoints.enumerator.registered(), nullptr);

    endpoints.enumerator.announce(eRender, eConsole, nullptr);
    ASSERT_TRUE(events.waitFor(1));
    endpoints.system.forgetCalls();
    EXPECT_EQ(volume.set(20), std::nullopt);
    EXPECT_TRUE(endpoints.system.callNames().empty());
    EXPECT_TRUE(volume.setOn(kSpeakers, 100));
    EXPECT_EQ(endpoints.speakers.volume.heldByOthers(), 0);
    // Nothing plays where there is no output.
    EXPECT_TRUE(volume.playingPrograms().empty());
    EXPECT_EQ(volume.setProgram("firefox.exe", 20), 0);
    EXPECT_EQ(endpoints.speakers.sessions.heldByOthers(), 0);

    endpoints.enumerator.announce(eRender, eConsole, kHeadphonesWide);
    ASSERT_TRUE(events.waitFor(2));
    EXPECT_EQ(events.seen(), (std::vector<Kind>{Kind::NoOutput, Kind::OutputChanged}));
    EXPECT_EQ(volume.set(20), kHeadphones);
    EXPECT_EQ(endpoints.made, 1);
    EXPECT_TRUE(volume.lastError().empty());
}

TEST(EndpointVolume, AnOutputThatIsGoneIsNotTakenAndBreaksNothing) {
    Endpoints endpoints;
    EndpointVolume volume(endpoints.thread());
    ASSERT_TRUE(volume.open());
    EXPECT_FALSE(volume.setOn("{0.0.0.00000000}.{unplugged}", 100));
    EXPECT_EQ(volume.setProgramOn("{0.0.0.00000000}.{unplugged}", "firefox.exe", 100),
              std::nullopt);
    EXPECT_EQ(volume.set(20), kSpeakers);
    EXPECT_EQ(endpoints.made, 1);
}

TEST(EndpointVolume, AFailedCallRebuildsEverythingAndReportsTheServerBack) {
    const struct {
        const char* what;
        HRESULT failure;
        const char* error;
    } cases[] = {
        {"device invalidated", AUDCLNT_E_DEVICE_INVALIDATED,
         "SetMasterVolumeLevelScalar: HRESULT 0x88890004"},
        {"any other failure", E_FAIL, "SetMasterVolumeLevelScalar: HRESULT 0x80004005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Events events;
        Endpoints endpoints;
        EndpointVolume volume(endpoints.thread(), {}, {.retry = 10ms});
        volume.watch(events.handler());
        ASSERT_TRUE(volume.open());
        // The speakers are unplugged: Windows has another default already.
        endpoints.speakers.volume.setResult = c.failure;
        endpoints.enumerator.setDefault(&endpoints.headphones);

        EXPECT_EQ(volume.set(20), std::nullopt);
        EXPECT_EQ(volume.lastError(), c.error);
        ASSERT_TRUE(events.waitFor(1));
        EXPECT_EQ(events.seen(), std::vector<Kind>{Kind::ServerBack});
        EXPECT_EQ(endpoints.made, 2);
        EXPECT_EQ(endpoints.enumerator.registrations, 2);
        EXPECT_EQ(endpoints.enumerator.unregistrations, 1);
        EXPECT_EQ(endpoints.speakers.volume.heldByOthers(), 0);
        EXPECT_EQ(volume.set(20), kHeadphones);
        EXPECT_EQ(endpoints.headphones.volume.taken(), std::vector<float>{0.2f});
    }
}

TEST(EndpointVolume, AStoppedServiceIsTriedAgainUntilItIsBack) {
    Events events;
    Endpoints endpoints;
    EndpointVolume volume(endpoints.thread(), {}, {.retry = 10ms});
    volume.watch(events.handler());
    ASSERT_TRUE(volume.open());

    endpoints.system.serviceRunning = false;
    EXPECT_EQ(volume.set(20), std::nullopt);
    // Tried again by the provider itself, while nothing is asked of it.
    EXPECT_TRUE(eventually([&] { return endpoints.made >= 5; }));
    EXPECT_EQ(volume.lastError(), "GetDefaultAudioEndpoint: HRESULT 0x88890010");
    EXPECT_TRUE(events.seen().empty());
    EXPECT_EQ(volume.set(20), std::nullopt);

    endpoints.system.serviceRunning = true;
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(events.seen(), std::vector<Kind>{Kind::ServerBack});
    EXPECT_EQ(volume.set(30), kSpeakers);
    EXPECT_EQ(endpoints.speakers.volume.level.load(), 0.3f);
    EXPECT_EQ(endpoints.enumerator.registrations - endpoints.enumerator.unregistrations, 1);
}

// Under the volume's owner: the value asked for lands on the rebuilt output without being asked
// again.
TEST(EndpointVolume, TheServerBackBringsTheWantedLevelAgain) {
    Endpoints endpoints;
    VolumeOwner volume(std::make_unique<EndpointVolume>(endpoints.thread()),
                       [](const std::function<void()>& task) { task(); });
    ASSERT_TRUE(volume.open());
    ASSERT_EQ(volume.locate(), 100);
    endpoints.speakers.volume.setResult = AUDCLNT_E_DEVICE_INVALIDATED;
    endpoints.enumerator.setDefault(&endpoints.headphones);
    volume.set(20);
    EXPECT_TRUE(
        eventually([&] { return endpoints.headphones.volume.taken() == std::vector{0.2f}; }));
    volume.finish();
}

// An output that keeps refusing while everything around it can be made again: one attempt a
// retry period, not a loop of rebuild, ServerBack and resend without a pause.
TEST(EndpointVolume, AnOutputThatKeepsRefusingIsTriedOnceARetryPeriod) {
    Endpoints endpoints;
    VolumeOwner volume(std::make_unique<EndpointVolume>(endpoints.thread(), nullptr,
                                                        EndpointVolume::Deadlines{.retry = 100ms}),
                       [](const std::function<void()>& task) { task(); });
    ASSERT_TRUE(volume.open());
    ASSERT_EQ(volume.locate(), 100);
    endpoints.speakers.volume.setResult = E_FAIL;
    volume.set(20);
    std::this_thread::sleep_for(1s);
    volume.finish();
    EXPECT_GE(endpoints.made, 3) << "tried again";
    EXPECT_LE(endpoints.made, 20) << "about one rebuild each 100 ms, not a loop";
}

// An audio service that holds a call: the caller waits no longer than the deadline (the guard's
// minute of tries must hold), and the calls after it fail at once until it answers. An open it
// holds (busy at log-in) opens all the same: the scale is known once the service answered.
TEST(EndpointVolume, ACallTheServiceHoldsFailsAtTheDeadlineAndTheNextOnesAtOnce) {
    Endpoints endpoints;
    EndpointVolume volume(endpoints.thread(), {}, EndpointVolume::Deadlines{1h, 100ms});
    endpoints.speakers.volume.hang(true);
    EXPECT_TRUE(volume.open());
    EXPECT_EQ(volume.locate(), std::nullopt);
    endpoints.speakers.volume.hang(false);
    EXPECT_TRUE(eventually([&] { return volume.locate() == 100; }));

    endpoints.speakers.volume.hang(true);
    EXPECT_EQ(volume.set(20), std::nullopt);
    EXPECT_EQ(volume.lastError(), "a call to the audio service: HRESULT 0x800705B4");
    endpoints.system.forgetCalls();
    EXPECT_EQ(volume.set(30), std::nullopt);
    EXPECT_EQ(volume.setProgram("firefox.exe", 30), std::nullopt);
    EXPECT_TRUE(endpoints.system.callNames().empty());
    endpoints.speakers.volume.hang(false);
    EXPECT_TRUE(eventually([&] { return volume.set(30) == kSpeakers; }));
    EXPECT_EQ(endpoints.speakers.volume.taken(), (std::vector<float>{0.5f, 0.2f, 0.3f}));
}

TEST(EndpointVolume, UsesComOnItsOwnMultithreadedThreadAndReleasesEverythingThere) {
    // The caller's thread is single-threaded, as Qt makes the window's.
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    const DWORD caller = GetCurrentThreadId();
    Endpoints endpoints;
    {
        Events events;
        EndpointVolume volume(endpoints.thread());
        volume.watch(events.handler());
        ASSERT_TRUE(volume.open());
        ASSERT_TRUE(volume.set(20));
        endpoints.enumerator.announce(eRender, eConsole, kHeadphonesWide);
        ASSERT_TRUE(events.waitFor(1));
        ASSERT_TRUE(volume.set(20));
        ASSERT_TRUE(volume.setOn(kSpeakers, 100));
        ASSERT_TRUE(volume.playingPrograms().empty());
        ASSERT_EQ(volume.setProgram("firefox.exe", 20), 0);
        endpoints.headphones.volume.setResult = AUDCLNT_E_DEVICE_INVALIDATED;
        ASSERT_FALSE(volume.set(20));
        ASSERT_TRUE(events.waitFor(2));
    }
    endpoints.expectAllReleased();
    EXPECT_EQ(endpoints.enumerator.registrations, endpoints.enumerator.unregistrations);

    const std::vector<FakeAudioSystem::Call> calls = endpoints.system.allCalls();
    ASSERT_FALSE(calls.empty());
    for (const FakeAudioSystem::Call& call : calls) {
        EXPECT_EQ(call.thread, calls.front().thread) << call.what;
        EXPECT_NE(call.thread, caller) << call.what;
        EXPECT_EQ(call.apartment, APTTYPE_MTA) << call.what;
    }
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << type;
    OleUninitialize();
}

// The speakers' sessions: three programs, one of them in two processes spelt two ways and with
// two sessions in one, and the sessions that are no program's: the system sounds, process 0, this
// process's own, one whose process cannot be looked at; and an expired one, whose process has
// ended. The headphones play firefox too.
struct Programs : Endpoints {
    Programs() {
        expired->state = AudioSessionStateExpired;
        for (FakeSession* session : speakerSessions()) {
            speakers.sessions.add(*session);
        }
        headphones.sessions.add(*firefoxOnHeadphones.get());
    }

    // Each process's executable, as Windows would name it.
    static EndpointVolume::ProcessNames names() {
        return [](unsigned long id) -> std::string {
            if (id == GetCurrentProcessId()) {
                return "endpoint_tests.exe";
            }
            switch (id) {
                case 0:
                    return "System Idle Process";
                case 101:
                case 102:
                    return "firefox.exe";
                case 202:
                    return "VLC.exe";
                case 203:
                    return "vlc.exe";
                case 404:
                    return "SndVol.exe";
                case 707:
                    return "Spotify.exe";
                default:
                    return "";
            }
        };
    }

    std::vector<FakeSession*> speakerSessions() {
        return {firefox.get(), vlc.get(),  vlcAgain.get(), vlcOther.get(), systemSounds.get(),
                idle.get(),    self.get(), expired.get(),  unknown.get()};
    }

    // The provider under the volume's owner, through the provider table: Up at 65, firefox.exe
    // chosen.
    std::unique_ptr<VolumeOwner> owner(std::chrono::milliseconds retry = 1s) {
        const auto endpoint = [this, retry] {
            return std::make_unique<EndpointVolume>(thread(), names(),
                                                    EndpointVolume::Deadlines{.retry = retry});
        };
        auto volume = std::make_unique<VolumeOwner>(
            std::make_unique<ChosenProvider>(std::vector<MixerProvider>{{"endpoint", endpoint}}),
            [](const std::function<void()>& task) { task(); });
        EXPECT_TRUE(volume->open());
        EXPECT_EQ(volume->locate(), 100);
        volume->setUpValue(65);
        volume->lowerOnly("firefox.exe");
        return volume;
    }

    static constexpr const wchar_t* kFirefox =
        L"\\Device\\HarddiskVolume3\\Program Files\\Mozilla Firefox\\firefox.exe";
    static constexpr const wchar_t* kVlc = L"\\Device\\HarddiskVolume3\\VideoLAN\\VLC.exe";
    static constexpr const wchar_t* kSpotify = L"\\Device\\HarddiskVolume3\\Spotify\\Spotify.exe";

    using Session = com::Ref<FakeSession>;
    Session firefox{new FakeSession(system, 101, kFirefox)};
    Session vlc{new FakeSession(system, 202, kVlc)};
    Session vlcAgain{new FakeSession(system, 202, kVlc)};
    Session vlcOther{new FakeSession(system, 203, L"\\Device\\HarddiskVolume3\\VideoLAN\\vlc.exe")};
    Session systemSounds{new FakeSession(system, 404, L"", true)};
    Session idle{new FakeSession(system, 0, L"")};
    Session self{new FakeSession(system, GetCurrentProcessId(), L"C:\\tests\\endpoint_tests.exe")};
    Session expired{new FakeSession(system, 505, L"C:\\Apps\\expired.exe")};
    Session unknown{new FakeSession(system, 606, L"\\Device\\HarddiskVolume3\\Other\\other.exe")};
    Session firefoxOnHeadphones{new FakeSession(system, 101, kFirefox)};
};

TEST(EndpointVolumePrograms, ListsTheProgramsWithASessionOnTheDefaultOutputByTheirExecutables) {
    Programs programs;
    EndpointVolume volume(programs.thread(), Programs::names());
    EXPECT_FALSE(volume.hasProgramVolume());
    ASSERT_TRUE(volume.open()) << volume.lastError();
    EXPECT_TRUE(volume.hasProgramVolume());
    EXPECT_EQ(volume.playingPrograms(), (std::vector<std::string>{"firefox.exe", "VLC.exe"}));

    // Each call looks again; ordered as Windows compares file names, whatever their case.
    programs.speakers.sessions.add(
        *Programs::Session(new FakeSession(programs.system, 707, Programs::kSpotify)).get());
    EXPECT_EQ(volume.playingPrograms(),
              (std::vector<std::string>{"firefox.exe", "Spotify.exe", "VLC.exe"}));
    EXPECT_EQ(programs.headphones.sessions.enumerations, 0);
    EXPECT_TRUE(volume.lastError().empty());
}

TEST(EndpointVolumePrograms, SetsTheSessionsOfTheChosenProgramOnlyWithHushwellsEventContext) {
    const struct {
        const char* program;
        std::int32_t value;
        std::optional<int> taken;
        std::set<std::string> chosen;  // of the speakers' sessions, by the names below
    } cases[] = {
        {"firefox.exe", 20, 1, {"firefox"}},
        {"FireFox.EXE", 35, 1, {"firefox"}},
        {"vlc.exe", 20, 3, {"vlc", "vlcAgain", "vlcOther"}},
        {"VLC.EXE", 0, 3, {"vlc", "vlcAgain", "vlcOther"}},
        {"spotify.exe", 20, 0, {}},
        {"vlc", 20, 0, {}},
        {"", 20, 0, {}},
        {"endpoint_tests.exe", 20, 0, {}},
        {"SndVol.exe", 20, 0, {}},
        {"expired.exe", 20, 1, {"expired"}},  // named by its session's identifier
        {"System Idle Process", 20, 0, {}},
        {"firefox.exe", 101, std::nullopt, {}},
        {"firefox.exe", -1, std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + std::to_string(c.value));
        Programs programs;
        EndpointVolume volume(programs.thread(), Programs::names());
        ASSERT_TRUE(volume.open());
        EXPECT_EQ(volume.setProgram(c.program, c.value), c.taken);

        const std::pair<const char*, FakeSession*> sessions[] = {
            {"firefox", programs.firefox.get()},
            {"vlc", programs.vlc.get()},
            {"vlcAgain", programs.vlcAgain.get()},
            {"vlcOther", programs.vlcOther.get()},
            {"systemSounds", programs.systemSounds.get()},
            {"idle", programs.idle.get()},
            {"self", programs.self.get()},
            {"expired", programs.expired.get()},
            {"unknown", programs.unknown.get()}};
        for (const auto& [name, session] : sessions) {
            const std::vector<float> expected =
                c.chosen.count(name) != 0 ? std::vector<float>{static_cast<float>(c.value) / 100.0f}
                                          : std::vector<float>{};
            EXPECT_EQ(session->taken(), expected) << name;
            for (const GUID& context : session->contexts) {
                EXPECT_TRUE(IsEqualGUID(context, kHushwellContext)) << name;
            }
        }
        // The output's own volume and the other output's sessions stay as they are; the other
        // output's session manager is not even asked.
        EXPECT_EQ(programs.speakers.volume.taken(), std::vector<float>{0.5f});
        EXPECT_TRUE(programs.firefoxOnHeadphones->taken().empty());
        EXPECT_EQ(programs.headphones.sessions.enumerations, 0);
        for (const FakeAudioSystem::Call& call : programs.system.allCalls()) {
            EXPECT_EQ(call.what.rfind("unexpected", 0), std::string::npos) << call.what;
        }
    }
}

// A session's calls fail on their own when its process or device went (Windows documents
// AUDCLNT_E_DEVICE_INVALIDATED from GetProcessId): that session is left out, the others set.
TEST(EndpointVolumePrograms, ASessionThatFailsIsLeftOutAndOnlyAStoppedServiceRebuilds) {
    const struct {
        const char* what;
        void (*arrange)(Programs&);
        std::optional<int> taken;
        bool rebuilds;
        const char* error;
    } cases[] = {
        {"one of its sessions refuses", [](Programs& p) { p.vlc->setResult = E_FAIL; },
         std::nullopt, false, "SetMasterVolume: HRESULT 0x80004005"},
        {"one of its sessions is gone",
         [](Programs& p) { p.vlc->setResult = AUDCLNT_E_DEVICE_INVALIDATED; }, 2, false,
         "SetMasterVolume: HRESULT 0x88890004"},
        {"another program's session is gone",
         [](Programs& p) { p.firefox->processIdResult = AUDCLNT_E_DEVICE_INVALIDATED; }, 3, false,
         "GetProcessId: HRESULT 0x88890004"},
        {"another program's session fails", [](Programs& p) { p.firefox->stateResult = E_FAIL; }, 3,
         false, "GetState: HRESULT 0x80004005"},
        {"the audio service stopped",
         [](Programs& p) { p.vlc->setResult = AUDCLNT_E_SERVICE_NOT_RUNNING; }, std::nullopt, true,
         "SetMasterVolume: HRESULT 0x88890010"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Events events;
        Programs programs;
        EndpointVolume volume(programs.thread(), Programs::names(), {.retry = 10ms});
        volume.watch(events.handler());
        ASSERT_TRUE(volume.open());
        c.arrange(programs);

        EXPECT_EQ(volume.setProgram("vlc.exe", 20), c.taken);
        EXPECT_EQ(volume.lastError(), c.error);
        // The program's other sessions are set all the same.
        EXPECT_EQ(programs.vlcAgain->taken(), std::vector<float>{0.2f});
        EXPECT_EQ(programs.vlcOther->taken(), std::vector<float>{0.2f});
        if (c.rebuilds) {
            ASSERT_TRUE(events.waitFor(1));
            EXPECT_EQ(events.seen(), std::vector<Kind>{Kind::ServerBack});
            EXPECT_EQ(programs.made, 2);
        } else {
            EXPECT_EQ(volume.setProgram("vlc.exe", 20), c.taken);
            EXPECT_EQ(programs.made, 1);
            EXPECT_TRUE(events.seen().empty());
        }
        programs.vlc->setResult = S_OK;
        EXPECT_EQ(volume.setProgram("vlc.exe", 30), 3);
        EXPECT_EQ(programs.vlc->level.load(), 0.3f);
    }
}

TEST(EndpointVolumePrograms, ANewSessionOnTheDefaultOutputIsToldAsAStreamStartedUntilTheEnd) {
    Events events;
    Programs programs;
    {
        EndpointVolume volume(programs.thread(), Programs::names());
        volume.watch(events.handler());
        ASSERT_TRUE(volume.open());
        ASSERT_NE(programs.speakers.sessions.registered(), nullptr);

        // Windows tells of a new session on a thread of its own.
        programs.speakers.sessions.add(
            *Programs::Session(new FakeSession(programs.system, 707, Programs::kSpotify)).get());
        ASSERT_TRUE(events.waitFor(1));
        EXPECT_EQ(events.seen(), std::vector<Kind>{Kind::StreamStarted});
        EXPECT_EQ(volume.setProgram("spotify.exe", 20), 1);

        // The registration follows the default output.
        programs.enumerator.setDefault(&programs.headphones);
        programs.enumerator.announce(eRender, eConsole, kHeadphonesWide);
        ASSERT_TRUE(events.waitFor(2));
        EXPECT_EQ(events.seen(), (std::vector<Kind>{Kind::StreamStarted, Kind::OutputChanged}));
        EXPECT_EQ(programs.speakers.sessions.registered(), nullptr);
        ASSERT_NE(programs.headphones.sessions.registered(), nullptr);
        EXPECT_EQ(volume.playingPrograms(), std::vector<std::string>{"firefox.exe"});
        EXPECT_EQ(volume.setProgram("firefox.exe", 20), 1);
        EXPECT_EQ(programs.firefoxOnHeadphones->taken(), std::vector<float>{0.2f});
        EXPECT_TRUE(programs.firefox->taken().empty());
        programs.headphones.sessions.add(
            *Programs::Session(new FakeSession(programs.system, 707, Programs::kSpotify)).get());
        ASSERT_TRUE(events.waitFor(3));
        EXPECT_EQ(events.seen().back(), Kind::StreamStarted);
    }
    // Windows may still be in a callback it began before an unregistration returned: the clients
    // outlive the provider and its thread, and their news reaches nobody.
    std::thread([&] {
        EXPECT_EQ(programs.enumerator.lastClient->OnDefaultDeviceChanged(eRender, eConsole,
                                                                         kHeadphonesWide),
                  S_OK);
        EXPECT_EQ(programs.headphones.sessions.lastNotification->OnSessionCreated(nullptr), S_OK);
    }).join();
    EXPECT_EQ(events.seen().size(), 3u);
    programs.expectAllReleased();
}

// Where the output's sessions cannot be had the output's own volume still works, and the provider
// says it has no volume per program.
TEST(EndpointVolumePrograms, WithoutTheOutputsSessionsThereIsNoVolumePerProgram) {
    const struct {
        const char* what;
        void (*arrange)(Programs&);
        const char* error;
    } cases[] = {
        {"no session manager",
         [](Programs& p) { p.speakers.activateSessionsResult = E_NOINTERFACE; },
         "Activate(IAudioSessionManager2): HRESULT 0x80004002"},
        {"a stub enumerator (Wine 8)",
         [](Programs& p) { p.speakers.sessions.enumerateResult = E_NOTIMPL; },
         "GetSessionEnumerator: HRESULT 0x80004001"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Programs programs;
        c.arrange(programs);
        EndpointVolume volume(programs.thread(), Programs::names());
        ASSERT_TRUE(volume.open());
        EXPECT_FALSE(volume.hasProgramVolume());
        EXPECT_EQ(volume.lastError(), c.error);
        EXPECT_TRUE(volume.playingPrograms().empty());
        EXPECT_EQ(volume.setProgram("firefox.exe", 20), std::nullopt);
        EXPECT_TRUE(programs.firefox->taken().empty());
        EXPECT_EQ(volume.set(20), kSpeakers);
        EXPECT_EQ(programs.made, 1);
    }
}

// Sessions refused when the provider opened (the audio service busy at log-in) and had later:
// from then on there is a volume per program.
TEST(EndpointVolumePrograms, SessionsHadAfterTheOpenGiveAVolumePerProgram) {
    Programs programs;
    programs.speakers.sessions.enumerateResult = E_FAIL;
    EndpointVolume volume(programs.thread(), Programs::names());
    ASSERT_TRUE(volume.open());
    EXPECT_FALSE(volume.hasProgramVolume());
    programs.speakers.sessions.enumerateResult = S_OK;
    EXPECT_FALSE(volume.playingPrograms().empty());
    EXPECT_TRUE(volume.hasProgramVolume());
}

// Under the volume's owner, through the provider table, with a program chosen. Sessions refused at
// the open (the audio service busy at log-in) are asked for again each retry period: once they
// come, with no new value, the program is lowered and the output gets its Up level back. The
// output switched during a break: the program's sessions left behind (a player pinned to that
// output) keep the Down level until the break ends, when they get Up.
TEST(EndpointVolumePrograms, AChosenProgramGetsItsSessionsLateAndOnTheOutputLeftBehind) {
    Programs programs;
    programs.speakers.sessions.enumerateResult = E_FAIL;
    const std::unique_ptr<VolumeOwner> volume = programs.owner(20ms);
    volume->set(20);
    ASSERT_TRUE(eventually([&] { return programs.speakers.volume.level.load() == 0.2f; }));
    programs.speakers.sessions.enumerateResult = S_OK;
    EXPECT_TRUE(eventually([&] { return programs.firefox->level.load() == 0.2f; }));
    EXPECT_TRUE(eventually([&] { return programs.speakers.volume.level.load() == 0.65f; }));
    EXPECT_TRUE(eventually([&] { return volume->hasProgramVolume(); }));

    programs.enumerator.setDefault(&programs.headphones);
    programs.enumerator.announce(eRender, eConsole, kHeadphonesWide);
    ASSERT_TRUE(eventually([&] { return programs.firefoxOnHeadphones->level.load() == 0.2f; }));
    (void)volume->locate();  // behind whatever the switch brought, on the owner's thread
    EXPECT_EQ(programs.firefox->level.load(), 0.2f);
    volume->set(65);
    EXPECT_TRUE(eventually([&] { return programs.firefoxOnHeadphones->level.load() == 0.65f; }));
    EXPECT_TRUE(eventually([&] { return programs.firefox->level.load() == 0.65f; }));
    volume->finish();
    EXPECT_TRUE(programs.headphones.volume.taken().empty());
}

// A player that moved with the output leaves an expired session on the first one, where Windows
// keeps its Down level for the program's next stream: the Up level goes to that session, so the
// player started again there (a new process) plays at Up.
TEST(EndpointVolumePrograms, AProgramThatMovedWithTheOutputGetsUpOnTheSessionItLeft) {
    Programs programs;
    const std::unique_ptr<VolumeOwner> volume = programs.owner();
    volume->set(20);
    ASSERT_TRUE(eventually([&] { return programs.firefox->level.load() == 0.2f; }));
    programs.firefox->state = AudioSessionStateExpired;
    programs.enumerator.setDefault(&programs.headphones);
    programs.enumerator.announce(eRender, eConsole, kHeadphonesWide);
    ASSERT_TRUE(eventually([&] { return programs.firefoxOnHeadphones->level.load() == 0.2f; }));
    volume->set(65);
    ASSERT_TRUE(eventually([&] { return programs.firefoxOnHeadphones->level.load() == 0.65f; }));
    EXPECT_TRUE(eventually([&] { return programs.firefox->level.load() == 0.65f; }));
    volume->finish();

    const Programs::Session back{new FakeSession(programs.system, 102, Programs::kFirefox)};
    programs.speakers.sessions.add(*back.get());
    EXPECT_EQ(back->level.load(), 0.65f);
}

// Sessions that could not be had when the output was bound are tried again when asked for.
TEST(EndpointVolumePrograms, TheSessionsOfAnOutputThatRefusedThemAreTriedAgain) {
    Events events;
    Programs programs;
    EndpointVolume volume(programs.thread(), Programs::names());
    volume.watch(events.handler());
    ASSERT_TRUE(volume.open());
    programs.headphones.sessions.enumerateResult = E_FAIL;
    programs.enumerator.setDefault(&programs.headphones);
    programs.enumerator.announce(eRender, eConsole, kHeadphonesWide);
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(volume.setProgram("firefox.exe", 20), std::nullopt);
    EXPECT_TRUE(volume.playingPrograms().empty());
    EXPECT_EQ(volume.set(20), kHeadphones);

    programs.headphones.sessions.enumerateResult = S_OK;
    EXPECT_EQ(volume.setProgram("firefox.exe", 20), 1);
    EXPECT_EQ(programs.firefoxOnHeadphones->taken(), std::vector<float>{0.2f});
    EXPECT_NE(programs.headphones.sessions.registered(), nullptr);
    EXPECT_TRUE(volume.hasProgramVolume());
    EXPECT_EQ(programs.made, 1);
}

TEST(EndpointVolumePrograms, AProcessIsNamedByItsExecutablesFileName) {
    EXPECT_EQ(executableName(GetCurrentProcessId()), "endpoint_tests.exe");
    EXPECT_EQ(executableName(0), "");
    EXPECT_EQ(executableName(0xFFFFFFF0UL), "");  // no such process
}

TEST(EndpointVolumePrograms, ProgramsAreComparedAsWindowsComparesFileNames) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"firefox.exe", "firefox.exe", true},
        {"firefox.exe", "FIREFOX.EXE", true},
        {"\xc3\x84rger.exe", "\xc3\xa4RGER.EXE", true},  // Ärger.exe, ärger.exe
        {"firefox.exe", "firefox", false},
        {"vlc.exe", "vlc.exe ", false},
        {"", "", true},
        {"", "a.exe", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sameProgram(c.a, c.b), c.same) << c.a << " / " << c.b;
    }
}

TEST(EndpointVolumePrograms, ASessionIdentifierNamesItsExecutable) {
    const struct {
        const wchar_t* identifier;
        const char* program;
    } cases[] = {
        {L"{0.0.0.00000000}.{b3f8fa53}|\\Device\\HarddiskVolume3\\Mozilla "
         L"Firefox\\firefox.exe%b{00000000-0000-0000-0000-000000000000}",
         "firefox.exe"},
        {L"{0.0.0.00000000}.{b3f8fa53}|C:\\\u00c4rger.exe%b{0}|1%b4242", "\xc3\x84rger.exe"},
        {L"{0.0.0.00000000}.{b3f8fa53}|\\Device\\vlc.exe", "vlc.exe"},
        {L"{0.0.0.00000000}.{b3f8fa53}|#%b{a9ef3fd9-4240-455e-a4d5-f2b3301887b2}", ""},
        {L"{0.0.0.00000000}.{b3f8fa53}", ""},
        {L"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(identifiedProgram(c.identifier), c.program) << c.program;
    }
}

// Wine 8's endpoint volume is a stub: the table falls to winmm and says why. A Wine whose endpoint
// volume takes a value has it chosen.
TEST(EndpointVolumeUnderWine, TheEndpointVolumeIsTriedFirstAndWinmmOpensWhereItRefuses) {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr) {
        GTEST_SKIP() << "not under Wine";
    }
    EndpointVolume endpoint;
    const bool endpointOpens = endpoint.open();
    std::vector<std::string> log;
    ChosenProvider volume(platformProviders(),
                          [&](const std::string& line) { log.push_back(line); });
    ASSERT_TRUE(volume.open());
    EXPECT_EQ(volume.chosen(), endpointOpens ? "endpoint volume" : "winmm");
    if (!endpointOpens) {
        EXPECT_EQ(log.front(), "open: tried endpoint volume: " + endpoint.lastError());
    }
}

// Wine 8's session manager activates but enumerates nothing, and says so; Wine 9.15 and later list
// the sessions.
TEST(EndpointVolumeUnderWine, TheSessionManagerListsOrSaysWhyNot) {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr) {
        GTEST_SKIP() << "not under Wine";
    }
    std::vector<std::string> noted;
    bool bound = false;
    bool listed = false;
    std::thread([&] {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        {
            com::Ref<IMMDeviceEnumerator> enumerator;
            ASSERT_EQ(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                       __uuidof(IMMDeviceEnumerator), enumerator.outVoid()),
                      S_OK);
            com::Ref<IMMDevice> device;
            ASSERT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.out()), S_OK);
            AudioSessions sessions(
                {},
                [&](const char* call, long result) { noted.push_back(com::failure(call, result)); },
                [] {});
            bound = sessions.bind(*device.get());
            EXPECT_EQ(sessions.bound(), bound);
            listed = sessions.programs().has_value();
        }
        CoUninitialize();
    }).join();
    EXPECT_EQ(listed, bound);
    if (!bound) {
        ASSERT_EQ(noted.size(), 1u);
        EXPECT_NE(noted.front().find(": HRESULT 0x"), std::string::npos) << noted.front();
    }
}

}  // namespace
}  // namespace hushwell::testing
