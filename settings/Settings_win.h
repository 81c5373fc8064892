// The persisted redraw speed and the configure-mode dialog procedures.
#pragma once

#include <windows.h>
#include "settings/Settings.h"

extern LONG RedrawSpeed;
extern char SettingSection[40];
extern char SettingFile[13];

void LoadSettingNames();
LONG ReadRedrawSpeed();
void WriteRedrawSpeed();

INT_PTR CALLBACK ConfigureDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
