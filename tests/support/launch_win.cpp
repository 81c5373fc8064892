// Runs a program and prints its full 32-bit exit code, which a shell would cut
// to 8 bits. Usage: launch.exe [--timeout MS] [program arguments...]
// The command line to run is taken byte for byte from the environment variable
// LAUNCH_COMMAND_LINE when it is set (so that tabs, quotes and blanks reach the
// program unchanged), otherwise from everything after the launcher's options.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char *SkipBlanks(const char *p)
{
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

static const char *SkipWord(const char *p)
{
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
        if (*p == '"') quoted = !quoted;
        ++p;
    }
    return p;
}

int main()
{
    const char *tail = SkipBlanks(SkipWord(GetCommandLineA()));
    DWORD timeout = 60000;
    if (strncmp(tail, "--timeout ", 10) == 0) {
        timeout = strtoul(tail + 10, nullptr, 10);
        tail = SkipBlanks(SkipWord(SkipBlanks(tail + 10)));
    }
    static char fromEnvironment[32768];
    DWORD length = GetEnvironmentVariableA("LAUNCH_COMMAND_LINE", fromEnvironment,
                                           sizeof fromEnvironment);
    char *commandLine = _strdup(length > 0 && length < sizeof fromEnvironment ? fromEnvironment : tail);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        printf("launch failed %lu\n", GetLastError());
        return 2;
    }
    if (WaitForSingleObject(process.hProcess, timeout) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 0xDEAD);
        printf("timeout\n");
        return 3;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("exit 0x%08lX\n", code);
    fflush(stdout);
    return 0;
}
