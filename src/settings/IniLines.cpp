#include "settings/IniLines.h"

#include <algorithm>

namespace hushwell {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

IniLines::IniLines(std::string_view text)
    : m_text(text), m_at(text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0) {}

bool IniLines::next(IniLine& line) {
    if (m_at >= m_text.size()) {
        return false;
    }
    line = IniLine{};
    line.number = ++m_number;
    const std::size_t newline = m_text.find('\n', m_at);
    line.next = newline == std::string_view::npos ? m_text.size() : newline + 1;
    line.bodyEnd = newline == std::string_view::npos ? m_text.size() : newline;
    if (line.bodyEnd > m_at && m_text[line.bodyEnd - 1] == '\r') {
        --line.bodyEnd;
    }
    line.body = m_text.substr(m_at, line.bodyEnd - m_at);
    m_at = line.next;
    const std::string_view content = withoutBlanks(line.body);
    const std::size_t equals = content.find('=');
    if (content.empty()) {
        line.kind = IniLine::Kind::Blank;
    } else if (content.front() == ';' || content.front() == '#') {
        line.kind = IniLine::Kind::Comment;
    } else if (content.front() == '[' && content.back() == ']') {
        line.kind = IniLine::Kind::Section;
        m_section = withoutBlanks(content.substr(1, content.size() - 2));
        m_inSection = true;
        line.section = m_section;
    } else if (equals != std::string_view::npos && equals > 0) {
        line.kind = IniLine::Kind::Value;
        line.section = m_section;
        line.inSection = m_inSection;
        line.key = withoutBlanks(content.substr(0, equals));
        line.value = withoutBlanks(content.substr(equals + 1));
        line.valueBegin = static_cast<std::size_t>(content.data() - m_text.data()) + equals + 1;
        while (line.valueBegin < line.bodyEnd &&
               (m_text[line.valueBegin] == ' ' || m_text[line.valueBegin] == '\t')) {
            ++line.valueBegin;
        }
    } else {
        line.kind = IniLine::Kind::Other;
    }
    return true;
}

bool sameIniName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

bool setsIniKey(const IniLine& line, std::string_view section, std::string_view key) {
    return line.kind == IniLine::Kind::Value && line.inSection &&
           sameIniName(line.section, section) && sameIniName(line.key, key);
}

std::string_view withoutBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace hushwell
