#include "settings/OptionText.h"

namespace hushwell {
namespace {

constexpr std::size_t kQuotedLength = 60;

}  // namespace

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0x80           ? 1
                                   : (byte >> 5) == 0x6  ? 2
                                   : (byte >> 4) == 0xE  ? 3
                                   : (byte >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::size_t utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) >> 6) != 0x2 ? 1 : 0;
    }
    return count;
}

std::string quotedInMessage(std::string_view text) {
    return text.size() <= kQuotedLength ? std::string(text)
                                        : std::string(text.substr(0, kQuotedLength)) + "...";
}

std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace hushwell
