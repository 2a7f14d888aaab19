#include "app/SingleInstance.h"

#include <memory>
#include <string>
#include <utility>

namespace hushwell {

namespace {

// The names a copy may claim, in order: when another user's process holds one, the copy claims
// the next, and later starts look for it there.
constexpr int kNameCount = 4;

constexpr const char* kElsewhereMessage =
    "Hushwell is already running in another session of yours that uses the same sound server. "
    "Two copies would fight over one volume, so this one does not start. Close Hushwell there "
    "to use it here.";

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim(std::string* elsewhere) {
    const auto deadline = std::chrono::steady_clock::now() + answerDeadline();
    const auto runAlone = [] {
        // Rather two copies than none: this one runs, as if it were alone.
        return std::unique_ptr<SingleInstance>(new SingleInstance(nullptr));
    };
    const auto anotherCopyRuns = [elsewhere](Knock answer) {
        if (answer == Knock::Elsewhere && elsewhere != nullptr) {
            *elsewhere = kElsewhereMessage;
        }
        return answer == Knock::Answered || answer == Knock::Elsewhere;
    };
    for (int index = 0; index < kNameCount; ++index) {
        // The holder may end between a failed claim and the knock: then the name is free again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            bool taken = false;
            if (ListenerHandle listener = listenOn(index, taken)) {
                // A copy that started while this name was held by someone else runs on a later
                // one.
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
