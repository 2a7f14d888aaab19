#include "mixer/pulse/PulseMixer.h"

#include "mixer/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hushwell {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kFirstConnection{2000};

// A sink, or a playing stream under the name a program is chosen by, as one query sees it.
struct Sink {
    std::uint32_t index = 0;
    std::uint8_t channels = 0;
    std::string name;
    pa_volume_t volume = 0;  // a sink's loudest channel
};
using Stream = Sink;

class PulseMixer final : public MasterVolume, PulseListener {
public:
    explicit PulseMixer(std::chrono::milliseconds timeout) : m_timeout(timeout) {
        const std::lock_guard hold(*m_connection);
        m_connection->listen(*this);
    }

    ~PulseMixer() override {
        const std::lock_guard hold(*m_connection);
        m_connection->forget(*this);
    }

    PulseMixer(const PulseMixer&) = delete;
    PulseMixer& operator=(const PulseMixer&) = delete;

    // A server that is busy at login is given longer than a call: giving up here means the
    // program takes ALSA for the whole run, whose PulseAudio plugin waits without a limit.
    bool open() override {
        const std::lock_guard hold(*m_connection);
        return m_connection->reach(Clock::now() + std::max(m_timeout, kFirstConnection));
    }

    // A server that has just started may not have chosen its default sink yet (PipeWire's
    // session manager does so a little after the server answers): it is given a second.
    std::optional<std::int32_t> locate() override {
        const auto until = Clock::now() + std::chrono::seconds(1);
        while (true) {
            {
                const std::lock_guard hold(*m_connection);
                const auto deadline = Clock::now() + m_timeout;
                if (!m_connection->reach(deadline)) {
                    return std::nullopt;
                }
                if (const auto name = defaultSinkName(deadline);
                    name && sinkNamed(*name, deadline)) {
                    m_located = true;
                    return static_cast<std::int32_t>(PA_VOLUME_NORM);
                }
            }
            if (Clock::now() >= until) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    // The sink that is the default now: the program follows the user's choice of output.
    std::optional<std::string> set(std::int32_t value) override { return setSink({}, value); }

    bool setOn(const std::string& output, std::int32_t value) override {
        return setSink(output, value).has_value();
    }

    std::optional<std::int32_t> volumeNow() override {
        const std::lock_guard hold(*m_connection);
        const auto deadline = Clock::now() + m_timeout;
        if (!m_located || !m_connection->reach(deadline)) {
            return std::nullopt;
        }
        const std::optional<std::string> name = defaultSinkName(deadline);
        const std::optional<Sink> sink = name ? sinkNamed(*name, deadline) : std::nullopt;
        return sink ? std::optional(static_cast<std::int32_t>(sink->volume)) : std::nullopt;
    }

    bool hasProgramVolume() const override { return true; }

    std::vector<std::string> playingPrograms() override {
        const std::lock_guard hold(*m_connection);
        std::vector<std::string> names;
        for (const Stream& stream :
             streams(Clock::now() + m_timeout).value_or(std::vector<Stream>{})) {
            if (!stream.name.empty()) {
                names.push_back(stream.name);
            }
        }
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end()), names.end());
        return names;
    }

    // Sets every stream of the program at once: all the requests go out before the first answer
    // is awaited, so that the time is one round trip, not one a stream. Streams that end between
    // the list and their turn are not counted, and do not fail the call; nothing when one was
    // refused or not answered in time (the request may still land: a stream of a lowered program
    // may then stand at that value). A stream that ended between the list and the set counts as
    // refused too: the next try no longer finds it.
    std::optional<int> setProgram(const std::string& program, std::int32_t value) override {
        if (!valid(value) || program.empty()) {
            return std::nullopt;
        }
        const std::lock_guard hold(*m_connection);
        const auto deadline = Clock::now() + m_timeout;
        const std::optional<std::vector<Stream>> all = streams(deadline);
        if (!all) {
            return std::nullopt;
        }
        std::vector<Stream> chosen;
        std::copy_if(all->begin(), all->end(), std::back_inserter(chosen),
                     [&program](const Stream& stream) { return stream.name == program; });
        std::vector<int> successes(chosen.size(), 0);  // sized once: the callbacks' addresses
        std::vector<pa_operation*> operations;
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            const pa_cvolume levels = volume(chosen[i].channels, value);
            operations.push_back(pa_context_set_sink_input_volume(
                m_connection->context(), chosen[i].index, &levels, &onSuccess, &successes[i]));
        }
        bool allTaken = true;
        for (std::size_t i = 0; i < operations.size(); ++i) {
            // Each is waited for or cancelled: no callback runs once `successes` is gone.
            allTaken = m_connection->wait(operations[i], deadline) && successes[i] != 0 && allTaken;
        }
        // Broken meanwhile: what was counted may not have landed.
        return allTaken && m_connection->ready() ? std::optional(static_cast<int>(chosen.size()))
                                                 : std::nullopt;
    }

    void watch(const EventHandler& handler) override {
        const std::lock_guard hold(*m_connection);
        m_handler = handler;
    }

