#include "settings/FieldReader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace hushwell {
namespace {

using Fields = std::vector<std::string>;

// Reads fields until the reader runs out of data.
Fields readAll(const std::string& text) {
    std::istringstream in(text);
    FieldReader reader(in);
    Fields fields;
    try {
        for (;;) {
            fields.push_back(reader.next());
        }
    } catch (const FieldReader::Error& error) {
        EXPECT_EQ(error.failure, FieldReader::Failure::EndOfData);
    }
    return fields;
}

TEST(FieldReader, SplitsAtCommasAndEveryKindOfLineEnd) {
    const struct {
        const char* text;
        Fields fields;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a,b\r\nc", {"a", "b", "c"}},
        {"a\rb\nc\r\n", {"a", "b", "c"}},
        {",\r\n", {"", ""}},
        {"a,", {"a", ""}},
        {"a,,b", {"a", "", "b"}},
        {"  x  ,\ty", {"x", "y"}},
        {" 1 , 0 ", {"1", "0"}},
        {"\"a,b\",c", {"a,b", "c"}},
        {"\"a\"junk,c", {"a", "c"}},
        {"\"open", {"open"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"\x01\xff,\x7f", {"\x01\xff", "\x7f"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readAll(c.text), c.fields) << '"' << c.text << '"';
    }
}

TEST(FieldReader, RefusesAFieldLongerThanATextBoxHolds) {
    std::istringstream in(std::string(FieldReader::kMaxFieldLength, 'x') + ",y," +
                          std::string(FieldReader::kMaxFieldLength + 1, 'z'));
    FieldReader reader(in);
    EXPECT_EQ(reader.next().size(), FieldReader::kMaxFieldLength);
    EXPECT_EQ(reader.next(), "y");
    try {
        (void)reader.next();
        FAIL() << "an over-long field was read";
    } catch (const FieldReader::Error& error) {
        EXPECT_EQ(error.failure, FieldReader::Failure::TooLong);
    }
}

}  // namespace
}  // namespace hushwell
