#pragma once

#include <functional>
#include <string>

#include "mixer/MasterVolume.h"

struct pa_context;
struct pa_server_info;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace hushwell {

// Watches the PulseAudio server from libpulse's own thread, through a connection of its own and a
// subscription to the server's changes: reports when the default sink becomes another, when a
// program starts a stream (a new sink input), and when
// the server, after it went away, can be reached again (tried every half second while it is gone).
// Reports come on that thread.
class PulseWatcher {
public:
    using Report = std::function<void(VolumeEvent::Kind)>;

    explicit PulseWatcher(Report report);
    ~PulseWatcher();
    PulseWatcher(const PulseWatcher&) = delete;
    PulseWatcher& operator=(const PulseWatcher&) = delete;

private:
    void connect();
    void retryLater();
    void forget();
    static void onState(pa_context* context, void* self);
    static void onChange(pa_context* context, int facility, unsigned index, void* self);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);

    Report m_report;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    std::string m_defaultSink;
    bool m_lost = false;      // the server went away since the last connection
    bool m_retrying = false;  // a new connection is due
    bool m_stopping = false;
};

}  // namespace hushwell
