// The message boxes the settings dialogs must show, written out here once
// more (not taken from dialogs/messages.h), so a wrong byte in either place
// fails a test. describe() gives a readable UTF-8 form for comparisons;
// DeletePath is the part of a delete-button row the dialogs share.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/ui.h"
#include "tests/support/temp_folder.h"

namespace larkspur::testing {

inline std::string describe(const Message& message) {
  static const char* const icons[] = {"none", "information", "warning", "question"};
  return platform::sjis_to_utf8_display(message.caption) + " | " +
         platform::sjis_to_utf8_display(message.text) + " | " +
         icons[static_cast<int>(message.icon)];
}

inline std::vector<std::string> describe(const std::vector<Message>& messages) {
  std::vector<std::string> lines;
  for (const Message& message : messages) lines.push_back(describe(message));
  return lines;
}

// Expected messages, in the readable form of describe().
inline const std::string kOneAccount =
    "お知らせ | 現バージョンで作成できるアカウントは最大１個です。\n\n"
    "変更する場合は一度削除してください。 | information";
inline const std::string kFillEvery = "注意 | 全てに入力してください。 | warning";
inline const std::string kNothingSelected =
    "お知らせ | リストからアカウントは選択されていません。 | information";
inline const std::string kConfirmDelete = "確認 | 本当に削除してもよろしいですか？ | question";
inline const std::string kDeleteFailed =
    "失敗 | 選択されたファイルを削除できませんでした。 | warning";
inline const std::string kSaveFailed = "失敗 | 設定ファイルを保存できませんでした。 | warning";
inline const std::string kAccountNameRefused =
    "注意 | このアカウント名はファイル名に使えません。\n"
    "\\ / : * ? \" < > | と制御文字は使えず、末尾を . や空白にはできません。 | warning";
inline const std::string kConfirmChange = "確認 | 上書きして保存します。\nよろしいですか？ | question";
inline const std::string kListLimit = "注意 | 現バージョンではこれ以上登録できません。 | warning";
inline const std::string kRefusedCharacter = "注意 | /.:,;*?<>|”は使えません。 | warning";
inline const std::string kConfirmListDelete =
    "確認 | このマガジンの受信した内容も全て削除されます。\n"
    "本当に削除してもよろしいですか？ | question";
inline const std::string kNoListRecords =
    "お知らせ | 登録リストファイルを読み込めません。 | information";
inline const std::string kNoLogSelected =
    "お知らせ | 削除するファイルが選択されていません。 | information";

using Shown = std::vector<std::string>;

// A path through the delete button of the account or the list dialog: the
// line selected (nullopt: none), the answers given to its questions, and the
// messages shown on the way. A test's rows add what must follow from it.
struct DeletePath {
  const char* label;
  std::optional<std::string> selected;
  std::deque<bool> answers;
  Shown shown;
};

}  // namespace larkspur::testing
