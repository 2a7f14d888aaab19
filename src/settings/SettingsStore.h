#pragma once

#include <array>
#include <optional>
#include <string>

namespace hushwell {

constexpr int kPairCount = 8;

// One schedule pair as the settings file holds it: two marks and the Active state (0, 1 or 2).
struct StoredPair {
    std::string down;
    std::string up;
    int state = 0;
};

// The settings file's fields: the Down and Up level texts, then the eight pairs.
struct StoredSettings {
    std::string downLevel;
    std::string upLevel;
    std::array<StoredPair, kPairCount> pairs;
};

// What a load read. The fields count in file order: the two level texts, the eight Down marks,
// the eight Up marks, the eight states; the first `fieldsRead` of them hold what the file gave.
// When the file was not read to the end, `error` says why, naming the file and the field.
struct LoadedSettings {
    static constexpr int kFields = 2 + 3 * kPairCount;

    StoredSettings values;
    int fieldsRead = 0;
    std::string error;
};

// Where the settings are kept between runs.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // What is stored; empty when nothing is.
    [[nodiscard]] virtual std::optional<LoadedSettings> load() = 0;
    // Stores `settings` whole, or leaves what was stored as it was and throws std::runtime_error
    // with a message for the user that names the file and the reason.
    virtual void save(const StoredSettings& settings) = 0;
};

}  // namespace hushwell
