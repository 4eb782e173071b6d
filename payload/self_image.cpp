#include "payload/self_image.h"

#include "app/command_line.h"
#include "app/messages.h"

#include <new>
#include <string.h>

SelfImage selfImage;
int quietMode;

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

    kplx::core::Trailer trailer = kplx::core::parseTrailer(
        selfImage.buffer + selfImage.fileSize - TRAILER_SIZE, TRAILER_SIZE, selfImage.fileSize);
    if (trailer.status != kplx::core::TrailerStatus::found)
        return 0;   // no "DATA", a database under one block, or one reaching before the file

    selfImage.databaseOffset = static_cast<DWORD>(trailer.offset);
    return static_cast<int>(trailer.blockCount);
}

const unsigned char *blockAddress(int k)
{
    return selfImage.buffer + selfImage.databaseOffset + static_cast<DWORD>(k) * BLOCK_SIZE;
}

void copyBlock(int k, unsigned char block[BLOCK_SIZE])
{
    if (k < 0 || selfImage.buffer == NULL) {
        memset(block, 0, BLOCK_SIZE);
        return;
    }
    kplx::core::copyDataBlock(databaseView(), static_cast<uint64_t>(k), block);
}

kplx::core::DatabaseView databaseView()
{
    kplx::core::DatabaseView view;
    view.image = selfImage.buffer;
    view.imageSize = selfImage.fileSize;
    view.offset = selfImage.databaseOffset;
    if (selfImage.fileSize >= TRAILER_SIZE + selfImage.databaseOffset)
        view.size = selfImage.fileSize - TRAILER_SIZE - selfImage.databaseOffset;
    return view;
}

void freeSelfImage()
{
    delete[] selfImage.buffer;
    selfImage.buffer = NULL;
    selfImage.fileSize = 0;
    selfImage.databaseOffset = 0;
}
