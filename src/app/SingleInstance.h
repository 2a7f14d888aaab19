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
    // How a start waits for a copy that is ending: up to `forEnding` for it to let the claim go,
    // `waiting` (if given) called once as the wait begins.
    struct Patience {
        std::chrono::milliseconds forEnding;
        std::function<void()> waiting;
    };

    // The claim for this process; empty when another copy runs, which has been asked to come to
    // the front, or, when it runs in another session, `told` (if given) is set to what to tell
    // the user. A copy that is ending is waited for (up to its volume's own deadline for the end
    // and a margin, saying so on the standard error), and then this start claims; one that is
    // still ending after that leaves `told` saying so. Touches nothing else, and needs no event
    // loop.
    [[nodiscard]] static std::unique_ptr<SingleInstance> claim(std::string* told = nullptr);
    [[nodiscard]] static std::unique_ptr<SingleInstance> claim(std::string* told,
                                                               const Patience& patience);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // From now on, `bringToFront` runs on the application's event loop whenever another start
    // asks for this copy, also while a message box is open.
    void onAsked(std::function<void()> bringToFront);
    // The run is ending: nothing more is asked of this copy, which still holds the claim until it
    // is gone, and a later start is told so and waits for it. From the window's thread, before
    // the last work that may take until the volume's deadline.
    void beginEnding();

    // What a start finds on a name a copy may claim.
    enum class Knock {
        Answered,   // a copy of this user's holds the name, and has been asked to come to the front
        Elsewhere,  // a copy of this user's holds the name in another graphical session
        Ending,     // a copy of this user's holds the name while it ends: it goes shortly
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
