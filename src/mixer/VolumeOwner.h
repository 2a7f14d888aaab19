#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mixer/MasterVolume.h"
#include "mixer/SystemVolume.h"
#include "mixer/VolumeRules.h"

namespace hushwell {

// The one owner of the system's volume: the provider and the volume's rules (VolumeRules) on a
// thread of its own. What landed, or not, is told to the core as a Taken or Refused event, on the
// core's thread (through `post`), and the record to an observer (the crash guard), on the mixer's
// thread. No call waits for the provider but open() and locate() (start-up needs their answer),
// and those no longer than a deadline: a provider that does not answer by then counts as none.
// The thread starts with the first call.
class VolumeOwner final : public SystemVolume {
public:
    // Runs a task on the thread that owns this volume (the window's).
    using Post = std::function<void(std::function<void()>)>;
    struct Deadlines {
        std::chrono::milliseconds answer{5000};  // for open() and locate()
        std::chrono::milliseconds finish{3000};  // for what is still to be sent at the end
    };
    using Record = VolumeRules::Record;
    using Observer = std::function<void(const Record&)>;

    VolumeOwner(std::unique_ptr<MasterVolume> provider, Post post, Deadlines deadlines);
    VolumeOwner(std::unique_ptr<MasterVolume> provider, Post post)
        : VolumeOwner(std::move(provider), std::move(post), Deadlines{}) {}
    ~VolumeOwner() override;
    VolumeOwner(const VolumeOwner&) = delete;
    VolumeOwner& operator=(const VolumeOwner&) = delete;

    bool open() override;
    std::optional<std::int32_t> locate() override;
    void setUpValue(std::int32_t value) override;
    void set(std::int32_t value) override;
    void watch(const EventHandler& handler) override;
    // Sends what is still to be sent, then stops the thread. A provider that is stuck past the
    // deadline is left to it: the thread is let go, keeping what it works on.
    void finish() override;

    // What the value wanted goes to from now on: the streams of `program`, or the whole output
    // when it is empty. Whatever the earlier target held gets the Up value first.
    void lowerOnly(std::string program);
    // Whether the provider has a volume per program; false until open() answered.
    [[nodiscard]] bool hasProgramVolume() const;
    // Asks the provider, on the mixer's thread, which programs play now; `reply` gets them on the
    // core's thread (through `post`). Never waits.
    void askPlayingPrograms(std::function<void(std::vector<std::string>)> reply);

    // Where each change of the record goes, on the mixer's thread. Set it before the first call.
    void observe(Observer observer);
    // Tells the observer the record again, changed or not (a new guard needs to learn it).
    void tellAgain();
    // The Up value of an earlier run that ended held (see VolumeRules::EarlierRun): it is put
    // back as soon as the volume is located, before anything asked later. The programs it was
    // owed to, on any output or on one they left, stay owed it until one of their streams took it.
    void putBackFirst(VolumeRules::EarlierRun earlier);

private:
    struct Shared;
    template <typename Result>
    std::optional<Result> ask(std::function<Result(VolumeRules&)> call);
    // Queued behind what was asked before; never waits.
    void onThread(std::function<void(VolumeRules&)> task);
    void start();

    std::shared_ptr<Shared> m_shared;  // shared with the thread, which may outlive this
    Deadlines m_deadlines;
};

}  // namespace hushwell
