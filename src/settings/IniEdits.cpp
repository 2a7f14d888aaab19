#include "settings/IniEdits.h"

#include <optional>

#include "platform/LineEnd.h"

namespace hushwell {
namespace {

using Kind = IniLine::Kind;

std::string_view lineEndOf(std::string_view text) {
    const std::size_t newline = text.find('\n');
    if (newline == std::string_view::npos) {
        return systemLineEnd();
    }
    return newline > 0 && text[newline - 1] == '\r' ? "\r\n" : "\n";
}

// The line that sets `key`: the last one in its section; none when no line does.
std::optional<IniLine> countingLine(std::string_view text, std::string_view section,
                                    std::string_view key) {
    std::optional<IniLine> found;
    IniLines lines(text);
    for (IniLine line; lines.next(line);) {
        if (setsIniKey(line, section, key)) {
            found = line;
        }
    }
    return found;
}

}  // namespace

std::string withIniValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value) {
    const std::string_view lineEnd = lineEndOf(text);
    std::string result(text);
    if (const std::optional<IniLine> counting = countingLine(text, section, key)) {
        result.replace(counting->valueBegin, counting->bodyEnd - counting->valueBegin, value);
        return result;
    }
    const std::string line = std::string(key) + "=" + std::string(value);
    std::optional<IniLine> after;
    std::optional<IniLine> last;
    bool inside = false;
    IniLines lines(text);
    for (IniLine each; lines.next(each); last = each) {
        if (each.kind == Kind::Section) {
            inside = sameIniName(each.section, section);
        }
        if (inside && each.kind != Kind::Blank) {
            after = each;
        }
    }
    const bool endless = last && text.back() != '\n';  // a last line without its end
    if (after) {
        const bool atTheEnd = after->number == last->number;
        result.insert(after->next, std::string(atTheEnd && endless ? lineEnd : "") + line +
                                       std::string(lineEnd));
        return result;
    }
    if (endless) {
        result += lineEnd;
    }
    if (last) {
        result += lineEnd;
    }
    result += "[" + std::string(section) + "]" + std::string(lineEnd) + line + std::string(lineEnd);
    return result;
}

std::string withoutIniLines(std::string_view text,
                            const std::function<bool(const IniLine&)>& drop) {
    std::string result;
    std::size_t kept = 0;  // where the text not yet copied starts
    IniLines lines(text);
    for (IniLine line; lines.next(line);) {
        if (drop(line)) {
            const auto begin = static_cast<std::size_t>(line.body.data() - text.data());
            result.append(text.substr(kept, begin - kept));
            kept = line.next;
        }
    }
    result.append(text.substr(kept));
    return result;
}

}  // namespace hushwell
