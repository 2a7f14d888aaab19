#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mixer/MasterVolume.h"
#include "mixer/SystemVolume.h"

namespace hushwell {

// The one owner of the system's volume: it runs the provider on a thread of its own and keeps
// the one record of the volume (the Up value, the value wanted now, the value that landed and on
// which output), and alone applies its rules:
//  - the value wanted is sent again when the sound server comes back, and when the system's
//    output changes while the volume is held away from the Up value, so the held level follows
//    the output;
//  - an output left behind while held gets the Up value, and so do the chosen program's streams
//    on it (a provider whose program volumes stay with an output names where they took it);
//  - with a program chosen (lowerOnly()), the value wanted goes to that program's streams instead
//    of the output, and again to them when a stream starts while it stands away from Up, so that
//    a stream started during a break goes down too; a target given up while held gets Up back,
//    and a program among them that plays nothing then is owed it until a stream of it starts;
//  - what landed, or not, is told to the core as a Taken or Refused event, on the core's thread
//    (through `post`), and to an observer (the crash guard) as a Record, on the mixer's thread.
// No call waits for the provider but open() and locate() (start-up needs their answer), and those
// no longer than a deadline: a provider that does not answer by then counts as none. The thread
// starts with the first call.
class VolumeOwner final : public SystemVolume {
public:
    // Runs a task on the thread that owns this volume (the window's).
    using Post = std::function<void(std::function<void()>)>;
    struct Deadlines {
        std::chrono::milliseconds answer{5000};  // for open() and locate()
        std::chrono::milliseconds finish{3000};  // for what is still to be sent at the end
    };
    // What an observer learns: the Up value in the scale's units, the scale, whether the volume
    // may stand away from the Up value (from just before another value is sent until the Up
    // value has landed), and what is held: the program whose streams (empty: the output).
    // A program that had no stream when its value landed has nothing away from Up: not held.
    // `owed`: programs held before the target changed whose Up value found no stream; the server
    // keeps their Down level for their next stream, so they are owed Up until one of them took it.
    struct Record {
        std::int32_t upValue = 0;
        std::int32_t scale = 0;
        bool held = false;
        std::string program;
        std::vector<std::string> owed;
        bool operator==(const Record&) const = default;
    };
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
    // The Up value of an earlier run that ended held (`value` of a scale running to `scale`, for
    // the streams of `held`, the output when empty, nothing when none): it is put back as soon as
    // the volume is located, before anything asked later. The programs it was `owed` to stay owed
    // it until one of their streams took it.
    void putBackFirst(std::int32_t value, std::int32_t scale,
                      std::optional<std::string> held = std::string(),
                      std::vector<std::string> owed = {});

private:
    struct Shared;
    template <typename Result>
    std::optional<Result> ask(std::function<Result(Shared&)> call);
    void start();

    std::shared_ptr<Shared> m_shared;  // shared with the thread, which may outlive this
    Deadlines m_deadlines;
};

}  // namespace hushwell
