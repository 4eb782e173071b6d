#include "fixture.h"

#include "app/resource.h"

namespace {

class Messages : public HostTest {};

struct Expected {
    int number;
    const char *text;
};

// Every message the utility shows, by number: a shifted table entry or a mistyped resource
// shows the wrong words.
const Expected shown[] = {
    {2, "Error - Handshake not received"},
    {3, "Transfer Complete!"},
    {4, "Invalid binary file"},
    {5, "Can't load program image"},
    {6, "About..."},
    {8, "Warning, can't load USB driver (ftd2xx.dll)"},
    {9, "USB Devices"},
    {10, "USB Port Error"},
    {13, "No devices found"},
    {14, "Can't allocate memory"},
    {20, "Transfer Error!"},
};

TEST_F(Messages, EachShownNumberLoadsItsText)
{
    for (const Expected &e : shown) {
        char buffer[MESSAGE_BUFFER_SIZE];
        loadMessage(e.number, buffer, sizeof buffer);
        EXPECT_STREQ(e.text, buffer) << "message " << e.number;
    }
}

TEST_F(Messages, NumbersWithoutStringsLoadNothing)
{
    for (int number : {16, 17, 18}) {
        char buffer[MESSAGE_BUFFER_SIZE] = "stale";
        loadMessage(number, buffer, sizeof buffer);
        EXPECT_STREQ("", buffer) << "message " << number;
    }
}

TEST_F(Messages, UnshownEntriesKeepTheirPlaces)
{
    EXPECT_EQ(110u, MessageCatalogue[0]);
    EXPECT_EQ(112u, MessageCatalogue[1]);
    EXPECT_EQ(138u, MessageCatalogue[15]);
    EXPECT_EQ(237u, MessageCatalogue[19]);
    EXPECT_EQ(238u, MessageCatalogue[20]);
}

TEST_F(Messages, LongTextIsCutToTheBuffer)
{
    char buffer[8];
    loadMessage(12, buffer, sizeof buffer);
    EXPECT_STREQ("The dev", buffer);
}

TEST_F(Messages, ErrorStyleIsTaskModalHandIconCaptionedWithTitle)
{
    showMessage(MSG_INVALID_BINARY, STYLE_ERROR);
    ASSERT_EQ(1u, testhost::messageBoxes().size());
    const auto &box = testhost::messageBoxes()[0];
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ("Invalid binary file", box.text);
    EXPECT_EQ("Quorvel KPLX Meter", box.caption);
    EXPECT_EQ(0x2010u, box.type);
}

TEST_F(Messages, InformationStyleIsTaskModalInformationIcon)
{
    showMessage(MSG_NO_USB_DRIVER, STYLE_INFORMATION);
    ASSERT_EQ(1u, testhost::messageBoxes().size());
    EXPECT_EQ(0x2040u, testhost::messageBoxes()[0].type);
    EXPECT_EQ("Quorvel KPLX Meter", testhost::messageBoxes()[0].caption);
}

TEST_F(Messages, WindowTitleIsString167)
{
    char buffer[TITLE_SIZE];
    LoadStringA(instance, IDS_TITLE, buffer, sizeof buffer);
    EXPECT_STREQ("Quorvel KPLX Meter", buffer);
}

}  // namespace
