#include "testhost.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testhost {
namespace {

struct OpenFile {
    std::vector<unsigned char> bytes;
    size_t position = 0;
};

struct ListBox {
    HWND__ tag;
    std::vector<std::string> items;
};

struct Host {
    std::string commandLine;
    std::string currentDirectory = "C:\\Users\\user\\Downloads";
    std::map<std::string, std::vector<unsigned char>> files;   // key: lower-case path
    std::map<HANDLE, OpenFile *> handles;
    std::vector<std::string> opened;
    ReadFault readFault = ReadFault::none;
    DWORD reportedSize = 0;
    std::map<UINT, std::string> strings;
    std::vector<MessageBoxCall> boxes;
    std::function<void(const MessageBoxCall &)> modalLoop;
    std::map<UINT_PTR, UINT> timers;
    int invalidations = 0;
    bool lastErase = false;
    std::vector<ListBox *> listBoxes;
    std::map<std::string, ProcLookup> libraries;
    std::vector<std::string> libraryRequests;
    std::vector<char> commandLineStorage;

    ~Host() { clear(); }
    void clear() {
        for (auto &h : handles) delete h.second;
        handles.clear();
        for (ListBox *l : listBoxes) delete l;
        listBoxes.clear();
    }
};

Host &host() {
    static Host h;
    return h;
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool isAbsolute(const std::string &p) {
    return (p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' && p[2] == '\\') ||
           (p.size() >= 2 && p[0] == '\\' && p[1] == '\\');
}

// Unescapes the body of an .rc string literal ("" and the usual backslash escapes).
std::string rcLiteral(const std::string &body) {
    std::string out;
    for (size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        if (c == '"' && i + 1 < body.size() && body[i + 1] == '"') { out += '"'; ++i; }
        else if (c == '\\' && i + 1 < body.size()) {
            char n = body[++i];
            out += n == 'n' ? '\n' : n == 't' ? '\t' : n;
        } else out += c;
    }
    return out;
}

}  // namespace

void reset() {
    Host &h = host();
    h.clear();
    h = Host();
}

void setCommandLine(const std::string &line) { host().commandLine = line; }
void setCurrentDirectory(const std::string &dir) { host().currentDirectory = dir; }
void addFile(const std::string &path, const std::vector<unsigned char> &bytes) { host().files[lower(path)] = bytes; }
void setReadFault(ReadFault fault) { host().readFault = fault; }
void setReportedFileSize(DWORD size) { host().reportedSize = size; }
const std::vector<std::string> &openedPaths() { return host().opened; }
int openFileHandles() { return static_cast<int>(host().handles.size()); }

void setString(UINT id, const std::string &text) { host().strings[id] = text; }

bool loadStringTable(const std::string &rcPath) {
    std::ifstream in(rcPath);
    if (!in) return false;
    std::string line;
    bool inTable = false;
    int loaded = 0;
    while (std::getline(in, line)) {
        std::string t = line.substr(0, line.find("//"));
        t.erase(0, t.find_first_not_of(" \t\r"));
        if (t.rfind("STRINGTABLE", 0) == 0) { inTable = true; continue; }
        if (!inTable) continue;
        if (t.rfind("END", 0) == 0) { inTable = false; continue; }
        size_t q1 = line.find('"');
        size_t q2 = line.rfind('"');
        if (q1 == std::string::npos || q2 <= q1) continue;
        std::string idPart = line.substr(0, q1);
        idPart.erase(std::remove_if(idPart.begin(), idPart.end(),
                                    [](char c) { return c == ',' || std::isspace(static_cast<unsigned char>(c)); }),
                     idPart.end());
        if (idPart.empty() || !std::isdigit(static_cast<unsigned char>(idPart[0]))) continue;
        host().strings[static_cast<UINT>(std::stoul(idPart))] = rcLiteral(line.substr(q1 + 1, q2 - q1 - 1));
        ++loaded;
    }
    return loaded > 0;
}

const std::vector<MessageBoxCall> &messageBoxes() { return host().boxes; }
void onMessageBox(std::function<void(const MessageBoxCall &)> duringModalLoop) { host().modalLoop = std::move(duringModalLoop); }

const std::map<UINT_PTR, UINT> &timers() { return host().timers; }
int invalidations() { return host().invalidations; }
bool lastInvalidationErased() { return host().lastErase; }

HWND makeListBox() {
    ListBox *l = new ListBox();
    host().listBoxes.push_back(l);
    return &l->tag;
}

const std::vector<std::string> &listBoxItems(HWND listBox) {
    static const std::vector<std::string> none;
    for (ListBox *l : host().listBoxes)
        if (&l->tag == listBox) return l->items;
    return none;
}

void installLibrary(const std::string &path, ProcLookup lookup) { host().libraries[lower(path)] = lookup; }
const std::vector<std::string> &loadLibraryRequests() { return host().libraryRequests; }
std::string systemDirectory() { return "C:\\windows\\system32"; }

}  // namespace testhost

using testhost::host;

extern "C" {

LPSTR WINAPI GetCommandLineA(void) {
    auto &h = host();
    h.commandLineStorage.assign(h.commandLine.begin(), h.commandLine.end());
    h.commandLineStorage.push_back('\0');
    return h.commandLineStorage.data();
}

DWORD WINAPI GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR *filePart) {
    std::string p = fileName;
    if (!testhost::isAbsolute(p)) p = host().currentDirectory + "\\" + p;
    if (filePart) *filePart = nullptr;
    if (p.size() + 1 > bufferLength) return static_cast<DWORD>(p.size() + 1);
    std::memcpy(buffer, p.c_str(), p.size() + 1);
    return static_cast<DWORD>(p.size());
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    auto &h = host();
    h.opened.push_back(fileName);
    auto it = h.files.find(testhost::lower(fileName));
    if (it == h.files.end()) return INVALID_HANDLE_VALUE;
    auto *f = new testhost::OpenFile();
    f->bytes = it->second;
    h.handles[f] = f;
    return f;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
    auto &h = host();
    auto it = h.handles.find(file);
    if (fileSizeHigh) *fileSizeHigh = 0;
    if (it == h.handles.end()) return INVALID_FILE_SIZE;
    if (h.reportedSize) return h.reportedSize;
    return static_cast<DWORD>(it->second->bytes.size());
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    auto &h = host();
    auto it = h.handles.find(file);
    if (read) *read = 0;
    if (it == h.handles.end() || h.readFault == testhost::ReadFault::fail) return FALSE;
    testhost::OpenFile *f = it->second;
    size_t left = f->bytes.size() - f->position;
    size_t n = std::min<size_t>(left, toRead);
    if (h.readFault == testhost::ReadFault::shortRead) n = (n + 1) / 2;
    if (n) std::memcpy(buffer, f->bytes.data() + f->position, n);
    f->position += n;
    if (read) *read = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    auto &h = host();
    auto it = h.handles.find(object);
    if (it == h.handles.end()) return FALSE;
    delete it->second;
    h.handles.erase(it);
    return TRUE;
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
    auto &h = host();
    h.libraryRequests.push_back(fileName);
    auto it = h.libraries.find(testhost::lower(fileName));
    if (it == h.libraries.end()) return nullptr;
    return reinterpret_cast<HMODULE>(&it->second);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    for (auto &lib : host().libraries) {
        if (reinterpret_cast<HMODULE>(&lib.second) != module) continue;
        if (IS_INTRESOURCE(procName)) return lib.second(static_cast<int>(reinterpret_cast<uintptr_t>(procName)), nullptr);
        return lib.second(0, procName);
    }
    return nullptr;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    std::string d = testhost::systemDirectory();
    if (d.size() + 1 > size) return static_cast<UINT>(d.size() + 1);
    std::memcpy(buffer, d.c_str(), d.size() + 1);
    return static_cast<UINT>(d.size());
}

int WINAPI LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int capacity) {
    if (capacity <= 0) return 0;
    auto it = host().strings.find(id);
    if (it == host().strings.end()) { buffer[0] = '\0'; return 0; }
    size_t n = std::min<size_t>(it->second.size(), static_cast<size_t>(capacity - 1));
    std::memcpy(buffer, it->second.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    testhost::MessageBoxCall call{owner, text ? text : "", caption ? caption : "", type};
    host().boxes.push_back(call);
    if (host().modalLoop) host().modalLoop(call);
    return IDOK;
}

UINT_PTR WINAPI SetTimer(HWND, UINT_PTR id, UINT elapse, TIMERPROC) {
    host().timers[id] = elapse;
    return id;
}

BOOL WINAPI KillTimer(HWND, UINT_PTR id) { return host().timers.erase(id) ? TRUE : FALSE; }

BOOL WINAPI InvalidateRect(HWND, const RECT *, BOOL erase) {
    host().invalidations++;
    host().lastErase = erase != FALSE;
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM, LPARAM lParam) {
    for (testhost::ListBox *l : host().listBoxes) {
        if (&l->tag != window) continue;
        if (message == LB_RESETCONTENT) { l->items.clear(); return 0; }
        if (message == LB_ADDSTRING) {
            l->items.push_back(reinterpret_cast<const char *>(lParam));
            return static_cast<LRESULT>(l->items.size() - 1);
        }
    }
    return 0;
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
    std::string x = testhost::lower(a), y = testhost::lower(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

}
