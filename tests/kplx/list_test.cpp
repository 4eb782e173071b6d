// kplx list: every device, which are meters, and each meter's answer to "VERSION".
#include "kplx_run.h"

#include <nlohmann/json.hpp>

using namespace kplxtest;
using nlohmann::json;

namespace {

class List : public KplxTest {
protected:
    void SetUp() override
    {
        KplxTest::SetUp();
        config("device meter\nversion KPLX Meter V2.10\n"
               "device cable\n"
               "device meter\nversion V3.00 beta\npieces 3 10\n"   // the answer arrives in pieces
               "device meter\nnak-at 0\n");                       // answers VERSION with NAK
    }
};

TEST_F(List, JsonHasEveryDeviceAndEachMetersVersion)
{
    Ran r = kplx({"list", "--json"});
    ASSERT_EQ(0, r.code) << r.err;
    json list = json::parse(r.out);
    ASSERT_EQ(4u, list.size());
    EXPECT_EQ(json::parse(R"({"index": 0, "location": "0x11", "serial": "KP000001", "description": "Quorvel KPLX", "meter": true,
                              "version": "KPLX Meter V2.10"})"), list[0]);
    EXPECT_EQ(json::parse(R"({"index": 1, "location": "0x12", "serial": "FT000002", "description": "FT232R USB UART", "meter": false,
                              "version": null})"), list[1]);
    EXPECT_EQ("V3.00 beta", list[2]["version"]);
    EXPECT_TRUE(list[3]["meter"]);
    EXPECT_TRUE(list[3]["version"].is_null());
}

TEST_F(List, TableHasALineADevice)
{
    Ran r = kplx({"list"});
    ASSERT_EQ(0, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("0      0x11      KP000001  Quorvel KPLX     yes    KPLX Meter V2.10\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("1      0x12      FT000002  FT232R USB UART  no     -\n")) << r.out;
}

}  // namespace
