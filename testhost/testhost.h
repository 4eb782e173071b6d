// Steering and inspection of the native Win32 stand-in. Each test starts with reset().
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testhost {

struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

enum class ReadFault { none, fail, shortRead };

// Looks up an export of a registered module: by ordinal when name is null.
typedef FARPROC (*ProcLookup)(int ordinal, const char *name);

void reset();

// Process and files.
void setCommandLine(const std::string &line);
void setCurrentDirectory(const std::string &dir);   // for relative paths, ends without '\'
void addFile(const std::string &path, const std::vector<unsigned char> &bytes);
void setReadFault(ReadFault fault);
void setReportedFileSize(DWORD size);                // GetFileSize lies (0 = tell the truth)
const std::vector<std::string> &openedPaths();       // every CreateFileA path, in order
int openFileHandles();                               // handles not yet closed

// Resources.
void setString(UINT id, const std::string &text);
bool loadStringTable(const std::string &rcPath);     // the STRINGTABLE blocks of an .rc file

// Message boxes.
const std::vector<MessageBoxCall> &messageBoxes();
void onMessageBox(std::function<void(const MessageBoxCall &)> duringModalLoop);

// Timers and painting of the one window the code under test is given.
const std::map<UINT_PTR, UINT> &timers();            // live timers: id -> period ms
int invalidations();
bool lastInvalidationErased();

// List boxes.
HWND makeListBox();
const std::vector<std::string> &listBoxItems(HWND listBox);

// Libraries.
void installLibrary(const std::string &path, ProcLookup lookup);
const std::vector<std::string> &loadLibraryRequests();
std::string systemDirectory();

}  // namespace testhost
