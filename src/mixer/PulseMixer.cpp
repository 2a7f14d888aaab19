#include "mixer/PulseMixer.h"

#include "mixer/PulseWatcher.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace hushwell {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kFirstConnection{2000};

struct LoopDeleter {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct ContextDeleter {
    void operator()(pa_context* context) const {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};

// The default sink as one query sees it.
struct Sink {
    std::uint32_t index = 0;
    std::uint8_t channels = 0;
    std::string name;
};

// A playing stream as one query sees it, under the name a program is chosen by.
struct Stream {
    std::uint32_t index = 0;
    std::uint8_t channels = 0;
    std::string program;
};

// The name a stream's program goes by: the binary libpulse records for the client (the same for
// every window and tab of a player), else the name the program gives itself.
std::string programOf(const pa_proplist* properties) {
    for (const char* key : {PA_PROP_APPLICATION_PROCESS_BINARY, PA_PROP_APPLICATION_NAME}) {
        const char* value = pa_proplist_gets(properties, key);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

// One connection to the server with its own main loop.
class Session {
public:
    explicit Session(Clock::time_point deadline) {
        m_loop.reset(pa_mainloop_new());
        if (!m_loop) {
            return;
        }
        m_context.reset(pa_context_new(pa_mainloop_get_api(m_loop.get()), "Hushwell"));
        if (!m_context ||
            pa_context_connect(m_context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            return;
        }
        (void)runUntil(
            [this] {
                return state() != PA_CONTEXT_CONNECTING && state() != PA_CONTEXT_AUTHORIZING &&
                       state() != PA_CONTEXT_SETTING_NAME && state() != PA_CONTEXT_UNCONNECTED;
            },
            deadline);
    }

    [[nodiscard]] bool ready() const { return m_context && state() == PA_CONTEXT_READY; }

    // Takes in what happened while nobody ran the loop: a server that went away since the last
    // call has closed the connection, and the context says so only once the loop has seen it.
    void catchUp() {
        if (m_loop) {
            while (pa_mainloop_iterate(m_loop.get(), 0, nullptr) > 0) {
            }
        }
    }

    // The default sink, if the server names one and it exists.
    std::optional<Sink> defaultSink(Clock::time_point deadline) {
        std::optional<std::string> name;
        if (!wait(pa_context_get_server_info(m_context.get(), &Session::onServerInfo, &name),
                  deadline) ||
            !name || name->empty()) {
            return std::nullopt;
        }
        return sinkNamed(*name, deadline);
    }

    // The sink of that name, if it exists.
    std::optional<Sink> sinkNamed(const std::string& name, Clock::time_point deadline) {
        SinkQuery query;
        if (!wait(pa_context_get_sink_info_by_name(m_context.get(), name.c_str(),
                                                   &Session::onSinkInfo, &query),
                  deadline)) {
            return std::nullopt;
        }
        return query.sink;
    }

    bool setVolume(const Sink& sink, pa_volume_t volume, Clock::time_point deadline) {
        pa_cvolume levels;
        pa_cvolume_set(&levels, sink.channels, volume);
        int success = 0;
        return wait(pa_context_set_sink_volume_by_index(m_context.get(), sink.index, &levels,
                                                        &Session::onSuccess, &success),
                    deadline) &&
               success != 0;
    }

    // Every stream playing to a sink, corked ones included; empty when the query failed.
    std::optional<std::vector<Stream>> streams(Clock::time_point deadline) {
        std::vector<Stream> found;
        if (!wait(
                pa_context_get_sink_input_info_list(m_context.get(), &Session::onSinkInput, &found),
                deadline)) {
            return std::nullopt;
        }
        return found;
    }

    // Sets every stream given at once: all the requests go out before the first answer is
    // awaited, so that the time is one round trip, not one a stream. Returns how many took it;
    // nothing when one was refused or not answered in time (the request may still land: a
    // stream of a lowered program may then stand at that value). A stream that ended between
    // the list and the set counts as refused too: the next try no longer finds it.
    std::optional<int> setVolumes(const std::vector<Stream>& streams, pa_volume_t volume,
                                  Clock::time_point deadline) {
        std::vector<int> successes(streams.size(), 0);  // sized once: the callbacks' addresses
        std::vector<pa_operation*> operations;
        operations.reserve(streams.size());
        for (std::size_t i = 0; i < streams.size(); ++i) {
            pa_cvolume levels;
            pa_cvolume_set(&levels, streams[i].channels, volume);
            operations.push_back(pa_context_set_sink_input_volume(
                m_context.get(), streams[i].index, &levels, &Session::onSuccess, &successes[i]));
        }
        bool allTaken = true;
        for (std::size_t i = 0; i < operations.size(); ++i) {
            // Each is waited for or cancelled: no callback runs once `successes` is gone.
            allTaken = wait(operations[i], deadline) && successes[i] != 0 && allTaken;
        }
        return allTaken ? std::optional(static_cast<int>(streams.size())) : std::nullopt;
    }

private:
    struct SinkQuery {
        std::optional<Sink> sink;
    };

    [[nodiscard]] pa_context_state_t state() const { return pa_context_get_state(m_context.get()); }

    // Runs the main loop until `done` holds, the connection breaks or the deadline passes.
    template <typename Done>
    bool runUntil(Done done, Clock::time_point deadline) {
        while (!done()) {
            if (!PA_CONTEXT_IS_GOOD(state())) {
                return false;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0 ||
                pa_mainloop_prepare(m_loop.get(), static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(m_loop.get()) < 0 || pa_mainloop_dispatch(m_loop.get()) < 0) {
                return false;
            }
        }
        return true;
    }

    // Waits for an operation to finish; one that does not finish in time is cancelled, so that
    // its callback never runs later on data that is gone.
    bool wait(pa_operation* operation, Clock::time_point deadline) {
        if (operation == nullptr) {
            return false;
        }
        const bool done = runUntil(
            [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
            deadline);
        const bool finished = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
        if (!finished) {
            pa_operation_cancel(operation);
        }
        pa_operation_unref(operation);
        return finished;
    }

    static void onServerInfo(pa_context*, const pa_server_info* info, void* data) {
        auto* name = static_cast<std::optional<std::string>*>(data);
        if (info != nullptr && info->default_sink_name != nullptr) {
            *name = info->default_sink_name;
        }
    }

    static void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data) {
        auto* query = static_cast<SinkQuery*>(data);
        if (eol == 0 && info != nullptr) {
            query->sink =
                Sink{info->index, info->volume.channels, info->name != nullptr ? info->name : ""};
        }
    }

    static void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* data) {
        // A stream without a volume of its own (a passthrough one) is no program's to lower.
        if (eol == 0 && info != nullptr && info->has_volume != 0 && info->volume_writable != 0) {
            static_cast<std::vector<Stream>*>(data)->push_back(
                Stream{info->index, info->volume.channels, programOf(info->proplist)});
        }
    }

    static void onSuccess(pa_context*, int success, void* data) {
        *static_cast<int*>(data) = success;
    }

    std::unique_ptr<pa_mainloop, LoopDeleter> m_loop;
    // Declared after the loop, so it is disconnected before the loop is freed.
    std::unique_ptr<pa_context, ContextDeleter> m_context;
};

class PulseMixer final : public MasterVolume {
public:
    explicit PulseMixer(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

    // A server that is busy at login is given longer than a call: giving up here means the
    // program takes ALSA for the whole run, whose PulseAudio plugin waits without a limit.
    bool open() override {
        if (!connected(Clock::now() + std::max(m_timeout, kFirstConnection))) {
            return false;
        }
        m_watcher = std::make_unique<PulseWatcher>([this](VolumeEvent::Kind kind) {
            const std::lock_guard lock(m_handlerMutex);
            if (m_handler) {
                m_handler({kind, 0});
            }
        });
        return true;
    }

    // A server that has just started may not have chosen its default sink yet (PipeWire's
    // session manager does so a little after the server answers): it is given a second.
    std::optional<std::int32_t> locate() override {
        const auto until = Clock::now() + std::chrono::seconds(1);
        while (m_session && !m_session->defaultSink(Clock::now() + m_timeout)) {
            if (Clock::now() >= until) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        m_located = m_session != nullptr;
        return m_located ? std::optional(static_cast<std::int32_t>(PA_VOLUME_NORM)) : std::nullopt;
    }

    // The sink that is the default now: the program follows the user's choice of output.
    std::optional<std::string> set(std::int32_t value) override {
        if (!m_located || !valid(value)) {
            return std::nullopt;
        }
        const auto deadline = Clock::now() + m_timeout;
        if (!connected(deadline)) {
            return std::nullopt;
        }
        const std::optional<Sink> sink = m_session->defaultSink(deadline);
        if (sink && m_session->setVolume(*sink, static_cast<pa_volume_t>(value), deadline)) {
            return sink->name;
        }
        dropBrokenSession();
        return std::nullopt;
    }

    bool setOn(const std::string& output, std::int32_t value) override {
        if (!m_located || !valid(value)) {
            return false;
        }
        const auto deadline = Clock::now() + m_timeout;
        if (!connected(deadline)) {
            return false;
        }
        const std::optional<Sink> sink = m_session->sinkNamed(output, deadline);
        if (sink && m_session->setVolume(*sink, static_cast<pa_volume_t>(value), deadline)) {
            return true;
        }
        dropBrokenSession();
        return false;
    }

    bool hasProgramVolume() const override { return true; }

    std::vector<std::string> playingPrograms() override {
        const auto deadline = Clock::now() + m_timeout;
        if (!m_located || !connected(deadline)) {
            return {};
        }
        const std::optional<std::vector<Stream>> streams = m_session->streams(deadline);
        if (!streams) {
            dropBrokenSession();
            return {};
        }
        std::vector<std::string> names;
        for (const Stream& stream : *streams) {
            if (!stream.program.empty()) {
                names.push_back(stream.program);
            }
        }
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end()), names.end());
        return names;
    }

    // Streams that end between the list and their turn are not counted, and do not fail the call.
    std::optional<int> setProgram(const std::string& program, std::int32_t value) override {
        if (!m_located || !valid(value) || program.empty()) {
            return std::nullopt;
        }
        const auto deadline = Clock::now() + m_timeout;
        if (!connected(deadline)) {
            return std::nullopt;
        }
        const std::optional<std::vector<Stream>> streams = m_session->streams(deadline);
        if (!streams) {
            dropBrokenSession();
            return std::nullopt;
        }
        std::vector<Stream> chosen;
        std::copy_if(streams->begin(), streams->end(), std::back_inserter(chosen),
                     [&program](const Stream& stream) { return stream.program == program; });
        const std::optional<int> set =
            m_session->setVolumes(chosen, static_cast<pa_volume_t>(value), deadline);
        if (!m_session->ready()) {
            m_session.reset();  // broken meanwhile: what was counted may not have landed
            return std::nullopt;
        }
        return set;
    }

    void watch(const EventHandler& handler) override {
        const std::lock_guard lock(m_handlerMutex);
        m_handler = handler;
    }

private:
    static bool valid(std::int32_t value) {
        return value >= 0 && static_cast<std::uint32_t>(value) <= PA_VOLUME_MAX;
    }

    void dropBrokenSession() {
        if (m_session && !m_session->ready()) {
            m_session.reset();  // connect afresh next time
        }
    }

    // Connects when there is no working connection; false when the server cannot be reached.
    bool connected(Clock::time_point deadline) {
        if (m_session) {
            m_session->catchUp();
        }
        if (!m_session || !m_session->ready()) {
            m_session = std::make_unique<Session>(deadline);
            if (!m_session->ready()) {
                m_session.reset();  // connect afresh next time
                return false;
            }
        }
        return true;
    }

    std::chrono::milliseconds m_timeout;
    std::unique_ptr<Session> m_session;
    bool m_located = false;
    std::mutex m_handlerMutex;
    EventHandler m_handler;
    // Last, so that it stops before the rest goes.
    std::unique_ptr<PulseWatcher> m_watcher;
};

}  // namespace

std::unique_ptr<MasterVolume> pulseMasterVolume(std::chrono::milliseconds timeout) {
    return std::make_unique<PulseMixer>(timeout);
}

}  // namespace hushwell
