// Identifiers shared by the resource script and the Windows program.
// Bitmaps and dialogs are named resources ("BACKBMP", "I_INFO_DIALOG"); only
// the icon and the controls have numbers.
#pragma once

// The program icon, large and small.
#define IDI_LARKSPUR 100

// Command IDs of the main window's six buttons (also their control IDs).
#define ID_CMD_RECEIVE 101
#define ID_CMD_ACCOUNT 103
#define ID_CMD_LISTS 104
#define ID_CMD_REBUILD 105
#define ID_CMD_DELETE_LOGS 107
#define ID_CMD_HELP 111
// The search page: the system menu's item and Ctrl+F (no button).
#define ID_CMD_SEARCH 113
#define IDM_SYS_SEARCH 0x0110

// Controls of the progress dialog I_INFO_DIALOG.
#define IDC_INFO_CANCEL 1
#define IDC_INFO_STATUS 10
