// Resource numbers, by kind: strings, frames, dialogs, controls.
#pragma once

#define IDS_DESCRIPTION_TEXT 100
#define IDS_INI_FILE 1001
#define IDS_APP_NAME 1007

#define IDB_FIRST_FRAME 106

#define IDD_CONFIGURE 2003

#define IDC_FAST_LABEL 103
#define IDC_SLOW_LABEL 104
#define IDC_SPEED_SCROLL 3019
#define IDC_CONFIG_OK 3029
#define IDC_CONFIG_CANCEL 3030
#define IDC_CONFIG_ABOUT 3031
