#include "payload/self_image.h"

#include "app/command_line.h"
#include "app/messages.h"

#include <new>
#include <string.h>

SelfImage selfImage;
int quietMode;

static const char trailerTag[] = "DATA";

static int cannotOpen()
{
    if (!quietMode)
        showMessage(MSG_CANT_LOAD_IMAGE, STYLE_ERROR);
    return -1;
}

// Appends ".exe" unless the path already ends in it (any case).
static bool ensureExeExtension(char *path, size_t capacity)
{
    size_t length = strlen(path);
    if (length >= 4 && lstrcmpiA(path + length - 4, ".exe") == 0)
        return true;
    if (length + 4 + 1 > capacity)
        return false;
    memcpy(path + length, ".exe", 5);
    return true;
}

// Reads exactly `size` bytes; a failed or short read is as bad as no file.
static bool readWholeFile(HANDLE file, unsigned char *buffer, DWORD size)
{
    DWORD total = 0;
    while (total < size) {
        DWORD got = 0;
        if (!ReadFile(file, buffer + total, size - total, &got, NULL) || got == 0)
            return false;
        total += got;
    }
    return true;
}

int loadSelfImage()
{
    freeSelfImage();

    const char *commandLine = GetCommandLineA();
    if (commandLine == NULL || commandLine[0] == '\0')
        return -1;
    if (strlen(commandLine) >= COMMAND_LINE_BUFFER_SIZE)
        return cannotOpen();

    char work[COMMAND_LINE_BUFFER_SIZE];
    char path[PATH_BUFFER_SIZE];
    memcpy(work, commandLine, strlen(commandLine) + 1);
    if (!programPathFromCommandLine(work, path, sizeof path))
        return cannotOpen();

    DWORD length = GetFullPathNameA(path, sizeof work, work, NULL);
    if (length == 0 || length >= sizeof work)
        return cannotOpen();
    if (!ensureExeExtension(work, sizeof work))
        return cannotOpen();

    HANDLE file = CreateFileA(work, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_READONLY, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return cannotOpen();

    DWORD size = GetFileSize(file, NULL);
    if (size == INVALID_FILE_SIZE) {
        CloseHandle(file);
        return cannotOpen();
    }

    unsigned char *buffer = new (std::nothrow) unsigned char[size ? size : 1];
    if (buffer == NULL) {
        CloseHandle(file);
        showMessage(MSG_CANT_ALLOCATE, STYLE_ERROR);
        return -1;
    }
    bool complete = readWholeFile(file, buffer, size);
    CloseHandle(file);
    if (!complete) {
        delete[] buffer;
        return cannotOpen();
    }

    selfImage.buffer = buffer;
    selfImage.fileSize = size;
    selfImage.databaseOffset = 0;
    return 0;
}

int validateTrailer()
{
    if (selfImage.buffer == NULL || selfImage.fileSize < TRAILER_SIZE)
        return 0;

    const unsigned char *end = selfImage.buffer + selfImage.fileSize;
    if (memcmp(end - 4, trailerTag, 4) != 0)
        return 0;

    const unsigned char *n = end - TRAILER_SIZE;
    DWORD databaseSize = static_cast<DWORD>(n[0]) | (static_cast<DWORD>(n[1]) << 8) |
                         (static_cast<DWORD>(n[2]) << 16) | (static_cast<DWORD>(n[3]) << 24);
    // A size that reaches before the start of the file describes no database in it.
    if (databaseSize > selfImage.fileSize - TRAILER_SIZE)
        return 0;

    selfImage.databaseOffset = selfImage.fileSize - databaseSize - TRAILER_SIZE;
    return static_cast<int>(databaseSize >> 7);
}

const unsigned char *blockAddress(int k)
{
    return selfImage.buffer + selfImage.databaseOffset + static_cast<DWORD>(k) * BLOCK_SIZE;
}

void copyBlock(int k, unsigned char block[BLOCK_SIZE])
{
    memset(block, 0, BLOCK_SIZE);
    DWORD start = selfImage.databaseOffset + static_cast<DWORD>(k) * BLOCK_SIZE;
    if (selfImage.buffer == NULL || k < 0 || start >= selfImage.fileSize)
        return;
    DWORD available = selfImage.fileSize - start;
    memcpy(block, blockAddress(k), available < BLOCK_SIZE ? available : BLOCK_SIZE);
}

void freeSelfImage()
{
    delete[] selfImage.buffer;
    selfImage.buffer = NULL;
    selfImage.fileSize = 0;
    selfImage.databaseOffset = 0;
}
