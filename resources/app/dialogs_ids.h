// Control identifiers of the three settings dialogs, shared by dialogs.rc
// and app/settings_dialogs.cpp. The numbers are fixed: the dialog manager
// gives 1 (IDOK) and 2 (IDCANCEL) to Enter and Escape, and the layouts rely
// on which control carries them.
#pragma once

// I_POP_DIALOG, the POP3 account. ID 2 ("完了") is the cancel command, so
// Escape closes the dialog; no control has ID 1, so Enter does nothing.
#define IDC_POP_DONE 2
#define IDC_POP_ACCOUNTS 3        // list box of the registered accounts
#define IDC_POP_NEW_NAME 4        // edits of the new account
#define IDC_POP_NEW_SERVER 5
#define IDC_POP_NEW_USER 6
#define IDC_POP_NEW_PASSWORD 7
#define IDC_POP_REGISTER 8
#define IDC_POP_CLEAR 9
#define IDC_POP_DELETE 10
#define IDC_POP_SERVER 11         // edits showing the selected account
#define IDC_POP_USER 12
#define IDC_POP_PASSWORD 13
#define IDC_POP_EXTENDED 14       // extended mail handling of the selected account
#define IDC_POP_CHANGE 15         // applies IDC_POP_EXTENDED to the selected account
#define IDC_POP_NEW_EXTENDED 16   // extended mail handling of the new account

// I_LK_DIALOG, the lists. ID 2 is an edit: the dialog has no cancel command,
// so Escape does nothing and "完了" is the only way out.
#define IDC_LK_SEARCH_TEXT 2      // search text of the selected list
#define IDC_LK_NEW_NAME 3
#define IDC_LK_NEW_SEARCH_TEXT 4
#define IDC_LK_LISTS 5            // list box of the list names
#define IDC_LK_DELETE 6
#define IDC_LK_CLEAR 7
#define IDC_LK_DONE 8
#define IDC_LK_REGISTER 9
#define IDC_LK_CHANGE 11
#define IDC_LK_KEEP 100           // "サーバーにメールを残す" of the selected list
#define IDC_LK_NEW_KEEP 200       // the same for the new list

// I_DEL_DIALOG, the log deletion. Clear and Delete carry 1 and 2; the dialog
// keeps Enter and Escape from running them.
#define IDC_DEL_CLEAR 1
#define IDC_DEL_DELETE 2
#define IDC_DEL_DONE 3
#define IDC_DEL_LOGS 4            // the chosen list's logs by first line
#define IDC_DEL_LISTS 5           // the registered lists

// Where the picture DELBMP goes in the deletion dialog's client area, in
// pixels, and its size.
#define DEL_PICTURE_X 302
#define DEL_PICTURE_Y 12
#define DEL_PICTURE_WIDTH 183
#define DEL_PICTURE_HEIGHT 77
