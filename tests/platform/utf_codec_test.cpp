#include "platform/utf_codec.h"

#include <gtest/gtest.h>

namespace tallowick::platform {
namespace {

// One U+FFFD per maximal ill-formed subpart, and the byte that broke a
// sequence starts the next one.
TEST(UtfCodec, ReplacesEachIllFormedSubpartAndKeepsWhatFollows) {
    struct decode_case {
        std::string utf8;
        std::u16string utf16;
    };
    const decode_case cases[] = {
        {"", u""},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", u"caf\u00e9 \u20ac \U0001F600"},
        {"\xc3\x62", u"\ufffd\x62"},                       // lead without its trail, then 'b'
        {"a\xff\x62", u"a\ufffd\x62"},                     // never a lead
        {"\x80\xbf", u"\ufffd\ufffd"},                     // lone trails
        {"\xc0\xaf", u"\ufffd\ufffd"},                     // overlong '/'
        {"\xe0\x80\xaf", u"\ufffd\ufffd\ufffd"},           // overlong three-byte form
        {"\xed\xa0\x80x", u"\ufffd\ufffd\ufffdx"},         // an encoded surrogate
        {"\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"}, // above U+10FFFF
        {"\xe2\x82x", u"\ufffdx"},                         // cut three-byte character
        {"end\xf0\x9f\x98", u"end\ufffd"},                 // cut at the end
        {std::string("nul\0", 4), std::u16string(u"nul\0", 4)},
    };
    for (const decode_case& test : cases) {
        EXPECT_EQ(utf8_to_utf16(test.utf8), test.utf16) << test.utf8;
        EXPECT_EQ(is_valid_utf8(test.utf8), test.utf16.find(u'\ufffd') == std::u16string::npos) << test.utf8;
    }
}

TEST(UtfCodec, ReplacesUnpairedSurrogatesAndKeepsWhatFollows) {
    struct encode_case {
        std::u16string utf16;
        std::string utf8;
    };
    const encode_case cases[] = {
        {u"C:\\caf\u00e9 \U0001F600", "C:\\caf\xc3\xa9 \xf0\x9f\x98\x80"},
        {std::u16string{u'a', 0xD800, u'b'}, "a\xef\xbf\xbd\x62"},
        {std::u16string{0xDC00, 0xD800}, "\xef\xbf\xbd\xef\xbf\xbd"},
        {std::u16string{u'x', 0xD83D}, "x\xef\xbf\xbd"},
        {std::u16string{0xD83D, 0xD83D, 0xDE00}, "\xef\xbf\xbd\xf0\x9f\x98\x80"},
        {std::u16string{0xDBFF, 0xDFFF}, "\xf4\x8f\xbf\xbf"}, // the last pair: U+10FFFF
        {std::u16string{0xD800, 0xDC00}, "\xf0\x90\x80\x80"}, // the first pair: U+10000
        {std::u16string{0xDBFF, 0xDBFF, 0xE000}, "\xef\xbf\xbd\xef\xbf\xbd\xee\x80\x80"}, // lone last leads
        {std::u16string{0xDC00, 0xDFFF}, "\xef\xbf\xbd\xef\xbf\xbd"}, // the first and the last trail, alone
        {u"\uffff\u0800\u07ff", "\xef\xbf\xbf\xe0\xa0\x80\xdf\xbf"},
    };
    for (const encode_case& test : cases) {
        const std::string converted = utf16_to_utf8(test.utf16);
        EXPECT_EQ(converted, test.utf8);
        EXPECT_TRUE(is_valid_utf8(converted));
    }
}

} // namespace
} // namespace tallowick::platform

namespace tallowick::platform {
namespace {

TEST(UtfCodec, ValidUtf8KeepsTextAndRepairsTheRest) {
    EXPECT_EQ(valid_utf8("notepad.exe"), "notepad.exe");
    EXPECT_EQ(valid_utf8("caf\xC3\xA9.exe"), "caf\xC3\xA9.exe");
    EXPECT_EQ(valid_utf8("caf\xE9.exe"), "caf\xEF\xBF\xBD.exe"); // a code-page byte
    EXPECT_TRUE(is_valid_utf8(valid_utf8("\xFF\xFE\x80")));
}

} // namespace
} // namespace tallowick::platform
