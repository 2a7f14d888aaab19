#include "settings/OptionSchema.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "settings/IniEdits.h"
#include "settings/OptionText.h"

namespace hushwell {
namespace {

// The value's text as the file holds it.
std::string valueText(Option which, const Options& options) {
    if (const auto flag = keyOf(which).flag) {
        return options.*flag ? "true" : "false";
    }
    const std::string& name = options.lowerOnly;
    if (utf8Length(name) > kMaxProgramNameLength) {
        throw std::invalid_argument("the program's name is longer than " +
                                    std::to_string(kMaxProgramNameLength) + " characters");
    }
    if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        throw std::invalid_argument("the program's name holds a line break");
    }
    const bool quote = withoutBlanks(name) != name || unquoted(name) != name;
    return quote ? "\"" + name + "\"" : name;
}

}  // namespace

const OptionKey& keyOf(Option option) {
    for (const OptionKey& key : kOptionKeys) {
        if (key.option == option) {
            return key;
        }
    }
    throw std::logic_error("an option without a key");
}

bool isOptionSection(std::string_view section) {
    return std::any_of(std::begin(kOptionKeys), std::end(kOptionKeys),
                       [&](const OptionKey& key) { return sameIniName(key.section, section); });
}

bool setsOption(const IniLine& line, const OptionKey& key) {
    return setsIniKey(line, key.section, key.name);
}

std::string withOption(std::string_view text, Option which, const Options& options) {
    const OptionKey& key = keyOf(which);
    return withIniValue(text, key.section, key.name, valueText(which, options));
}

}  // namespace hushwell
