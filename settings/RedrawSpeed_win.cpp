// Reading and writing the redraw speed in its profile entry.
#include "settings/Settings_win.h"
#include "host/SaverHost.h"
#include "resources/resource.h"

__constinit LONG RedrawSpeed = REDRAW_SPEED_DEFAULT;
__constinit char SettingSection[40];
__constinit char SettingFile[13];

static const char REDRAW_SPEED_KEY[] = "Redraw Speed";

void LoadSettingNames()
{
    LoadStringA(SaverState.instance, IDS_APP_NAME, SettingSection, sizeof SettingSection);
    LoadStringA(SaverState.instance, IDS_INI_FILE, SettingFile, sizeof SettingFile);
}

LONG ReadRedrawSpeed()
{
    RedrawSpeed = (LONG)GetPrivateProfileIntA(SettingSection, REDRAW_SPEED_KEY,
                                              REDRAW_SPEED_DEFAULT, SettingFile);
    return RedrawSpeed;
}

void WriteRedrawSpeed()
{
    char text[32];
    wsprintfA(text, "%ld", RedrawSpeed);
    WritePrivateProfileStringA(SettingSection, REDRAW_SPEED_KEY, text, SettingFile);
}
