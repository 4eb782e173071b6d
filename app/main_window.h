// The main window: a fixed-size frame whose only content is the transfer's progress bar.
#pragma once

#include <windows.h>

#define CLASS_NAME_SIZE 100
#define MAIN_WINDOW_WIDTH 230
#define MAIN_WINDOW_HEIGHT 90

extern HWND mainWindow;
extern char className[CLASS_NAME_SIZE];

bool registerMainClass(HINSTANCE instance);
HWND createMainWindow(HINSTANCE instance);
LRESULT CALLBACK mainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
