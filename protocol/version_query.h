// The version query: every attached meter is asked "VERSION" and answers with ACK and a
// frame whose payload is its version text.
#pragma once

#include <windows.h>

#define VERSION_READ_TIMEOUT_MS 200
#define VERSION_WRITE_TIMEOUT_MS 1000
#define VERSION_CHUNK_SIZE 100
#define VERSION_MAX_READS 5
#define VERSION_MIN_REPLY 5
#define VERSION_TEXT_SIZE 64
#define REPLY_SIZE_VERSION 128

// Adds each meter's version text to listBox (may be null) and returns how many answered.
int queryMeters(HWND listBox);
