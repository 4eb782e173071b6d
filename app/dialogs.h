// The Help menu's two modal dialogs.
#pragma once

#include <windows.h>

#define VERSION_MAJOR 1
#define VERSION_MINOR 1
#define ABOUT_BITMAP_TOP 58

void showAboutBox(HWND owner);
void showDeviceList(HWND owner);
INT_PTR CALLBACK aboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK deviceListProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
