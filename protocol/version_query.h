// The version query: every attached meter is asked "VERSION" and answers with ACK and a
// frame whose payload is its version text.
#pragma once

#include "core/replies.h"

#include <windows.h>

#define VERSION_READ_TIMEOUT_MS kplx::core::VersionAnswer::kReadTimeoutMs
#define VERSION_WRITE_TIMEOUT_MS kplx::core::VersionAnswer::kWriteTimeoutMs
#define VERSION_CHUNK_SIZE kplx::core::VersionAnswer::kChunkSize
#define VERSION_MAX_READS kplx::core::VersionAnswer::kMaxReads
#define VERSION_MIN_REPLY kplx::core::VersionAnswer::kMinReply
#define VERSION_TEXT_SIZE kplx::core::VersionAnswer::kTextSize
#define REPLY_SIZE_VERSION kplx::core::VersionAnswer::kCapacity

// Adds each meter's version text to listBox (may be null) and returns how many answered.
int queryMeters(HWND listBox);
