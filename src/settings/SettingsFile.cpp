#include "settings/SettingsFile.h"

#include <fstream>

#include "engine/Numbers.h"
#include "settings/FieldReader.h"
#include "settings/PathText.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace hushwell {
namespace {

constexpr const char* kLineEnd = "\r\n";

std::string stateField(int state) {
    return " " + std::to_string(state) + " ";
}

std::string pairName(int index) {
    return "pair " + std::to_string(index + 1);
}

// A field as a message quotes it: short enough to read.
std::string quoted(const std::string& field) {
    constexpr std::size_t kShown = 24;
    return "\"" + (field.size() > kShown ? field.substr(0, kShown) + "..." : field) + "\"";
}

class Loader {
public:
    Loader(const std::string& file, std::istream& in) : m_file(file), m_reader(in) {}

    std::string field(const std::string& what) {
        try {
            return m_reader.next();
        } catch (const FieldReader::Error& error) {
            if (error.failure == FieldReader::Failure::EndOfData) {
                fail("the file ends before " + what);
            }
            fail(what + " is longer than 32767 characters");
        } catch (const std::ios_base::failure& error) {
            fail("the file cannot be read (" + std::string(error.what()) + ")");
        }
    }

    [[noreturn]] void fail(const std::string& detail) const {
        throw RunTimeError("Couldn't load the settings from \"" + m_file + "\": " + detail + ".");
    }

private:
    const std::string& m_file;
    FieldReader m_reader;
};

void loadActiveStates(Loader& loader, Pairs& pairs) {
    for (int i = 0; i < kPairCount; ++i) {
        const std::string what = "the Active state of " + pairName(i);
        const std::string text = loader.field(what);
        int state = 0;
        try {
            state = toInt16(text);
        } catch (const RunTimeError& error) {
            loader.fail(what + ", " + quoted(text) + ", is " + error.what());
        }
        if (state != kInactive && state != kActive && state != kGreyed) {
            loader.fail(what + " is " + std::to_string(state) + "; it must be 0, 1 or 2");
        }
        pairs.setActive(i, state);
        if (leadingNumber(text) == 0.0) {
            pairs.setColour(i, PairColour::ButtonFace);
        }
    }
}

}  // namespace

std::string formatSettings(const StoredLevels& levels, const Pairs& pairs) {
    std::string out = levels.down + "," + levels.up + kLineEnd;
    for (Row row : {Row::Down, Row::Up}) {
        for (int i = 0; i < kPairCount; ++i) {
            out += pairs.mark(row, i) + (i + 1 < kPairCount ? "," : kLineEnd);
        }
    }
    for (int i = 0; i < kPairCount; ++i) {
        out += stateField(pairs[i].active) + (i + 1 < kPairCount ? "," : kLineEnd);
    }
    return out;
}

StoredLevels loadSettings(const std::filesystem::path& file, Pairs& pairs) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw RunTimeError("Couldn't load the settings from \"" + pathText(file) +
                           "\": the file cannot be opened.");
    }
    return loadSettings(in, pathText(file), pairs);
}

StoredLevels loadSettings(std::istream& in, const std::string& name, Pairs& pairs) {
    Loader loader(name, in);
    StoredLevels levels;
    levels.down = loader.field("the Down level");
    levels.up = loader.field("the Up level");
    for (Row row : {Row::Down, Row::Up}) {
        const std::string what = row == Row::Down ? "the Down mark of " : "the Up mark of ";
        for (int i = 0; i < kPairCount; ++i) {
            pairs.setMark(row, i, loader.field(what + pairName(i)));
        }
    }
    loadActiveStates(loader, pairs);
    return levels;
}

bool ordinaryFileExists(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return false;
    }
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
        return false;
    }
#endif
    return true;
}

}  // namespace hushwell
