#include "app/command_line.h"

#include <string.h>

static bool isBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

// End of the program name: the closing quote (or the end) for a quoted name, else the first
// blank or control character.
static const char *programNameEnd(const char *line)
{
    const char *p = line;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        return p;
    }
    while (*p && !isBlankOrControl(*p))
        ++p;
    return p;
}

const char *skipProgramName(const char *commandLine)
{
    const char *p = programNameEnd(commandLine);
    if (*commandLine == '"' && *p == '"')
        ++p;
    while (*p && isBlankOrControl(*p))
        ++p;
    return p;
}

bool scanQuietFlag(const char *arguments)
{
    bool quiet = false;
    for (const char *p = arguments; *p; ++p) {
        if (*p != '+')
            continue;
        ++p;
        if (*p == '\0')
            break;
        if (*p == 'Q')
            quiet = true;
    }
    return quiet;
}

bool programPathFromCommandLine(const char *commandLine, char *path, size_t capacity)
{
    if (capacity == 0)
        return false;
    path[0] = '\0';
    if (commandLine == NULL || commandLine[0] == '\0')
        return false;

    const char *start = commandLine[0] == '"' ? commandLine + 1 : commandLine;
    size_t length = static_cast<size_t>(programNameEnd(commandLine) - start);
    if (length + 1 > capacity)
        return false;
    memcpy(path, start, length);
    path[length] = '\0';

    // A closing quote or blanks may remain; drop them.
    while (length > 0 && (path[length - 1] == ' ' || path[length - 1] == '"'))
        path[--length] = '\0';
    return length > 0;
}
