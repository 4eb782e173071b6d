// The steps of one database transfer, stop-and-wait:
//   step -1: purge, read timeout 6000 ms, write timeout 100 ms; nothing is sent
//   step 0: "DATABASE"; steps 1 .. stepCount - 2: data blocks 0 .. blockCount; last: "END"
// Every frame waits for its reply before the next goes out.
#pragma once

#include "core/database.h"

#include <cstddef>
#include <cstdint>

namespace kplx::core {

enum class Step { setup, database, block, end };

constexpr int kSetupStep = -1;
constexpr uint32_t kTransferReadTimeoutMs = 6000;
constexpr uint32_t kTransferWriteTimeoutMs = 100;
constexpr size_t kAckReplyLength = 1;
constexpr size_t kEndReplyLength = 10;   // ACK and the first nine bytes of the "SUCCESS" frame
constexpr size_t kMaxStepPayload = kBlockSize;

inline int stepCount(uint32_t blockCount) { return static_cast<int>(blockCount) + 3; }

Step stepAt(int stepIndex, int stepCount);

// Bytes to ask for as the reply to a step's frame.
size_t replyLength(Step step);

// The payload of step `stepIndex` (0 .. stepCount - 1) into `payload`; returns its length.
size_t stepPayload(const DatabaseView &database, int stepIndex, uint8_t payload[kMaxStepPayload]);

// The data block a step carries (0-based), for steps 1 .. stepCount - 2.
inline uint64_t blockOfStep(int stepIndex) { return static_cast<uint64_t>(stepIndex - 1); }

}  // namespace kplx::core
