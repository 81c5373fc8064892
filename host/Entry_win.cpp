// Process entry and mode dispatch: the command line picks the mode, which runs
// inside a structured-exception guard; its result becomes the exit code.
#include "host/SaverHost.h"

__constinit SaverRecord SaverState;

static const char *SystemNextCharacter(const char *text)
{
    return CharNextA(text);
}

void SaverEntry()
{
    const char *tail = CommandTail(GetCommandLineA(), SystemNextCharacter);
    ExitProcess((UINT)SaverMain(GetModuleHandleA(nullptr), tail));
}

// Windows 9x (and Me) report the platform VER_PLATFORM_WIN32_WINDOWS; a failed
// query counts as not 9x.
static bool DetectWin9x()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = 148;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Runs the mode the tail selects and returns its exit code.
static int DispatchCommandTail(const char *tail)
{
    ModeRequest request = ScanCommandTail(tail);
    switch (request.mode) {
    case MODE_CONFIGURE:
        return RunConfigure(nullptr);
    case MODE_CONFIGURE_OWNED:
        return RunConfigure(GetForegroundWindow());
    case MODE_SAVER:
        return RunSaverWindow(nullptr);
    case MODE_PREVIEW:
        return RunPreview(request.rest);
    case MODE_CHANGE_PASSWORD:
        return SaverState.win9x ? RunChangePassword(request.rest) : -1;
    case MODE_REFUSED:
        break;
    }
    return -1;
}

int SaverMain(HINSTANCE instance, const char *tail)
{
    SaverState.instance = instance;
    SaverState.win9x = DetectWin9x();
    return RunGuarded(DispatchCommandTail, tail);
}

// Preview mode inside the window whose decimal handle starts the text; -1 when
// the text names no window.
int RunPreview(const char *text)
{
    HWND parent = (HWND)(UINT_PTR)ParseWindowHandle(text);
    if (parent == nullptr || !IsWindow(parent)) return -1;
    return RunSaverWindow(parent);
}

// Tells Windows 9x whether a screen saver is running (which, while set, keeps
// the system's task-switch keys from leaving a locked saver). Other platforms
// have no such flag; nothing is called there and the result is 0.
int SetSaverRunning(BOOL on)
{
    if (!SaverState.win9x) return 0;
    BOOL previous = FALSE;
    return SystemParametersInfoA(SPI_SCREENSAVERRUNNING, (UINT)on, &previous, 0);
}

// The structured-exception guard. GCC has no __try, so the guard builds the
// registration record itself: the two words the system walks on the thread's
// fs:0 chain (link to the previous record, handler), followed by what the
// handler needs to resume the guarded frame.
struct GuardRecord {
    GuardRecord *previous;
    void *handler;
    void *resume[5];  // __builtin_setjmp buffer of RunGuarded's frame
    DWORD exceptionCode;
};

static GuardRecord *CurrentExceptionChain()
{
    GuardRecord *record;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(record) : : "memory");
    return record;
}

static void SetExceptionChain(GuardRecord *record)
{
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(record) : "memory");
}

// Asks the system's UnhandledExceptionFilter and takes its verdict unchanged:
// continue execution and continue search go back to the system; execute
// handler unwinds the frames above the guard and resumes RunGuarded.
static EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD *record, void *establisher,
                                                  CONTEXT *context, void *)
{
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    EXCEPTION_POINTERS pointers = {record, context};
    LONG verdict = UnhandledExceptionFilter(&pointers);
    if (verdict == EXCEPTION_CONTINUE_EXECUTION) return ExceptionContinueExecution;
    if (verdict != EXCEPTION_EXECUTE_HANDLER) return ExceptionContinueSearch;
    GuardRecord *guard = (GuardRecord *)establisher;
    guard->exceptionCode = record->ExceptionCode;
    RtlUnwind(guard, nullptr, record, nullptr);
    __builtin_longjmp(guard->resume, 1);
}

// Returns body(text), or, when an exception reached the guard and the system's
// filter chose to run the handler, clears the system's screen-saver-running
// flag and returns the exception's code (for example 0xC0000005 for an access
// violation): the exit code the system itself gives a process that an
// unhandled exception ends.
__attribute__((noinline)) int RunGuarded(GuardedProc body, const char *text)
{
    GuardRecord guard;
    guard.previous = CurrentExceptionChain();
    guard.handler = (void *)GuardHandler;
    guard.exceptionCode = 0;
    if (__builtin_setjmp(guard.resume) == 0) {
        SetExceptionChain(&guard);
        int result = body(text);
        SetExceptionChain(guard.previous);
        return result;
    }
    SetExceptionChain(guard.previous);
    SetSaverRunning(FALSE);
    return (int)guard.exceptionCode;
}
