// Native stand-in for the few Win32 declarations that the portable code (payload, usb,
// protocol, message catalogue) uses, so that it compiles and runs unchanged on Linux under
// the unit tests. Behaviour lives in testhost.cpp; tests steer it through testhost.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char UCHAR;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void *PVOID;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char CHAR;
typedef char *PCHAR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef DWORD *LPDWORD;
typedef void *HANDLE;

struct HWND__ { int unused; };
typedef HWND__ *HWND;
struct HINSTANCE__ { int unused; };
typedef HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef intptr_t (*FARPROC)();
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

typedef struct tagRECT { LONG left, top, right, bottom; } RECT;
typedef struct _SECURITY_ATTRIBUTES { DWORD nLength; LPVOID lpSecurityDescriptor; BOOL bInheritHandle; } SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define MAKEINTRESOURCEA(i) ((LPSTR)(uintptr_t)((WORD)(i)))
#define IS_INTRESOURCE(p) ((((uintptr_t)(p)) >> 16) == 0)
#define LOWORD(l) ((WORD)(((uintptr_t)(l)) & 0xffff))

#define GENERIC_READ 0x80000000UL
#define FILE_SHARE_READ 0x00000001
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_READONLY 0x00000001

#define MB_OK 0x00000000L
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONINFORMATION 0x00000040L
#define MB_TASKMODAL 0x00002000L
#define IDOK 1
#define IDCANCEL 2

#define LB_ADDSTRING 0x0180
#define LB_RESETCONTENT 0x0184

extern "C" {
LPSTR WINAPI GetCommandLineA(void);
DWORD WINAPI GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR *filePart);
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creation, DWORD flags, HANDLE templateFile);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI CloseHandle(HANDLE object);
HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int capacity);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);
BOOL WINAPI InvalidateRect(HWND window, const RECT *rect, BOOL erase);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);
}
