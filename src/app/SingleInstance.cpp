#include "app/SingleInstance.h"

#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "mixer/VolumeOwner.h"

namespace hushwell {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The names a copy may claim, in order: when another user's process holds one, the copy claims
// the next, and later starts look for it there.
constexpr int kNameCount = 4;

// A copy that is ending lets its claim go once its volume has finished (up to the owner's
// deadline for that) and the rest of the program has ended: this margin.
constexpr std::chrono::milliseconds kEndingMargin = 2s;
constexpr std::chrono::milliseconds kEndingPoll = 20ms;

constexpr const char* kElsewhereMessage =
    "Hushwell is already running in another session of yours that uses the same sound server. "
    "Two copies would fight over one volume, so this one does not start. Close Hushwell there "
    "to use it here.";

constexpr const char* kStillEndingMessage =
    "Hushwell's last run is still ending: it is putting the volume back, and the sound server is "
    "slow to answer. This start waited for it and now gives up, so that two copies do not drive "
    "one volume. Start Hushwell again in a moment.";

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim(std::string* told) {
    return claim(
        told, {VolumeOwner::Deadlines{}.finish + kEndingMargin,
               [] { std::cerr << "Hushwell's last run is ending; this start waits for it.\n"; }});
}

std::unique_ptr<SingleInstance> SingleInstance::claim(std::string* told, const Patience& patience) {
    auto deadline = Clock::now() + answerDeadline();
    bool waited = false;
    // Whether the copy ending on name `index` let it go within the patience left.
    const auto endOf = [&patience, &waited](int index) {
        if (!waited && patience.waiting) {
            patience.waiting();
        }
        waited = true;
        const auto until = Clock::now() + patience.forEnding;
        while (knock(index, Clock::now() + answerDeadline()) == Knock::Ending) {
            if (Clock::now() >= until) {
                return false;
            }
            std::this_thread::sleep_for(kEndingPoll);
        }
        return true;
    };
    const auto runAlone = [] {
        // Rather two copies than none: this one runs, as if it were alone.
        return std::unique_ptr<SingleInstance>(new SingleInstance(nullptr));
    };
    const auto anotherCopyRuns = [told](Knock answer) {
        if (answer == Knock::Elsewhere && told != nullptr) {
            *told = kElsewhereMessage;
        }
        return answer == Knock::Answered || answer == Knock::Elsewhere;
    };
    for (int index = 0; index < kNameCount; ++index) {
        // The holder may end between a failed claim and the knock: then the name is free again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            bool taken = false;
            if (ListenerHandle listener = listenOn(index, taken)) {
                // A copy that started while this name was held by someone else runs on a later
                // one; one that is ending there goes shortly.
                for (int later = index + 1; later < kNameCount; ++later) {
                    if (anotherCopyRuns(knock(later, deadline))) {
                        return nullptr;
                    }
                }
                return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(listener)));
            }
            if (!taken) {
                return runAlone();
            }
            const Knock answer = knock(index, deadline);
            if (anotherCopyRuns(answer)) {
                return nullptr;
            }
            if (answer == Knock::Ending && !endOf(index)) {
                if (told != nullptr) {
                    *told = kStillEndingMessage;
                }
                return nullptr;
            }
            if (answer == Knock::Ending) {
                deadline = Clock::now() + answerDeadline();  // for the copy that may claim next
            }
            if (answer == Knock::Foreign) {
                break;
            }
        }
    }
    return runAlone();
}

SingleInstance::SingleInstance(ListenerHandle listener) : m_listener(std::move(listener)) {}

SingleInstance::~SingleInstance() = default;

}  // namespace hushwell
