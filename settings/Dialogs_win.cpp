// Configure mode: the speed dialog, its About box, and the launcher the
// dispatcher calls. The dialog edits RedrawSpeed in memory; only OK stores it.
#include "settings/Settings_win.h"
#include "host/SaverHost.h"
#include "resources/resource.h"

// What the configuration dialog keeps while it is open.
struct ConfigureRecord {
    HWND speedScroll = nullptr;
};

static __constinit ConfigureRecord ConfigureState;

BOOL RegisterSaverDialogClasses(HINSTANCE)
{
    // The dialogs use only the platform's own classes.
    return TRUE;
}

typedef DPI_AWARENESS_CONTEXT(WINAPI *SetThreadDpiAwarenessContextProc)(DPI_AWARENESS_CONTEXT context);

// The process is aware of each monitor's DPI (see the manifest), and so the
// system leaves its dialogs at the DPI of the primary monitor wherever they
// open. This thread's dialogs ask instead to be scaled by the system to the
// DPI of the monitor they are on: laid out anew where the system can do that
// (Windows 10 version 1703 on), stretched as a picture where it cannot (1607).
// Earlier systems lack the call and keep the primary monitor's size.
static void ScaleDialogsToTheirMonitor()
{
    SetThreadDpiAwarenessContextProc setContext = (SetThreadDpiAwarenessContextProc)(void *)
        GetProcAddress(GetModuleHandleA("USER32.DLL"), "SetThreadDpiAwarenessContext");
    if (setContext == nullptr) return;
    if (setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) == nullptr)
        setContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
}

int RunConfigure(HWND owner)
{
    if (!RegisterSaverDialogClasses(SaverState.instance)) return 0;
    ScaleDialogsToTheirMonitor();
    return (int)DialogBoxParamA(SaverState.instance, MAKEINTRESOURCEA(IDD_CONFIGURE), owner,
                                ConfigureDialogProc, 0);
}

static BOOL InitConfigureDialog(HWND dialog)
{
    LoadSettingNames();
    ReadRedrawSpeed();
    RedrawSpeed = ApplySpeedRange(RedrawSpeed);
    ConfigureState.speedScroll = GetDlgItem(dialog, IDC_SPEED_SCROLL);
    SetScrollRange(ConfigureState.speedScroll, SB_CTL, REDRAW_SPEED_MIN, REDRAW_SPEED_MAX, FALSE);
    SetScrollPos(ConfigureState.speedScroll, SB_CTL, RedrawSpeed, TRUE);
    // No initial focus: nothing is preselected.
    return FALSE;
}

static void AcceptConfigureDialog(HWND dialog)
{
    WriteRedrawSpeed();
    EndDialog(dialog, 1);
}

static void CancelConfigureDialog(HWND dialog)
{
    EndDialog(dialog, 0);
}

static void ShowAboutBox(HWND dialog)
{
    // A failure to create the box is not reported; the dialog stays open.
    DialogBoxParamA(SaverState.instance, "ABOUT", dialog, AboutDialogProc, 0);
}

// The dialog has no control numbered IDOK or IDCANCEL and no default button, so
// these two ids come only from the dialog manager: IDOK for the Enter key when
// no button has the focus, IDCANCEL for Escape and the caption's close box.
// Enter accepts like the OK button (the value is stored, result 1); Escape and
// the close box discard like Cancel (nothing stored, result 0).
static BOOL OnConfigureCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDC_CONFIG_OK:
    case IDOK:
        AcceptConfigureDialog(dialog);
        return TRUE;
    case IDC_CONFIG_CANCEL:
    case IDCANCEL:
        CancelConfigureDialog(dialog);
        return TRUE;
    case IDC_CONFIG_ABOUT:
        ShowAboutBox(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

static BOOL OnConfigureScroll(WORD code, WORD thumb, HWND scroll)
{
    int32_t candidate;
    if (!SpeedScrollCandidate(code, RedrawSpeed, thumb, &candidate)) return TRUE;
    RedrawSpeed = ClampSpeed(candidate);
    SetScrollPos(scroll, SB_CTL, RedrawSpeed, TRUE);
    return FALSE;
}

INT_PTR CALLBACK ConfigureDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return InitConfigureDialog(dialog);
    case WM_COMMAND:
        return OnConfigureCommand(dialog, LOWORD(wParam));
    case WM_HSCROLL:
        return OnConfigureScroll(LOWORD(wParam), HIWORD(wParam), (HWND)lParam);
    case WM_CLOSE:
        CancelConfigureDialog(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // Let the dialog manager focus the first tab stop, the OK button.
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) return FALSE;
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}
