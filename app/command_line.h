// Reading the process command line: where the program name ends, the "+Q" flag, and the
// program's own path for reading the executable.
#pragma once

#include <stddef.h>

// The arguments after the program name: the name runs to the closing double quote when the
// line starts with one, else to the first blank or control character; the blanks and control
// characters after it are skipped.
const char *skipProgramName(const char *commandLine);

// True when a '+' is directly followed by an upper-case 'Q'. The character after each '+' is
// consumed by the test, so "++Q" does not count.
bool scanQuietFlag(const char *arguments);

// The program path as it stands on the command line, without its quotes, arguments and
// trailing blanks. False when the line is empty or the path does not fit `capacity`.
bool programPathFromCommandLine(const char *commandLine, char *path, size_t capacity);
