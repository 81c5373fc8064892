// A line log shared by the test doubles of the system's password libraries.
// Every line is appended to the file named by an environment variable, opened
// and closed per line so that a test may read it while the program runs.
#pragma once

#include <windows.h>
#include <cstdarg>
#include <cstdio>

static void DoubleLog(const char *variable, const char *format, ...)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(variable, path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    int used = vsnprintf(line, sizeof line - 2, format, arguments);
    va_end(arguments);
    if (used < 0) return;
    if (used > (int)sizeof line - 3) used = (int)sizeof line - 3;
    line[used++] = '\n';
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)used, &written, nullptr);
    CloseHandle(file);
}

// Reports how the library leaves the process: unloaded by FreeLibrary, or
// still loaded when the process ends.
static void DoubleLogAttachment(const char *variable, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        DoubleLog(variable, "attach");
    else if (reason == DLL_PROCESS_DETACH)
        DoubleLog(variable, reserved ? "detach exit" : "detach free");
}
