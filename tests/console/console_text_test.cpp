#include "console/console_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tallowick::console {
namespace {

TEST(ConsoleText, ControlCharactersAreShownAsHexEscapes) {
    struct text_case {
        std::string text;
        std::string shown;
    };
    const text_case cases[] = {
        {"READ C:\\a.txt FILE", "READ C:\\a.txt FILE"},
        {"", ""},
        {"a\nREAD forged", "a\\x0AREAD forged"},
        {"\r\t\x1b[2J\x7f", "\\x0D\\x09\\x1B[2J\\x7F"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1f \x20", "\\x1F  "},
        // Text beyond ASCII passes as it is, also bytes that are no UTF-8.
        {"J\xc3\xbcrgen \xe2\x80\xa8 \x80\xff", "J\xc3\xbcrgen \xe2\x80\xa8 \x80\xff"},
        {"\\x0A", "\\x0A"},
    };
    for (const text_case& test : cases)
        EXPECT_EQ(console_safe(test.text), test.shown) << test.shown;
}

} // namespace
} // namespace tallowick::console
