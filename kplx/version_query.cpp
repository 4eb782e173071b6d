#include "kplx/version_query.h"

#include "core/frame.h"
#include "core/replies.h"

#include <cstdint>

namespace kplx {

namespace {

constexpr char kVersionCommand[] = "VERSION";

}  // namespace

bool askVersion(link::MeterLink &link, std::string &version)
{
    link.setTimeouts(core::VersionAnswer::kReadTimeoutMs, core::VersionAnswer::kWriteTimeoutMs);
    link.purgeReceive();
    link.purgeTransmit();
    uint8_t frame[core::kMaxFrameSize];
    size_t size = core::buildFrame(kVersionCommand, sizeof kVersionCommand - 1, frame);
    if (link.write(frame, size) != link::Status::ok)
        return false;

    core::VersionAnswer answer;
    uint8_t chunk[core::VersionAnswer::kChunkSize] = {};
    while (answer.wantsMore()) {
        size_t got = 0;
        if (link.read(chunk, sizeof chunk, got) != link::Status::ok) {
            answer.fail();
            break;
        }
        answer.add(chunk, got);
    }
    char text[core::VersionAnswer::kTextSize];
    if (answer.text(text, sizeof text) < 0)
        return false;
    version = text;
    return true;
}

}  // namespace kplx
