#include "settings/SettingsFile.h"

#include <stdexcept>

#include "settings/FieldReader.h"
#include "settings/TextNumbers.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace hushwell {
namespace {

constexpr const char* kLineEnd = "\r\n";

std::string pairName(int index) {
    return "pair " + std::to_string(index + 1);
}

// A field as a message quotes it: short enough to read.
std::string quoted(const std::string& field) {
    constexpr std::size_t kShown = 24;
    return "\"" + (field.size() > kShown ? field.substr(0, kShown) + "..." : field) + "\"";
}

// Reads fields in file order into a LoadedSettings; the first failure ends the load with its text.
class Loader {
public:
    Loader(std::istream& in, const std::string& fileName) : m_reader(in), m_fileName(fileName) {}

    // The next field, or empty when the load has ended.
    std::optional<std::string> field(const std::string& what) {
        if (!m_loaded.error.empty()) {
            return std::nullopt;
        }
        try {
            return m_reader.next();
        } catch (const FieldReader::Error& error) {
            fail(error.failure == FieldReader::Failure::EndOfData
                     ? "the file ends before " + what
                     : what + " is longer than 32767 characters");
        } catch (const std::ios_base::failure& error) {
            fail("the file cannot be read (" + std::string(error.what()) + ")");
        }
        return std::nullopt;
    }

    void read(std::string& into, const std::string& what) {
        if (auto text = field(what)) {
            into = std::move(*text);
            ++m_loaded.fieldsRead;
        }
    }

    void readState(int& into, const std::string& what) {
        const std::optional<std::string> text = field(what);
        if (!text) {
            return;
        }
        int state = 0;
        try {
            state = toInt16(*text);
        } catch (const std::exception& error) {
            return fail(what + ", " + quoted(*text) + ", is " + error.what());
        }
        if (state < 0 || state > 2) {
            return fail(what + " is " + std::to_string(state) + "; it must be 0, 1 or 2");
        }
        into = state;
        ++m_loaded.fieldsRead;
    }

    void fail(const std::string& detail) {
        m_loaded.error = "Couldn't load the settings from \"" + m_fileName + "\": " + detail + ".";
    }

    LoadedSettings& loaded() { return m_loaded; }

private:
    FieldReader m_reader;
    const std::string& m_fileName;
    LoadedSettings m_loaded;
};

}  // namespace

std::string formatSettings(const StoredSettings& settings) {
    std::string out = settings.downLevel + "," + settings.upLevel + kLineEnd;
    const auto line = [&out](auto field) {
        for (int i = 0; i < kPairCount; ++i) {
            out += field(i) + (i + 1 < kPairCount ? "," : kLineEnd);
        }
    };
    line([&](int i) { return settings.pairs[i].down; });
    line([&](int i) { return settings.pairs[i].up; });
    line([&](int i) { return " " + std::to_string(settings.pairs[i].state) + " "; });
    return out;
}

LoadedSettings parseSettings(std::istream& in, const std::string& fileName) {
    Loader loader(in, fileName);
    StoredSettings& values = loader.loaded().values;
    loader.read(values.downLevel, "the Down level");
    loader.read(values.upLevel, "the Up level");
    for (int i = 0; i < kPairCount; ++i) {
        loader.read(values.pairs[i].down, "the Down mark of " + pairName(i));
    }
    for (int i = 0; i < kPairCount; ++i) {
        loader.read(values.pairs[i].up, "the Up mark of " + pairName(i));
    }
    for (int i = 0; i < kPairCount; ++i) {
        loader.readState(values.pairs[i].state, "the Active state of " + pairName(i));
    }
    return std::move(loader.loaded());
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
