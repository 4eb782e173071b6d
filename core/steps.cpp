#include "core/steps.h"

#include <cstring>

namespace kplx::core {

namespace {
constexpr char kDatabaseCommand[] = "DATABASE";
constexpr char kEndCommand[] = "END";
}

Step stepAt(int stepIndex, int stepCount)
{
    if (stepIndex < 0)
        return Step::setup;
    if (stepIndex == 0)
        return Step::database;
    if (stepIndex == stepCount - 1)
        return Step::end;
    return Step::block;
}

size_t replyLength(Step step)
{
    return step == Step::end ? kEndReplyLength : kAckReplyLength;
}

size_t stepPayload(const DatabaseView &database, int stepIndex, uint8_t payload[kMaxStepPayload])
{
    switch (stepAt(stepIndex, stepCount(database.blockCount()))) {
    case Step::setup:
        return 0;
    case Step::database:
        std::memcpy(payload, kDatabaseCommand, sizeof kDatabaseCommand - 1);
        return sizeof kDatabaseCommand - 1;
    case Step::end:
        std::memcpy(payload, kEndCommand, sizeof kEndCommand - 1);
        return sizeof kEndCommand - 1;
    case Step::block:
        copyDataBlock(database, blockOfStep(stepIndex), payload);
        return kBlockSize;
    }
    return 0;
}

}  // namespace kplx::core
