#include "settings/FieldReader.h"

#include "settings/TextNumbers.h"

namespace hushwell {
namespace {

constexpr int kEof = std::char_traits<char>::eof();

}  // namespace

void FieldReader::append(std::string& field, int c) const {
    if (field.size() >= kMaxFieldLength) {
        throw Error(Failure::TooLong, "a field " + tooLong());
    }
    field += static_cast<char>(c);
}

// Consumes one separator: a comma, CR LF, a lone CR or a lone LF. At the end of the data there is
// nothing to consume.
void FieldReader::skipPastSeparator() {
    const int c = m_in.sbumpc();
    m_afterComma = c == ',';
    if (c == '\r' && m_in.sgetc() == '\n') {
        m_in.sbumpc();
    }
}

std::string FieldReader::next() {
    int c = m_in.sgetc();
    while (isBlank(c)) {
        m_in.sbumpc();
        c = m_in.sgetc();
    }
    std::string field;
    if (c == kEof) {
        if (!m_afterComma) {
            throw Error(Failure::EndOfData, "the file ends early");
        }
        m_afterComma = false;
        return field;
    }
    if (c == '"') {
        m_in.sbumpc();
        for (c = m_in.sbumpc(); c != '"' && c != kEof; c = m_in.sbumpc()) {
            append(field, c);
        }
        for (c = m_in.sgetc(); c != ',' && c != '\r' && c != '\n' && c != kEof; c = m_in.sgetc()) {
            m_in.sbumpc();
        }
    } else {
        for (; c != ',' && c != '\r' && c != '\n' && c != kEof; c = m_in.sgetc()) {
            append(field, c);
            m_in.sbumpc();
        }
        while (!field.empty() && isBlank(field.back())) {
            field.pop_back();
        }
    }
    skipPastSeparator();
    return field;
}

std::optional<std::string> fieldToWrite(std::string_view text) {
    if (text.size() > FieldReader::kMaxFieldLength) {
        return std::nullopt;
    }
    // next() skips blanks in front, drops blanks at the end of an unquoted field, reads a field
    // that starts with a quote up to the next quote, and ends any other at a separator.
    const bool readsBack =
        text.empty() || (!isBlank(text.front()) && !isBlank(text.back()) && text.front() != '"' &&
                         text.find_first_of(",\r\n") == std::string_view::npos);
    if (readsBack) {
        return std::string(text);
    }
    if (text.find('"') != std::string_view::npos) {
        return std::nullopt;
    }
    return "\"" + std::string(text) + "\"";
}

}  // namespace hushwell
