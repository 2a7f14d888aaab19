#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace hushwell {

// Reads comma- or line-separated fields one after another, as the settings file stores them:
// - a field ends at a comma, at CR, LF or CR LF, or at the end of the data;
// - blanks in front of a field are skipped, blanks at the end of an unquoted field dropped;
// - a field that begins with a double quote runs to the next double quote, which is not part of
//   it; anything between the closing quote and the next separator is dropped;
// - a line end where a field begins is an empty field;
// - asking for a field when no data is left is an error (after a trailing comma the field is
//   empty); so is a field longer than a text box holds.
class FieldReader {
public:
    static constexpr std::size_t kMaxFieldLength = 32767;
    // What a message says of a longer field.
    [[nodiscard]] static std::string tooLong() {
        return "is longer than " + std::to_string(kMaxFieldLength) + " characters";
    }

    enum class Failure { EndOfData, TooLong };
    class Error : public std::runtime_error {
    public:
        Error(Failure kind, const std::string& what) : std::runtime_error(what), failure(kind) {}
        Failure failure;
    };

    explicit FieldReader(std::istream& in) : m_in(*in.rdbuf()) {}

    // Throws Error.
    [[nodiscard]] std::string next();

private:
    void append(std::string& field, int c) const;
    void skipPastSeparator();

    std::streambuf& m_in;
    bool m_afterComma = false;
};

// The characters that end a field or open a quoted one. A text box whose text goes into the file
// refuses them, so that whatever is typed there reads back as it was typed.
constexpr std::string_view kFieldSyntax = ",\"\r\n";

// `text` as the file must hold it for FieldReader::next() to give it back unchanged: as it
// stands where that reads back, else between double quotes; nothing when no form does (a double
// quote in a text that needs quoting, or more than kMaxFieldLength characters).
[[nodiscard]] std::optional<std::string> fieldToWrite(std::string_view text);

}  // namespace hushwell
