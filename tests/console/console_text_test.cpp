#include "console/console_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tallowick::console {
namespace {

TEST(ConsoleText, ControlAndInvisibleCharactersAreShownEscaped) {
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
        // Invisible and reordering characters beyond ASCII, at both ends of each range.
        {"\xc2\x80 \xc2\x85 \xc2\x9b[2J \xc2\x9f", "\\u0080 \\u0085 \\u009B[2J \\u009F"},
        {"a\xe2\x80\xa8"
         "b\xe2\x80\xa9",
         "a\\u2028b\\u2029"},
        {"\xe2\x80\x8e\xe2\x80\x8f", "\\u200E\\u200F"},
        {"invoice_\xe2\x80\xae"
         "fdp.exe",
         "invoice_\\u202Efdp.exe"},
        {"\xe2\x80\xaa\xe2\x81\xa6\xe2\x81\xa9", "\\u202A\\u2066\\u2069"},
        // Their neighbours pass as they are: U+00A0, U+007E, U+200D, U+2027, U+202F, U+2065, U+206A.
        {"\xc2\xa0~\xe2\x80\x8d\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
         "\xc2\xa0~\xe2\x80\x8d\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},
        // Text beyond ASCII passes as it is, also bytes that are no UTF-8 and cut sequences.
        {"J\xc3\xbcrgen \x80\xff", "J\xc3\xbcrgen \x80\xff"},
        {"\xe2\x80", "\xe2\x80"},
        {"\xc2", "\xc2"},
        {"\xe2\x80\n", "\xe2\x80\\x0A"},
        {"\\x0A", "\\x0A"},
    };
    for (const text_case& test : cases)
        EXPECT_EQ(console_safe(test.text), test.shown) << test.shown;
}

} // namespace
} // namespace tallowick::console
