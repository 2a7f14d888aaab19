#include "settings/SettingsFile.h"

#include <stdexcept>

#include "settings/FieldReader.h"
#include "settings/TextNumbers.h"

namespace hushwell {
namespace {

constexpr const char* kLineEnd = "\r\n";

std::string pairName(int index) {
    return "pair " + std::to_string(index + 1);
}

// A field as a message quotes it: short enough to read.
std::string quoted(const std::string& field) {
    return "\"" + shortened(field) + "\"";
}

// The next field; a failure throws its description.
std::string nextField(FieldReader& reader, const std::string& what) {
    try {
        return reader.next();
    } catch (const FieldReader::Error& error) {
        throw std::runtime_error(error.failure == FieldReader::Failure::EndOfData
                                     ? "the file ends before " + what
                                     : what + " " + FieldReader::tooLong());
    } catch (const std::ios_base::failure& error) {
        throw std::runtime_error("the file cannot be read (" + std::string(error.what()) + ")");
    }
}

int stateField(FieldReader& reader, const std::string& what) {
    const std::string text = nextField(reader, what);
    int state = 0;
    try {
        state = toInt16(text);
    } catch (const std::exception& error) {
        throw std::runtime_error(what + ", " + quoted(text) + ", is " + error.what());
    }
    if (state < 0 || state > 2) {
        throw std::runtime_error(what + " is " + std::to_string(state) + "; it must be 0, 1 or 2");
    }
    return state;
}

// `text` as the file holds it so that it reads back unchanged; throws when no form does.
std::string fieldFor(const std::string& text, const std::string& what) {
    std::optional<std::string> field = fieldToWrite(text);
    if (!field) {
        throw std::runtime_error(
            text.size() > FieldReader::kMaxFieldLength
                ? what + " " + FieldReader::tooLong()
                : what + ", " + quoted(text) +
                      ", cannot be stored: a text with a double quote in it cannot also hold a "
                      "comma or a line break, begin with a double quote, or begin or end with a "
                      "blank");
    }
    return std::move(*field);
}

}  // namespace

std::string formatSettings(const StoredSettings& settings) {
    std::string out = fieldFor(settings.downLevel, "the Down level") + "," +
                      fieldFor(settings.upLevel, "the Up level") + kLineEnd;
    const auto line = [&out](auto field) {
        for (int i = 0; i < kPairCount; ++i) {
            out += field(i) + (i + 1 < kPairCount ? "," : kLineEnd);
        }
    };
    line(
        [&](int i) { return fieldFor(settings.pairs[i].down, "the Down mark of " + pairName(i)); });
    line([&](int i) { return fieldFor(settings.pairs[i].up, "the Up mark of " + pairName(i)); });
    line([&](int i) { return " " + std::to_string(settings.pairs[i].state) + " "; });
    return out;
}

LoadedSettings parseSettings(std::istream& in, const std::string& fileName) {
    LoadedSettings loaded;
    StoredSettings& values = loaded.values;
    FieldReader reader(in);
    const auto read = [&](std::string& into, const std::string& what) {
        into = nextField(reader, what);
        ++loaded.fieldsRead;
    };
    try {
        read(values.downLevel, "the Down level");
        read(values.upLevel, "the Up level");
        for (int i = 0; i < kPairCount; ++i) {
            read(values.pairs[i].down, "the Down mark of " + pairName(i));
        }
        for (int i = 0; i < kPairCount; ++i) {
            read(values.pairs[i].up, "the Up mark of " + pairName(i));
        }
        for (int i = 0; i < kPairCount; ++i) {
            values.pairs[i].state = stateField(reader, "the Active state of " + pairName(i));
            ++loaded.fieldsRead;
        }
    } catch (const std::runtime_error& error) {
        loaded.error = loadFailure(fileName, error.what());
    }
    return loaded;
}

std::string loadFailure(const std::string& fileName, const std::string& reason) {
    return "Couldn't load the settings from \"" + fileName + "\": " + reason + ".";
}

}  // namespace hushwell
