// Process entry and mode dispatch: the command line picks the mode, which runs
// inside a structured-exception guard; its result becomes the exit code.
#include "host/SaverHost.h"

__constinit SaverRecord SaverState;
__constinit GuardUnwindProc GuardUnwind = RtlUnwind;

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

// What the guard does once an exception has reached it and the system's filter
// chose to run the handler: clears the system's screen-saver-running flag and
// returns the exception's code (for example 0xC0000005 for an access
// violation), the exit code the system itself gives a process that an
// unhandled exception ends.
extern "C" int GuardRecovered(DWORD exceptionCode)
{
    SetSaverRunning(FALSE);
    return (int)exceptionCode;
}

// Asks the system's UnhandledExceptionFilter about an exception that reached
// the guard and takes its verdict unchanged: true when the guard's handler is
// to run; otherwise *disposition is the guard's answer to the system (continue
// execution, or continue search, which is also the answer during an unwind).
static bool FilterChoosesHandler(EXCEPTION_RECORD *record, CONTEXT *context,
                                 EXCEPTION_DISPOSITION *disposition)
{
    *disposition = ExceptionContinueSearch;
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return false;
    EXCEPTION_POINTERS pointers = {record, context};
    LONG verdict = UnhandledExceptionFilter(&pointers);
    if (verdict == EXCEPTION_CONTINUE_EXECUTION) *disposition = ExceptionContinueExecution;
    return verdict == EXCEPTION_EXECUTE_HANDLER;
}

#if defined(__i386__)

// The structured-exception guard on i386. GCC has no __try, so the guard builds the
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

// Calls GuardUnwind(guard, nullptr, record, nullptr) inside an asm statement
// that declares ebx, esi and edi lost, because Windows NT's i386 RtlUnwind may
// return with them changed (Wine's keeps them). After a plain call the
// compiler may still expect the guard's address in one of them (GCC at -Os
// does) and the handler would jump through what the unwind left there. The
// operands sit in the scratch registers the call changes anyway, so none is
// addressed through the stack pointer that the pushes move.
static void UnwindToGuard(GuardRecord *guard, EXCEPTION_RECORD *record)
{
    GuardUnwindProc unwind = GuardUnwind;
    __asm__ __volatile__("pushl $0\n\t"
                         "pushl %2\n\t"
                         "pushl $0\n\t"
                         "pushl %1\n\t"
                         "call *%0"
                         : "+a"(unwind), "+c"(guard), "+d"(record)
                         :
                         : "ebx", "esi", "edi", "memory", "cc");
}

// When the system's filter chooses the handler, unwinds the frames above the
// guard and resumes RunGuarded.
static EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD *record, void *establisher,
                                                  CONTEXT *context, void *)
{
    EXCEPTION_DISPOSITION disposition;
    if (!FilterChoosesHandler(record, context, &disposition)) return disposition;
    GuardRecord *guard = (GuardRecord *)establisher;
    guard->exceptionCode = record->ExceptionCode;
    UnwindToGuard(guard, record);
    __builtin_longjmp(guard->resume, 1);
}

// Returns body(text), or GuardRecovered's result when an exception reached the
// guard and the system's filter chose to run the handler.
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
    return GuardRecovered(guard.exceptionCode);
}

#elif defined(__x86_64__)

// The structured-exception guard on x86-64, where exception handling is
// table-based: GuardedCall, below, calls body(text) in a frame whose unwind
// table names GuardHandler as its exception handler. When the system's filter
// chooses to run the handler, the system unwinds every frame above
// GuardedCall's and resumes it at GuardResume with the exception's code in eax.
extern "C" int GuardedCall(GuardedProc body, const char *text);
extern "C" char GuardResume[];

extern "C" EXCEPTION_DISPOSITION GuardHandler(EXCEPTION_RECORD *record, void *establisher,
                                              CONTEXT *context, void *)
{
    EXCEPTION_DISPOSITION disposition;
    if (!FilterChoosesHandler(record, context, &disposition)) return disposition;
    GuardUnwind(establisher, GuardResume, record, (void *)(ULONG_PTR)record->ExceptionCode);
    return ExceptionContinueSearch;  // not reached: the unwind resumes GuardedCall
}

// GuardedCall's frame is 40 bytes (the callee's 32-byte home area and
// alignment) and keeps no register, so its establisher frame is its stack
// pointer after the prologue, where the unwind restores it.
// The nop after the guarded call keeps that call's return address off the
// epilogue. An unwinder that finds a return address at "add rsp; ret" takes
// the frame for one already leaving: it unwinds it by reading those
// instructions and calls no handler for it, so without the nop a fault in the
// body would pass the guard by (Wine's unwinder does exactly that). After the
// call of GuardRecovered none is needed: a fault there is not the guard's to
// handle a second time, and the frame unwinds the same either way, as that
// epilogue undoes exactly the 40 bytes the unwind codes describe.
__asm__(
    ".text\n"
    ".globl GuardedCall\n"
    ".def GuardedCall; .scl 2; .type 32; .endef\n"
    ".seh_proc GuardedCall\n"
    "GuardedCall:\n"
    "    subq $40, %rsp\n"
    "    .seh_stackalloc 40\n"
    "    .seh_endprologue\n"
    "    .seh_handler GuardHandler, @except\n"
    "    movq %rcx, %rax\n"
    "    movq %rdx, %rcx\n"
    "    call *%rax\n"
    "    nop\n"
    "    addq $40, %rsp\n"
    "    ret\n"
    ".globl GuardResume\n"
    "GuardResume:\n"
    "    movl %eax, %ecx\n"
    "    call GuardRecovered\n"
    "    addq $40, %rsp\n"
    "    ret\n"
    ".seh_endproc\n");

// Returns body(text), or GuardRecovered's result when an exception reached the
// guard and the system's filter chose to run the handler.
int RunGuarded(GuardedProc body, const char *text)
{
    return GuardedCall(body, text);
}

#endif
