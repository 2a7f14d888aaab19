#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace hushwell {

// The one running copy of the program for this user's sound server (on Windows, this user's
// session): two copies would fight over one volume. A copy that starts while another runs asks
// that one to come to the front instead, or, where it cannot (the other runs in another graphical
// session on the same server), tells the user so and does not run. The claim is the system's own
// (a socket or a pipe that exists while its process does), so a copy that crashed never blocks the
// next start. Only this user's copies answer this user's starts: a name held by another user, or
// one that does not answer within a moment, counts as no copy running.
class SingleInstance {
public:
    // The claim for this process; empty when another copy runs, which has been asked to come to
    // the front, or, when it runs in another session, `elsewhere` (if given) is set to what to
    // tell the user. Touches nothing else, and needs no event loop.
    [[nodiscard]] static std::unique_ptr<SingleInstance> claim(std::string* elsewhere = nullptr);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // From now on, `bringToFront` runs on the application's event loop whenever another start
    // asks for this copy, also while a message box is open.
    void onAsked(std::function<void()> bringToFront);
    // Nothing more is asked of this copy, which still holds the claim: for the program's last
    // moments, once its main loop has ended.
    void stopListening();

    // What a start finds on a name a copy may claim.
    enum class Knock {
        Answered,   // a copy of this user's holds the name, and has been asked to come to the front
        Elsewhere,  // a copy of this user's holds the name in another graphical session
        Gone,       // nothing holds the name any more
        Foreign,    // held by another user's process, or one that does not answer in time
    };

private:
    // Each system's own: how the claim is held, and how a start reaches the copy that holds it.
    struct Listener;
    // Ends a listener where its system's file knows it, so that the common part can hold one.
    struct ListenerDeleter {
        void operator()(Listener* listener) const;
    };
    using ListenerHandle = std::unique_ptr<Listener, ListenerDeleter>;
    // A listener on the claim's name number `index`; empty when the name cannot be had, with
    // `taken` set when something else holds it.
    [[nodiscard]] static ListenerHandle listenOn(int index, bool& taken);
    // Asks the holder of the claim's name number `index` to come to the front, if it is a copy of
    // this user's.
    [[nodiscard]] static Knock knock(int index, std::chrono::steady_clock::time_point deadline);
    // How long a start waits, in all, for a holder of the name that cannot take its knock at once
    // before it runs as if no copy ran.
    [[nodiscard]] static std::chrono::milliseconds answerDeadline();

    explicit SingleInstance(ListenerHandle listener);
    ListenerHandle m_listener;
};

}  // namespace hushwell
