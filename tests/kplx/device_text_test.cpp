// How kplx shows text from a device, and reads back what it showed.
#include "kplx/device_text.h"

#include <gtest/gtest.h>

using kplx::rawText;
using kplx::shownText;

namespace {

struct Shown {
    const char *what;
    std::string raw;
    std::string shown;
};

TEST(DeviceText, BytesThatCouldMoveTheCursorOrBreakJsonAreEscaped)
{
    const Shown cases[] = {
        {"plain ASCII stays", "KP000001", "KP000001"},
        {"ESC would start a terminal sequence", "A\x1b[2JB", "A\\x1B[2JB"},
        {"CR would overwrite the line", "KP1\rKP2: loaded", "KP1\\x0DKP2: loaded"},
        {"NUL inside a string", std::string("A\0B", 3), "A\\x00B"},
        {"DEL", "A\x7f", "A\\x7F"},
        {"the backslash itself, so the shown form is unambiguous", "A\\x41", "A\\x5Cx41"},
        {"valid UTF-8 stays", "Z\xc3\xa4hler \xe2\x82\xac \xf0\x9f\x94\x8c", "Z\xc3\xa4hler \xe2\x82\xac \xf0\x9f\x94\x8c"},
        {"a C1 control (CSI) in UTF-8", "A\xc2\x9b" "2J", "A\\xC2\\x9B2J"},
        {"a lone continuation byte", "A\x80", "A\\x80"},
        {"Latin-1 byte, not UTF-8", "M\xe9ter", "M\\xE9ter"},
        {"a sequence cut short at the end", "A\xe2\x82", "A\\xE2\\x82"},
        {"an overlong encoding of '/'", "\xc0\xaf", "\\xC0\\xAF"},
        {"a UTF-16 surrogate", "\xed\xa0\x80", "\\xED\\xA0\\x80"},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
    };
    for (const Shown &c : cases) {
        EXPECT_EQ(c.shown, shownText(c.raw)) << c.what;
        EXPECT_EQ(c.raw, rawText(c.shown)) << c.what;
    }
}

TEST(DeviceText, EveryByteStringSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(all, rawText(shownText(all)));
    for (unsigned char c : shownText(all))
        EXPECT_TRUE(c >= 0x20 && c != 0x7F) << int(c);
}

TEST(DeviceText, ReadingBackTakesOnlyWholeEscapes)
{
    EXPECT_EQ("KP\x01", rawText("KP\\x01"));
    EXPECT_EQ("a\\b", rawText("a\\b"));         // a backslash before anything else is itself
    EXPECT_EQ("a\\x4", rawText("a\\x4"));       // cut short
    EXPECT_EQ("a\\xZZ", rawText("a\\xZZ"));
    EXPECT_EQ("KP000001\r", rawText("KP000001\r"));   // a CR from a CRLF file stays: no match
}

}  // namespace
