#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct pa_context;
struct pa_mainloop;
struct pa_operation;
struct pa_proplist;
struct pa_server_info;
struct pa_sink_info;
struct pa_sink_input_info;
struct pa_time_event;
struct pollfd;

namespace hushwell {

// When the connection's thread may look at the server again. While audio comes, at most once a
// pause from its last wake-up (the pieces meanwhile wait in the socket or at the server), so that
// a server handing over a piece every few milliseconds (a player asked for a short latency) wakes
// it no more often than the fragment it asked for; otherwise at once. A call from another thread
// ends the wait early.
class WakePacing {
public:
    using Clock = std::chrono::steady_clock;

    void setPause(Clock::duration pause) { m_pause = pause; }
    // Audio was handed over since the thread last woke.
    void audio() { m_audio = true; }
    // Nothing is ready at `now`: until when to wait before waiting for the connection, no later
    // than `timer` (the loop's next timed event), if any.
    [[nodiscard]] Clock::time_point waitUntil(Clock::time_point now,
                                              std::optional<Clock::time_point> timer) const;
    // The thread woke from a wait at `now`.
    void woke(Clock::time_point now) {
        m_wokeAt = now;
        m_audio = false;
    }

private:
    Clock::duration m_pause{};
    Clock::time_point m_wokeAt;
    bool m_audio = false;
};

// The name a stream's program goes by: the binary libpulse records for the client (the same for
// every window and tab of a player), else the name the program gives itself.
[[nodiscard]] std::string programOf(const pa_proplist* properties);

// What the server tells, handed to every listener on the connection's thread, the loop held.
class PulseListener {
public:
    // The server went away, and every stream with it.
    virtual void lost() {}
    // On each connection, and whenever the server's own settings (its default sink) change.
    virtual void server(const pa_server_info& info) { (void)info; }
    // A sink, or a stream playing to one (`started`: just begun), as the server describes it;
    // nullptr when the one of that index is gone, or (PA_INVALID_INDEX) when an answer ended.
    virtual void sink(std::uint32_t index, const pa_sink_info* info) { (void)index, (void)info; }
    virtual void input(std::uint32_t index, const pa_sink_input_info* info, bool started) {
        (void)index, (void)info, (void)started;
    }

protected:
    ~PulseListener() = default;
};

// The process's one connection, "Hushwell", to the PulseAudio server (PipeWire's too), which the
// volume and the capture share: libpulse's loop on a thread of its own, locked but while it waits,
// paced for the capture (WakePacing) except while a caller waits for an answer, so that a volume
// call never sits out a pause. One subscription (the server, sinks, streams), whose news, and the
// descriptions it prompts, go to every listener; one rule for a server that went away: a
// connection afresh half a second later, and again, until it is back, and at once for a caller
// that needs it now (reach()).
class PulseConnection {
public:
    using Clock = std::chrono::steady_clock;

    // The connection of the process, made for its first user and closed once its last is gone.
    [[nodiscard]] static std::shared_ptr<PulseConnection> shared();

    PulseConnection();
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // From another thread: the loop is held until unlock(), which ends its wait.
    void lock() { m_mutex.lock(); }
    void unlock();

    // The rest with the loop held. A listener added while connected is told everything anew.
    void listen(PulseListener& listener);
    void forget(PulseListener& listener);
    [[nodiscard]] pa_context* context() const { return m_context; }
    [[nodiscard]] bool ready() const;
    // Whether the connection is ready by the deadline; one that broke is made afresh at once.
    bool reach(Clock::time_point deadline);
    // Whether the operation finished by the deadline; one that did not is cancelled, so that its
    // callback never runs later on data that is gone.
    bool wait(pa_operation* operation, Clock::time_point deadline);
    // Half a second from now: a connection afresh if the server is away, else every listener told
    // everything anew.
    void retryLater();
    WakePacing& pacing() { return m_pacing; }

private:
    [[nodiscard]] bool good() const;
    void connect();
    void drop();
    void failed();
    void askAll();
    template <typename Done>
    bool waitUntil(Clock::time_point deadline, Done done);
    void tell();
    static int poll(pollfd* fds, unsigned long count, int timeout, void* self);
    static void onServer(pa_context*, const pa_server_info* info, void* self);
    static void onSink(pa_context*, const pa_sink_info* info, int last, void* self);
    template <bool Started>
    static void onInput(pa_context*, const pa_sink_input_info* info, int last, void* self);

    pa_mainloop* m_loop;
    pa_context* m_context = nullptr;
    pa_time_event* m_retry = nullptr;
    std::vector<PulseListener*> m_listeners;
    std::mutex m_mutex;  // held by the loop's thread but while it waits
    WakePacing m_pacing;
    int m_callers = 0;                   // threads waiting for an answer: no pause
    std::condition_variable m_answered;  // the loop went round: what they wait for may be there
    std::mutex m_tellMutex;
    std::condition_variable m_wake;
    bool m_told = false;  // another thread had the loop since it last waited
    std::thread m_thread;
};

}  // namespace hushwell
