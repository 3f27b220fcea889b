#include "dialogs/account_logic.h"

#include <gtest/gtest.h>

#include "settings/store.h"
#include "tests/dialogs/message_texts.h"
#include "tests/support/scripted_ui.h"

namespace larkspur {
namespace {

using namespace larkspur::testing;

class AccountLogicTest : public InTempFolder {
 protected:
  void SetUp() override { create_working_folders(); }
};

const NewAccountFields kFull{"main", "pop.example.jp", "taro", "secret"};

struct RegisterCase {
  const char* label;
  bool account_exists;
  NewAccountFields fields;
  Shown shown;
};

TEST_F(AccountLogicTest, RegisterRefusalsInTheirOrder) {
  const RegisterCase cases[] = {
      {"one account rule even with empty fields", true, {}, {kOneAccount}},
      {"one account rule with full fields", true, kFull, {kOneAccount}},
      {"empty account name", false, {"", "s", "u", "p"}, {kFillEvery}},
      {"empty server", false, {"a", "", "u", "p"}, {kFillEvery}},
      {"empty user name", false, {"a", "s", "", "p"}, {kFillEvery}},
      {"empty password", false, {"a", "s", "u", ""}, {kFillEvery}},
      // Names the file system refuses: said so, never silently dropped.
      {"colon", false, {"a:b", "s", "u", "p"}, {kAccountNameRefused}},
      {"question mark", false, {"a?", "s", "u", "p"}, {kAccountNameRefused}},
      {"asterisk", false, {"*", "s", "u", "p"}, {kAccountNameRefused}},
      {"quote", false, {"a\"b", "s", "u", "p"}, {kAccountNameRefused}},
      {"angle brackets", false, {"<a>", "s", "u", "p"}, {kAccountNameRefused}},
      {"bar", false, {"a|b", "s", "u", "p"}, {kAccountNameRefused}},
      {"trailing dot", false, {"main.", "s", "u", "p"}, {kAccountNameRefused}},
      {"trailing blank", false, {"main ", "s", "u", "p"}, {kAccountNameRefused}},
      {"tab", false, {"a\tb", "s", "u", "p"}, {kAccountNameRefused}},
      {"separator", false, {"a\\b", "s", "u", "p"}, {kAccountNameRefused}},
  };
  for (const RegisterCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder folder;
    create_working_folders();
    if (c.account_exists) {
      ASSERT_TRUE(write_account(AccountRecord{"old", "s", "u", "p"}));
    }
    const std::vector<std::string> before = account_record_files();

    ScriptedUi ui{ScriptedUi::Unscripted::kFail};
    AccountDialogUpdate update = register_account(c.fields, ui);
    EXPECT_EQ(describe(ui.shown()), c.shown);
    // A refusal keeps the typed fields and writes nothing.
    EXPECT_FALSE(update.clear_new_fields);
    EXPECT_FALSE(update.refill_list_box);
    EXPECT_EQ(update.outcome.kind, OutcomeKind::kRefused);
    EXPECT_EQ(account_record_files(), before);
  }
}

TEST_F(AccountLogicTest, ANameWithAShiftJisTrailByteOfAForbiddenCharacterIsTaken) {
  // ソ ends in 0x5C and ポ in 0x7C: parts of Japanese characters, not \ or |.
  ScriptedUi ui{ScriptedUi::Unscripted::kFail};
  const AccountDialogUpdate update = register_account({sj("ソポ"), "s", "u", "p"}, ui);
  EXPECT_TRUE(update.outcome.ok());
  EXPECT_EQ(account_record_files(), std::vector<std::string>{sj("ソポ") + ".stf"});
}

// The record is written, the dialog asked to clear and refill; the box for
// extended mail sets only its bit (unticked, the record is the one written
// before the option existed).
TEST_F(AccountLogicTest, RegisterWritesTheRecordAndAsksToClearAndRefill) {
  for (const bool ticked : {false, true}) {
    SCOPED_TRACE(ticked);
    TempFolder folder;
    create_working_folders();
    ScriptedUi ui{ScriptedUi::Unscripted::kFail};
    NewAccountFields fields = kFull;
    fields.extended_mail = ticked;
    const AccountDialogUpdate update = register_account(fields, ui);
    EXPECT_TRUE(update.outcome.ok());
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_TRUE(update.clear_new_fields);
    EXPECT_TRUE(update.refill_list_box);
    EXPECT_FALSE(update.clear_shown_fields);
    AccountRecord expected{"main", "pop.example.jp", "taro", "secret"};
    if (ticked) expected.options = kAccountOptionExtendedMail;
    EXPECT_EQ(get_file("pop3mail\\main.stf"), expected.encode());
    EXPECT_EQ(account_list_lines(), std::vector<std::string>{"main"});

    const AccountRecord shown = select_account("main");
    EXPECT_EQ(shown.server, "pop.example.jp");
    EXPECT_EQ(shown.user_name, "taro");
    EXPECT_EQ(shown.password, "secret");
    EXPECT_EQ(has_extended_mail(shown), ticked);
  }
}

// A record with bytes past its texts' terminators and an option bit of
// tomorrow set: the switch must leave them all as they are.
std::string untidy_record(std::int32_t options) {
  AccountRecord record{"main", "s", "u", "p"};
  record.options = options;
  std::string bytes = record.encode();
  bytes[AccountRecord::kPasswordOffset + 200] = 'x';
  return bytes;
}

struct SwitchCase {
  const char* label;
  std::optional<std::string> selected;
  bool on;
  std::string before;  // pop3mail\main.stf
  Shown shown;
  std::string after;
  OutcomeKind outcome;
};

TEST_F(AccountLogicTest, SwitchingExtendedMailRewritesOnlyItsBit) {
  const std::string plain = untidy_record(0);
  const std::string short_file = AccountRecord{"main", "s", "u", "p"}.encode().substr(0, 800);
  const SwitchCase cases[] = {
      {.label = "on", .selected = "main", .on = true, .before = plain, .shown = {},
       .after = untidy_record(1), .outcome = OutcomeKind::kDone},
      {.label = "off keeps other bits", .selected = "main", .on = false,
       .before = untidy_record(0x101), .shown = {}, .after = untidy_record(0x100),
       .outcome = OutcomeKind::kDone},
      {.label = "short file padded", .selected = "main", .on = true, .before = short_file,
       .shown = {},
       .after = AccountRecord{"main", "s", "u", "p", kAccountOptionExtendedMail}.encode(),
       .outcome = OutcomeKind::kDone},
      {.label = "nothing selected", .selected = std::nullopt, .on = true, .before = plain,
       .shown = {kNothingSelected}, .after = plain,
       .outcome = OutcomeKind::kRefused},
      {.label = "line is not the file name", .selected = "other", .on = true, .before = plain,
       .shown = {kSaveFailed}, .after = plain,
       .outcome = OutcomeKind::kFailed},
      {.label = "line leading out of the folder", .selected = "..\\main", .on = true,
       .before = plain, .shown = {kSaveFailed}, .after = plain,
       .outcome = OutcomeKind::kFailed},
  };
  for (const SwitchCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder folder;
    create_working_folders();
    put_file("pop3mail\\main.stf", c.before);
    put_file("main.stf", c.before);

    ScriptedUi ui{ScriptedUi::Unscripted::kFail};
    const AccountDialogUpdate update = set_extended_mail(c.selected, c.on, ui);
    EXPECT_EQ(describe(ui.shown()), c.shown);
    EXPECT_EQ(update.outcome.kind, c.outcome);
    EXPECT_FALSE(update.clear_new_fields || update.clear_shown_fields || update.refill_list_box);
    EXPECT_EQ(get_file("pop3mail\\main.stf"), c.after);
    EXPECT_EQ(get_file("main.stf"), c.before);
    EXPECT_EQ(account_record_files(), std::vector<std::string>{"main.stf"});
  }
}

TEST_F(AccountLogicTest, FieldsAreCutAt79BytesNeverInsideACharacter) {
  const std::string long_ascii(100, 's');
  // 39 two-byte characters, a single byte and one more character: the cut
  // at 79 bytes falls right after the single byte.
  std::string japanese;
  for (int i = 0; i < 39; ++i) japanese += sj("表");
  japanese += "x" + sj("表");
  // 40 two-byte characters: 80 bytes, cut to 78 rather than half a character.
  std::string forty;
  for (int i = 0; i < 40; ++i) forty += sj("ソ");

  ScriptedUi ui{ScriptedUi::Unscripted::kFail};
  register_account(NewAccountFields{forty, long_ascii, japanese, long_ascii}, ui);
  ASSERT_TRUE(ui.shown().empty());
  std::vector<AccountRecord> accounts = enumerate_accounts();
  ASSERT_EQ(accounts.size(), 1u);
  EXPECT_EQ(accounts[0].account_name, forty.substr(0, 78));
  EXPECT_EQ(accounts[0].server, std::string(79, 's'));
  EXPECT_EQ(accounts[0].user_name, japanese.substr(0, 79));
  EXPECT_EQ(accounts[0].password, std::string(79, 's'));
}

struct DeleteCase : DeletePath {
  bool file_remains;
  bool proceeds;  // the shown fields are cleared and the list box refilled
};

TEST_F(AccountLogicTest, DeleteMessagePaths) {
  const DeleteCase cases[] = {
      {{"nothing selected", std::nullopt, {}, {kNothingSelected}}, true, false},
      {{"answered No", "main", {false}, {kConfirmDelete}}, true, false},
      {{"answered Yes", "main", {true}, {kConfirmDelete}}, false, true},
      {{"line differs from the file name", "other", {true}, {kConfirmDelete, kDeleteFailed}}, true,
       true},
      {{"empty line of an unreadable record", "", {true}, {kConfirmDelete, kDeleteFailed}}, true,
       true},
      {{"line leading out of the folder", "..\\main", {true}, {kConfirmDelete, kDeleteFailed}},
       true, true},
  };
  for (const DeleteCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder folder;
    create_working_folders();
    put_file("pop3mail\\main.stf", AccountRecord{"main", "s", "u", "p"}.encode());
    put_file("main.stf", "outside");

    ScriptedUi ui{ScriptedUi::Unscripted::kFail, c.answers};
    AccountDialogUpdate update = delete_account(c.selected, ui);
    EXPECT_EQ(describe(ui.shown()), c.shown);
    EXPECT_EQ(get_file("pop3mail\\main.stf") != "<missing>", c.file_remains);
    EXPECT_EQ(get_file("main.stf"), "outside");
    EXPECT_EQ(update.clear_shown_fields, c.proceeds);
    EXPECT_EQ(update.refill_list_box, c.proceeds);
    EXPECT_FALSE(update.clear_new_fields);
  }
}

TEST_F(AccountLogicTest, AfterDeletingTheOnlyAccountANewOneCanBeRegistered) {
  ScriptedUi ui{ScriptedUi::Unscripted::kFail, {true}};
  register_account(kFull, ui);
  register_account(NewAccountFields{"second", "s", "u", "p"}, ui);
  delete_account(std::string("main"), ui);
  register_account(NewAccountFields{"second", "s", "u", "p"}, ui);
  EXPECT_EQ(describe(ui.shown()), (Shown{kOneAccount, kConfirmDelete}));
  EXPECT_EQ(account_list_lines(), std::vector<std::string>{"second"});
}

TEST_F(AccountLogicTest, ListBoxShowsStoredNamesInPresentationOrder) {
  put_file("pop3mail\\a.stf", AccountRecord{"a", "sa", "ua", "pa"}.encode());
  put_file("pop3mail\\b.stf", AccountRecord{"renamed", "sb", "ub", "pb"}.encode());
  put_file("pop3mail\\c.stf", "");
  EXPECT_EQ(account_list_lines(), (std::vector<std::string>{"", "renamed", "a"}));
  // A line whose text is not its file's name shows empty fields.
  EXPECT_EQ(select_account("renamed").encode(), std::string(1028, '\0'));
  EXPECT_EQ(select_account("a").password, "pa");
}

}  // namespace
}  // namespace larkspur