private:
    static bool valid(std::int32_t value) {
        return value >= 0 && static_cast<std::uint32_t>(value) <= PA_VOLUME_MAX;
    }

    static pa_cvolume volume(std::uint8_t channels, std::int32_t value) {
        pa_cvolume levels;
        pa_cvolume_set(&levels, channels, static_cast<pa_volume_t>(value));
        return levels;
    }

    // The rest with the connection held.

    // The sink of that name, or the default one (no name), set to `value`: its name, if it took it.
    std::optional<std::string> setSink(std::optional<std::string> name, std::int32_t value) {
        if (!m_located || !valid(value)) {
            return std::nullopt;
        }
        const std::lock_guard hold(*m_connection);
        const auto deadline = Clock::now() + m_timeout;
        if (!m_connection->reach(deadline) || (!name && !(name = defaultSinkName(deadline)))) {
            return std::nullopt;
        }
        const std::optional<Sink> sink = sinkNamed(*name, deadline);
        if (!sink) {
            return std::nullopt;
        }
        const pa_cvolume levels = volume(sink->channels, value);
        int success = 0;
        return m_connection->wait(
                   pa_context_set_sink_volume_by_index(m_connection->context(), sink->index,
                                                       &levels, &onSuccess, &success),
                   deadline) &&
                       success != 0
                   ? sink->name
                   : std::optional<std::string>();
    }

    // The default sink's name, if the server names one.
    std::optional<std::string> defaultSinkName(Clock::time_point deadline) {
        std::optional<std::string> name;
        const bool answered = m_connection->wait(
            pa_context_get_server_info(
                m_connection->context(),
                [](pa_context*, const pa_server_info* info, void* data) {
                    if (info != nullptr && info->default_sink_name != nullptr) {
                        *static_cast<std::optional<std::string>*>(data) = info->default_sink_name;
                    }
                },
                &name),
            deadline);
        return answered && name && !name->empty() ? name : std::nullopt;
    }

    // The sink of that name, if it exists.
    std::optional<Sink> sinkNamed(const std::string& name, Clock::time_point deadline) {
        std::optional<Sink> sink;
        const bool answered = m_connection->wait(
            pa_context_get_sink_info_by_name(
                m_connection->context(), name.c_str(),
                [](pa_context*, const pa_sink_info* info, int eol, void* data) {
                    if (eol == 0 && info != nullptr) {
                        *static_cast<std::optional<Sink>*>(data) = Sink{
                            info->index, info->volume.channels,
                            info->name != nullptr ? info->name : "", pa_cvolume_max(&info->volume)};
                    }
                },
                &sink),
            deadline);
        return answered ? sink : std::nullopt;
    }

    // Every stream playing to a sink, corked ones included, under its program's name; nothing
    // when the query failed.
    std::optional<std::vector<Stream>> streams(Clock::time_point deadline) {
        std::vector<Stream> found;
        if (!m_located || !m_connection->reach(deadline) ||
            !m_connection->wait(
                pa_context_get_sink_input_info_list(
                    m_connection->context(),
                    [](pa_context*, const pa_sink_input_info* info, int eol, void* data) {
                        // A stream without a volume of its own (a passthrough one) is no
                        // program's to lower.
                        if (eol == 0 && info != nullptr && info->has_volume != 0 &&
                            info->volume_writable != 0) {
                            static_cast<std::vector<Stream>*>(data)->push_back(Stream{
                                info->index, info->volume.channels, programOf(info->proplist)});
                        }
                    },
                    &found),
                deadline)) {
            return std::nullopt;
        }
        return found;
    }

    static void onSuccess(pa_context*, int success, void* data) {
        *static_cast<int*>(data) = success;
    }

    // What the connection tells, on its thread.

    void lost() override { m_lost = true; }

    void server(const pa_server_info& info) override {
        if (std::exchange(m_lost, false)) {
            tell(VolumeEvent::Kind::ServerBack);
        }
        if (info.default_sink_name != nullptr) {
            const std::string sink = info.default_sink_name;
            if (!m_defaultSink.empty() && sink != m_defaultSink) {
                tell(VolumeEvent::Kind::OutputChanged);
            }
            m_defaultSink = sink;
        }
    }

    void input(std::uint32_t, const pa_sink_input_info* info, bool started) override {
        if (started && info != nullptr) {
            tell(VolumeEvent::Kind::StreamStarted);
        }
    }

    void tell(VolumeEvent::Kind kind) const {
        if (m_handler) {
            m_handler({kind, 0});
        }
    }

    const std::shared_ptr<PulseConnection> m_connection = PulseConnection::shared();
    std::chrono::milliseconds m_timeout;
    bool m_located = false;
    // Under the connection's lock.
    EventHandler m_handler;
    std::string m_defaultSink;  // as last told
    bool m_lost = false;        // the server went away since it was last told of
};

}  // namespace

std::unique_ptr<MasterVolume> pulseMasterVolume(std::chrono::milliseconds timeout) {
    return std::make_unique<PulseMixer>(timeout);
}

}  // namespace hushwell
