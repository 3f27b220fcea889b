#include "dialogs/messages.h"

#include "platform/platform.h"

namespace larkspur::messages {

namespace {

Message make(const char* caption, const char* text, MessageIcon icon) {
  return Message{platform::jp(caption), platform::jp(text), icon};
}

constexpr const char* kNotice = "お知らせ";
constexpr const char* kCaution = "注意";
constexpr const char* kConfirm = "確認";
constexpr const char* kFailure = "失敗";

}  // namespace

Message one_account_only() {
  return make(kNotice,
              "現バージョンで作成できるアカウントは最大１個です。\n\n"
              "変更する場合は一度削除してください。",
              MessageIcon::kInformation);
}

Message fill_every_field() {
  return make(kCaution, "全てに入力してください。", MessageIcon::kWarning);
}

Message nothing_selected() {
  // The list dialog shows the same text as the account dialog, "account"
  // included: the users know this box.
  return make(kNotice, "リストからアカウントは選択されていません。", MessageIcon::kInformation);
}

Message confirm_account_delete() {
  return make(kConfirm, "本当に削除してもよろしいですか？", MessageIcon::kQuestion);
}

Message delete_failed() {
  return make(kFailure, "選択されたファイルを削除できませんでした。", MessageIcon::kWarning);
}

Message account_name_refused() {
  return make(kCaution,
              "このアカウント名はファイル名に使えません。\n"
              "\\ / : * ? \" < > | と制御文字は使えず、末尾を . や空白にはできません。",
              MessageIcon::kWarning);
}

Message save_failed() {
  return make(kFailure, "設定ファイルを保存できませんでした。", MessageIcon::kWarning);
}

Message unwritable_text(std::string_view label) {
  return Message{platform::jp(kCaution),
                 platform::jp("「") + std::string(label) +
                     platform::jp("」にShift_JISで保存できない文字が含まれています。\n"
                                  "その文字を除いてから、もう一度どうぞ。"),
                 MessageIcon::kWarning};
}

Message confirm_list_change() {
  return make(kConfirm, "上書きして保存します。\nよろしいですか？", MessageIcon::kQuestion);
}

Message list_limit_reached() {
  return make(kCaution, "現バージョンではこれ以上登録できません。", MessageIcon::kWarning);
}

Message refused_character() {
  // The text leaves out the backslash and shows a full-width quotation mark;
  // the characters refused are still the twelve of the registration test.
  return make(kCaution, "/.:,;*?<>|”は使えません。", MessageIcon::kWarning);
}

Message confirm_list_delete() {
  return make(kConfirm,
              "このマガジンの受信した内容も全て削除されます。\n"
              "本当に削除してもよろしいですか？",
              MessageIcon::kQuestion);
}

Message no_list_records() {
  return make(kNotice, "登録リストファイルを読み込めません。", MessageIcon::kInformation);
}

Message no_log_selected() {
  return make(kNotice, "削除するファイルが選択されていません。", MessageIcon::kInformation);
}

}  // namespace larkspur::messages
