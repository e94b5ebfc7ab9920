#include "monitor/name_comparison.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tallowick::monitor {
namespace {

TEST(NameComparison, IgnoresTheCaseOfAsciiLettersOnly) {
    struct comparison_case {
        std::string text;
        std::string part;
        bool contains;
        bool ends_with;
    };
    const comparison_case cases[] = {
        {"C:\\Windows\\NOTEPAD.EXE", "notepad.exe", true, true},
        {"c:\\windows\\notepad.exe", "NotePad.Exe", true, true},
        {"\\Device\\X\\Users\\Alice\\a.txt", "\\users\\ALICE\\", true, false},
        {"a.docx", "", true, true},
        {"", "", true, true},
        {"", "a", false, false},
        {"x.exe", "long.x.exe", false, false},
        // Neighbours of the letters that a bit-flip fold would confuse.
        {"C:\\a\\b", "C:|A|B", false, false},
        {"a[1]", "A{1}", false, false},
        {"@x", "`X", false, false},
        // Other letters are compared as they are; their bytes never meet ASCII.
        {"B\xc3\xbc\x63her.pdf", "B\xc3\xbc\x43HER.PDF", true, true},
        {"B\xc3\xbc\x63her.pdf", "B\xc3\x9c\x63her.pdf", false, false},
        {"\xc3\xa9", "\xc3\x89", false, false},
    };
    for (const comparison_case& test : cases) {
        EXPECT_EQ(contains_ignoring_case(test.text, test.part), test.contains)
            << test.text << " / " << test.part;
        EXPECT_EQ(ends_with_ignoring_case(test.text, test.part), test.ends_with)
            << test.text << " / " << test.part;
    }
}

TEST(NameComparison, AUserExclusionIsAnEndingAtANameBoundaryInAnyCase) {
    struct exclusion_case {
        const char* image;
        const char* entry;
        bool excluded;
    };
    const exclusion_case cases[] = {
        {"C:\\Program Files\\Office\\winword.EXE", "WINWORD.exe", true},
        {"winword.exe", "winword.exe", true}, // the name starts the path
        {"C:\\winword.exe.bak", "winword.exe", false},
        {"C:\\Tools\\evilwinword.exe", "winword.exe", false},
        {"C:\\Tools\\xwinword.exe", "winword.exe", false},
        {"xwinword.exe", "winword.exe", false},
        {"C:\\Office\\winword.exe", "office\\WINWORD.EXE", true}, // with its folder
        {"C:\\BackOffice\\winword.exe", "office\\winword.exe", false},
        {"C:\\Office\\winword.exe", "\\winword.exe", true}, // an entry that starts with its own '\'
        {"C:\\Office\\winword.exe", "C:\\Office\\winword.exe", true},
        {"winword.exe", "C:\\winword.exe", false},
    };
    for (const exclusion_case& test : cases)
        EXPECT_EQ(is_user_excluded(test.image, {"x.exe", test.entry}), test.excluded)
            << test.image << " / " << test.entry;
    EXPECT_FALSE(is_user_excluded("C:\\winword.exe", {}));
    EXPECT_TRUE(ends_at_name_boundary("C:\\a\\arp.exe", "arp.exe"));
    EXPECT_FALSE(ends_at_name_boundary("C:\\a\\sharp.exe", "arp.exe"));
    EXPECT_FALSE(ends_at_name_boundary("C:\\a\\ARP.EXE", "arp.exe")); // exact
}

} // namespace
} // namespace tallowick::monitor
