// The utility and kplx, given the same packed file, send the meter the same frames byte for
// byte: the utility's transfer runs here on the native test host, kplx as a program through
// the simulator backend and, where the emulator is built, through libftdi1.
#include "../unit/fixture.h"
#include "core/database.h"
#include "kplx_run.h"
#include "payload/self_image.h"
#include "protocol/transfer.h"
#include "usb/com_access.h"

#include <cstdio>

using namespace kplxtest;

namespace {

HWND__ windowTag;
HWND const window = &windowTag;
const char exePath[] = "C:\\Users\\user\\kplx-loader.exe";

std::string hex(const std::vector<uint8_t> &bytes)
{
    std::string s;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        s += two;
    }
    return s;
}

class SameFrames : public KplxTestOn<HostTest> {};

TEST_F(SameFrames, UtilityAndKplxSendTheSameFrames)
{
    for (size_t n : {size_t{128}, size_t{70085}, size_t{1000}}) {
        Bytes file = pattern(3000, 5);
        Bytes db = n == 70085 ? readFile(KPLX_SAMPLE_DB) : pattern(n, 9);
        file.insert(file.end(), db.begin(), db.end());
        auto trailer = kplx::core::makeTrailer(static_cast<uint32_t>(db.size()));
        file.insert(file.end(), trailer.begin(), trailer.end());

        // The utility, clicked once.
        sim::reset();
        sim::addDevice(sim::defaultConfig(sim::Role::meter));
        installDriver();
        testhost::setCommandLine(std::string("\"") + exePath + "\"");
        testhost::addFile(exePath, file);
        ComAccess port;
        memset(&transfer, 0, sizeof transfer);
        transfer.port = &port;
        startTransfer(window);
        for (int tick = 0; transfer.active && tick < 10000; ++tick) {
            routeTransferTimer(window, SETTLE_TIMER);
            routeTransferTimer(window, STEP_TIMER);
        }
        freeSelfImage();
        std::vector<std::string> utility;
        for (const sim::FrameRecord &f : sim::frames(0))
            utility.push_back(hex(f.bytes));

        // kplx, on the same file.
        writeFile(dir / "packed.exe", file);
        config("device meter\nframes-out " + (dir / "frames.txt").string() + "\n");
        Ran r = kplx({"load", (dir / "packed.exe").string()});
        ASSERT_EQ(0, r.code) << r.err;

        ASSERT_EQ(n / 128 + 3, utility.size()) << n;
        EXPECT_EQ(utility, frameLog(dir / "frames.txt")) << n;
#ifdef KPLX_EMULATOR
        backend = "libftdi";
        via = {KPLX_EMULATOR, "--"};
        r = kplx({"load", (dir / "packed.exe").string()});
        ASSERT_EQ(0, r.code) << r.err;
        EXPECT_EQ(utility, frameLog(dir / "frames.txt")) << n << ", through libftdi1";
        backend = "sim";
        via.clear();
#endif
    }
}

}  // namespace
