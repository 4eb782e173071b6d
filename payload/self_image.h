// The utility's own executable read into memory, and the database appended to it:
//   [executable image][database: N bytes][N: uint32 little-endian]["DATA"]
// The database is sent in 128-byte blocks; the last block runs into the trailer and beyond.
#pragma once

#include "core/database.h"

#include <windows.h>

#define BLOCK_SIZE 128
#define TRAILER_SIZE 8
#define COMMAND_LINE_BUFFER_SIZE 512
#define PATH_BUFFER_SIZE 1024

struct SelfImage {
    unsigned char *buffer;   // the whole file; null when nothing is loaded
    DWORD fileSize;
    DWORD databaseOffset;    // fileSize - N - 8, set by validateTrailer
};

extern SelfImage selfImage;
extern int quietMode;        // "+Q": no message when the executable cannot be opened

// Reads the running executable; 0 on success, -1 on failure (any message already shown).
int loadSelfImage();

// Block count N >> 7 of the loaded database, or 0 when the trailer is not valid.
int validateTrailer();

// Start of data block k in the buffer: buffer + databaseOffset + 128 k.
const unsigned char *blockAddress(int k);

// Copies data block k into `block`. The last block runs past the end of the file; the bytes
// that lie beyond it are sent as zeros, never read from outside the buffer.
void copyBlock(int k, unsigned char block[BLOCK_SIZE]);

// The loaded image and its validated database, as the conversation core sees them.
kplx::core::DatabaseView databaseView();

void freeSelfImage();
