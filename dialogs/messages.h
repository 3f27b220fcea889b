// The fixed message boxes of the settings dialogs, shared by the Windows
// program and the command-line tool so both show the same Japanese texts.
// Every caption and text is Shift_JIS; "\n" in a text is one LF.
#pragma once

#include <string_view>

#include "settings/ui.h"

namespace larkspur::messages {

// Account dialog.
Message one_account_only();        // "お知らせ": at most one account
Message fill_every_field();        // "注意": a field of the new entry is empty
Message nothing_selected();        // "お知らせ": delete with no line selected
Message confirm_account_delete();  // "確認": Yes and No
Message delete_failed();           // "失敗": the selected file could not be deleted
Message account_name_refused();    // "注意": the file system refuses the account name
Message save_failed();             // "失敗": the settings file could not be written
// "注意": the field labelled `label` (Shift_JIS) holds a character that
// Shift_JIS cannot write; nothing is stored.
Message unwritable_text(std::string_view label);

// List dialog.
Message confirm_list_change();     // "確認": Yes and No
Message list_limit_reached();      // "注意": no more lists
Message refused_character();       // "注意": the name holds a refused character
Message confirm_list_delete();     // "確認": everything received goes too

// Log deletion dialog.
Message no_list_records();         // "お知らせ": no list record file found
Message no_log_selected();         // "お知らせ": delete with no log selected

}  // namespace larkspur::messages
