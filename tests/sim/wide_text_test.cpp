#include <gtest/gtest.h>

#include "wide_text.hpp"

namespace sim {
namespace {

TEST(SimWideText, Utf8ToUtf16AndBack) {
    struct Case {
        const char* utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"/dev/ttyUSB0", u"/dev/ttyUSB0"},
        {"", u""},
        {"COM1", u"COM1"},
        {"/dev/\xc3\xa9", u"/dev/\u00e9"},                   // two bytes
        {"\xe2\x82\xac", u"\u20ac"},                         // three bytes
        {"\xf0\x9f\x98\x80", std::u16string{0xD83D, 0xDE00}},  // four bytes: surrogate pair
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        std::u16string wide;
        ASSERT_TRUE(toUtf16(c.utf8, wide));
        EXPECT_EQ(wide, c.utf16);
        EXPECT_EQ(toUtf8(wide.c_str()), c.utf8);
    }
}

TEST(SimWideText, MalformedUtf8IsRefused) {
    const char* const cases[] = {
        "\xff",              // no such lead byte
        "\xc3",              // truncated
        "\xc3\x28",          // bad continuation
        "\xc0\xaf",          // overlong
        "\xed\xa0\x80",      // surrogate
        "\xf4\x90\x80\x80",  // above U+10FFFF
    };
    for (const char* text : cases) {
        std::u16string wide = u"x";
        EXPECT_FALSE(toUtf16(text, wide)) << testing::PrintToString(text);
    }
}

TEST(SimWideText, UnpairedSurrogatesBecomeReplacementCharacters) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(toUtf8(lone), "a\xef\xbf\xbd" "b\xef\xbf\xbd");
    EXPECT_EQ(toUtf8(nullptr), "");
}

}  // namespace
}  // namespace sim
