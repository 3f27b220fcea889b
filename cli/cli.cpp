#include "cli/cli.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>

#include "retrieval/pop3_client.h"
#include "retrieval/receive_job.h"
#include "settings/account_logic.h"
#include "settings/list_logic.h"
#include "settings/list_panel.h"
#include "settings/log_logic.h"
#include "settings/open_list_page.h"
#include "settings/store.h"
#include "settings/ui.h"
#include "site/rebuild.h"

namespace larkspur::cli {

namespace {

// How often a waiting receive looks at Ctrl+C.
constexpr int kInterruptPollMs = 100;

std::string to_utf8(std::string_view sjis) { return platform::sjis_to_utf8_display(sjis); }

// "CAPTION: TEXT", the form every message box takes on stderr.
std::string message_line(const Message& message) {
  return to_utf8(message.caption) + ": " + to_utf8(message.text) + "\n";
}

// The tool's answer to the core's questions and notices.
class CliUserInterface : public UserInterface {
 public:
  CliUserInterface(Console& console, bool assume_yes)
      : console_(console), assume_yes_(assume_yes) {}

  bool confirm(const Message& question) override {
    say(question);
    if (assume_yes_) return true;
    const std::optional<std::string> answer = console_.ask("[y/N] ");
    const bool yes = answer && (*answer == "y" || *answer == "Y" || *answer == "yes" ||
                                *answer == "YES" || *answer == "はい");
    if (!yes) declined_ = true;
    return yes;
  }

  void notify(const Message& message) override {
    say(message);
    std::lock_guard<std::mutex> lock(mutex_);
    captions_.insert(message.caption);
  }

  void panel_changed() override {}

  bool declined() const { return declined_; }
  bool saw_caption(std::string_view caption_utf8) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return captions_.count(platform::jp(caption_utf8)) != 0;
  }

 private:
  void say(const Message& message) { console_.err(message_line(message)); }

  Console& console_;
  bool assume_yes_;
  bool declined_ = false;
  mutable std::mutex mutex_;
  std::set<std::string> captions_;  // Shift_JIS captions of the notices shown
};

// A parsed command line: the command's words and arguments (Shift_JIS) and
// its flags.
struct Invocation {
  std::vector<std::string> words;  // positional arguments, command words first
  std::set<std::string> flags;     // "--yes", "--keep", "--print"
  std::optional<std::string> folder;  // -C DIR, Shift_JIS
  bool help = false;
};

struct Command {
  std::vector<std::string> words;      // "receive" / "list", "add"
  std::vector<std::string> arguments;  // names of the positional arguments
  std::set<std::string> flags;         // flags it accepts
  std::string summary;                 // one line of --help
  int (*run)(const std::vector<std::string>& arguments, const Invocation& invocation,
             Console& console, const Environment& env);
};

int usage_error(Console& console, const std::string& what) {
  console.err("larkspur-cli: " + what + "\n" + "Try 'larkspur-cli --help'.\n");
  return kExitUsage;
}

// -------------------------------------------------------------- receive

int run_receive(const std::vector<std::string>&, const Invocation& invocation,
                Console& console, const Environment& env) {
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  ReceiveJobState state;
  Pop3Client client;
  if (env.connect_timeout_ms > 0) client.connect_timeout_ms = env.connect_timeout_ms;
  if (env.receive_timeout_ms > 0) client.receive_timeout_ms = env.receive_timeout_ms;
  ListPanelTable& table = list_panel();
  refresh_list_panel(table);

  // Statuses arrive on the worker thread; the main thread only waits.
  std::mutex seen_mutex;
  std::set<int> seen;
  ReceiveHooks hooks;
  hooks.pause = [](int) {};  // nobody watches a progress dialog here
  hooks.clock = env.clock;
  hooks.status_changed = [&](int status) {
    console.out(to_utf8(status_text(status, status == kStatusNotice ? state.notice()
                                                                     : std::string())) +
                "\n");
    std::lock_guard<std::mutex> lock(seen_mutex);
    seen.insert(status);
  };

  std::unique_ptr<ReceiveJob> job = ReceiveJob::start(state, client, table, ui, hooks);
  if (!job) {
    ui.notify({platform::jp("注意"),
               platform::jp("このフォルダーでは受信処理が実行中です。\n"
                            "終わってから、もう一度実行してください。"),
               MessageIcon::warning});
    return kExitFailed;
  }
  bool cancelled = false;
  while (!job->wait_for(kInterruptPollMs)) {
    if (!cancelled && console.interrupted()) {
      cancelled = true;
      job->cancel();
    }
  }
  job.reset();

  const ReceiveReport& report = state.report;
  bool failed = cancelled || report.scan_failed || report.retrieval_open_failed ||
                report.retrieve_failures > 0 || report.log_write_failures > 0 ||
                report.delete_failures > 0;
  for (int status : {kStatusConnectError, kStatusAuthFailed, kStatusSessionError,
                     kStatusNoAccount, kStatusNoList, kStatusTlsFailed}) {
    if (seen.count(status)) failed = true;
  }
  const std::string_view tls_reason = pop3_tls_failure_reason(pop3_tls_failure(client));
  if (!cancelled && !tls_reason.empty()) {
    console.err("larkspur-cli: receive: TLS: " + std::string(tls_reason) + "\n");
  }
  return failed ? kExitFailed : kExitOk;
}

// -------------------------------------------------------------- rebuild

int run_rebuild(const std::vector<std::string>&, const Invocation& invocation,
                Console& console, const Environment&) {
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  ListPanelTable& table = list_panel();
  refresh_list_panel(table);
  rebuild_site(ui, table);
  if (ui.declined() || ui.saw_caption("削除エラー")) return kExitFailed;
  return kExitOk;
}

// ---------------------------------------------------------------- lists

int run_lists(const std::vector<std::string>&, const Invocation&, Console& console,
              const Environment&) {
  for (const std::string& name : enumerate_lists()) {
    const ListRecord record = read_list_or_zero(name);
    const bool has_page =
        !platform::find_files(list_web_folder(name) + "\\*.htm").empty();
    console.out(to_utf8(name) + "\t" + to_utf8(record.search_text) + "\t" +
                (record.delete_from_server != 0 ? "delete" : "keep") + "\t" +
                (record.new_mail != 0 ? "1" : "0") + "\t" +
                (has_page ? to_utf8(list_index_page(name)) : std::string("-")) + "\n");
  }
  return kExitOk;
}

// ------------------------------------------------------------- settings

// The lists and accounts the tool acts on must exist: acting on a name that
// is not registered would create its record (list_registered, settings/store.h).
int not_registered(Console& console, const char* what_utf8, std::string_view name) {
  console.err(message_line({platform::jp("注意"),
                            platform::jp(what_utf8) + platform::jp("「") + std::string(name) +
                                platform::jp("」は登録されていません。"),
                            MessageIcon::warning}));
  return kExitFailed;
}

// After a register or change: whether the list's record on disk now holds
// what was asked for (the dialogs skip a record they cannot write silently).
template <typename Fields>
bool record_saved(std::string_view name, const Fields& fields) {
  const std::optional<ListRecord> record = read_list(cut_sjis(name, kMaxSearchText));
  return record && record->search_text == cut_sjis(fields.search_text, kMaxSearchText) &&
         (record->delete_from_server == 0) == fields.keep_on_server && record->new_mail == 0;
}

int not_saved(Console& console) {
  console.err(message_line({platform::jp("失敗"),
                            platform::jp("設定ファイルを保存できませんでした。"),
                            MessageIcon::warning}));
  return kExitFailed;
}

int run_account_add(const std::vector<std::string>& arguments, const Invocation& invocation,
                    Console& console, const Environment&) {
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  const AccountDialogUpdate update =
      register_account({arguments[0], arguments[1], arguments[2], arguments[3]}, ui);
  if (!update.clear_new_fields) return kExitFailed;
  // The dialog skips a record it cannot write without a word; the tool must
  // not report that as success.
  if (account_record_files().empty()) return not_saved(console);
  return kExitOk;
}

int run_account_show(const std::vector<std::string>&, const Invocation&, Console& console,
                     const Environment&) {
  for (const AccountRecord& account : enumerate_accounts()) {
    console.out(to_utf8(account.account_name) + "\t" + to_utf8(account.server) + "\t" +
                to_utf8(account.user_name) + "\n");
  }
  return kExitOk;
}

int run_account_delete(const std::vector<std::string>& arguments, const Invocation& invocation,
                       Console& console, const Environment&) {
  const std::vector<std::string> lines = account_list_lines();
  if (std::find(lines.begin(), lines.end(), arguments[0]) == lines.end()) {
    return not_registered(console, "アカウント", arguments[0]);
  }
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  delete_account(arguments[0], ui);
  return ui.declined() || ui.saw_caption("失敗") ? kExitFailed : kExitOk;
}

int run_list_add(const std::vector<std::string>& arguments, const Invocation& invocation,
                 Console& console, const Environment&) {
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  NewListFields fields;
  fields.name = arguments[0];
  fields.search_text = arguments[1];
  fields.keep_on_server = invocation.flags.count("--keep") != 0;
  const ListDialogUpdate update = register_list(fields, ui, list_panel());
  if (!update.clear_new_fields) return kExitFailed;
  if (!record_saved(fields.name, fields)) return not_saved(console);
  return kExitOk;
}

int run_list_change(const std::vector<std::string>& arguments, const Invocation& invocation,
                    Console& console, const Environment&) {
  if (!list_registered(arguments[0])) return not_registered(console, "リスト", arguments[0]);
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  ListFields fields;
  fields.search_text = arguments[1];
  fields.keep_on_server = invocation.flags.count("--keep") != 0;
  refresh_list_panel(list_panel());
  change_list(arguments[0], fields, ui, list_panel());
  if (ui.declined() || ui.saw_caption("注意")) return kExitFailed;
  if (!record_saved(arguments[0], fields)) return not_saved(console);
  return kExitOk;
}

int run_list_delete(const std::vector<std::string>& arguments, const Invocation& invocation,
                    Console& console, const Environment&) {
  if (!list_registered(arguments[0])) return not_registered(console, "リスト", arguments[0]);
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  delete_list(arguments[0], ui, list_panel());
  return ui.declined() || ui.saw_caption("失敗") ? kExitFailed : kExitOk;
}

int run_log_show(const std::vector<std::string>& arguments, const Invocation&, Console& console,
                 const Environment&) {
  if (!list_registered(arguments[0])) return not_registered(console, "リスト", arguments[0]);
  for (const LogEntry& log : list_logs(arguments[0])) console.out(to_utf8(log.first_line) + "\n");
  return kExitOk;
}

int run_log_delete(const std::vector<std::string>& arguments, const Invocation& invocation,
                   Console& console, const Environment&) {
  if (!list_registered(arguments[0])) return not_registered(console, "リスト", arguments[0]);
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  const LogDeleteResult result = delete_logs({arguments[0], arguments[1]}, ui);
  // Every press of the dialog's Delete asks for the rebuild, so does this.
  if (result.rebuild_requested) {
    refresh_list_panel(list_panel());
    rebuild_site(ui, list_panel());
  }
  const bool failed = arguments[1].empty() || result.matched == 0 ||
                      result.deleted < result.matched || ui.declined() ||
                      ui.saw_caption("削除エラー");
  return failed ? kExitFailed : kExitOk;
}

int run_open(const std::vector<std::string>& arguments, const Invocation& invocation,
             Console& console, const Environment&) {
  const std::string& name = arguments[0];
  if (!list_registered(name)) return not_registered(console, "リスト", name);
  const bool print_only = invocation.flags.count("--print") != 0;
  bool opened = false;
  const auto open_page = [&](std::string_view path) {
    if (print_only) {
      console.out(to_utf8(path) + "\n");
      opened = true;
    } else {
      opened = platform::open_with_shell(path);
    }
    return opened;
  };
  ListPanelTable& table = list_panel();
  refresh_list_panel(table);
  const ListPanelTable::Slots slots = table.snapshot();
  int slot = 0;
  for (int i = 0; i < table.shown_count(); ++i) {
    if (slots[static_cast<std::size_t>(i)].list_name == name) slot = i + 1;
  }
  if (slot != 0) {
    open_list_page(table, slot, open_page);
  } else {
    // A list without pages is not in the panel; its mark goes all the same.
    set_new_mail(name, 0);
    open_page(list_index_page(name));
  }
  if (!opened) {
    console.err(message_line({platform::jp("失敗"),
                              platform::jp("ページを開けませんでした。\n") +
                                  list_index_page(name),
                              MessageIcon::warning}));
    return kExitFailed;
  }
  return kExitOk;
}

// ------------------------------------------------------------- commands

const std::vector<Command>& commands() {
  static const std::vector<Command> table = {
      {{"receive"}, {}, {}, "Run one receive job: log in, sort the waiting mail into the lists, "
                            "store the logs and update the pages. Prints each status on stdout; Ctrl+C "
                            "cancels.",
       run_receive},
      {{"rebuild"}, {}, {"--yes"}, "Delete every page of every list and regenerate them from "
                                   "the logs (asks first).",
       run_rebuild},
      {{"lists"}, {}, {}, "Print every list: name, search text, keep|delete, new-mail flag, "
                          "page path (- without a page), TAB-separated.",
       run_lists},
      {{"account", "add"}, {"NAME", "SERVER", "USER", "PASSWORD"}, {},
       "Register the POP3 account (only one). SERVER is host or host:port.", run_account_add},
      {{"account", "show"}, {}, {}, "Print the account: name, server, user name, TAB-separated.",
       run_account_show},
      {{"account", "delete"}, {"NAME"}, {"--yes"}, "Delete the account (asks first).",
       run_account_delete},
      {{"list", "add"}, {"NAME", "SEARCH"}, {"--keep"},
       "Register a list taking the mail whose subject begins with SEARCH; --keep leaves its "
       "mail on the server.",
       run_list_add},
      {{"list", "change"}, {"NAME", "SEARCH"}, {"--keep", "--yes"},
       "Change a list's search text and server setting (asks first; clears its new-mail mark).",
       run_list_change},
      {{"list", "delete"}, {"NAME"}, {"--yes"},
       "Delete a list with its logs and pages (asks first).", run_list_delete},
      {{"log", "show"}, {"LIST"}, {}, "Print the first line of every log of LIST, newest first.",
       run_log_show},
      {{"log", "delete"}, {"LIST", "SUBJECT"}, {"--yes"},
       "Delete every log of LIST whose first line is SUBJECT, then rebuild the pages "
       "(asks first).",
       run_log_delete},
      {{"open"}, {"LIST"}, {"--print"},
       "Clear LIST's new-mail mark and open its index page in the browser; --print only "
       "prints the page path.",
       run_open},
  };
  return table;
}

// Splits the command line into -C, --help, flags and positional words; the
// words and the folder are converted to Shift_JIS. nullopt after printing a
// usage error (exit code in `exit_code`).
std::optional<Invocation> parse(const std::vector<std::string>& args, Console& console,
                                int& exit_code) {
  Invocation invocation;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_ended && arg == "--") {
      options_ended = true;
    } else if (!options_ended && arg == "-C") {
      if (i + 1 >= args.size()) {
        exit_code = usage_error(console, "-C needs a folder");
        return std::nullopt;
      }
      const std::optional<std::string> folder = platform::utf8_to_sjis(args[++i]);
      if (!folder) {
        exit_code = usage_error(console, "the folder name cannot be written in Shift_JIS");
        return std::nullopt;
      }
      invocation.folder = *folder;
    } else if (!options_ended && (arg == "--help" || arg == "-h")) {
      invocation.help = true;
    } else if (!options_ended && arg.size() > 1 && arg[0] == '-') {
      if (arg != "--yes" && arg != "--keep" && arg != "--print") {
        exit_code = usage_error(console, "unknown option " + arg);
        return std::nullopt;
      }
      invocation.flags.insert(arg);
    } else {
      const std::optional<std::string> word = platform::utf8_to_sjis(arg);
      if (!word) {
        exit_code = usage_error(console, "an argument cannot be written in Shift_JIS: " + arg);
        return std::nullopt;
      }
      invocation.words.push_back(*word);
    }
  }
  return invocation;
}

std::string command_usage(const Command& command) {
  std::string line;
  for (const std::string& word : command.words) line += (line.empty() ? "" : " ") + word;
  for (const std::string& argument : command.arguments) line += " " + argument;
  for (const std::string& flag : command.flags) line += " [" + flag + "]";
  return line;
}

}  // namespace

std::string help_text() {
  std::string text =
      "Usage: larkspur-cli [-C DIR] COMMAND [ARGUMENTS] [OPTIONS]\n"
      "\n"
      "Larkspur's command-line tool. It works in the current folder, or in DIR\n"
      "with -C, and creates the folders set, LKset and pop3mail there. Arguments\n"
      "and output are UTF-8. Messages of the program are printed on stderr as\n"
      "CAPTION: TEXT. A question is asked on the terminal; --yes answers it with\n"
      "yes, and without a terminal the answer is no.\n"
      "Exit codes: 0 success, 1 refused, answered no or failed, 2 usage error.\n"
      "Put -- before an argument that begins with a hyphen.\n"
      "\n"
      "Commands:\n";
  for (const Command& command : commands()) {
    text += "  " + command_usage(command) + "\n      " + command.summary + "\n";
  }
  return text;
}

int run(const std::vector<std::string>& args, Console& console, const Environment& env) {
  int exit_code = kExitOk;
  const std::optional<Invocation> invocation = parse(args, console, exit_code);
  if (!invocation) return exit_code;
  if (invocation->help) {
    console.out(help_text());
    return kExitOk;
  }
  if (invocation->words.empty()) return usage_error(console, "no command given");

  // The command whose words lead the positional arguments, the longest first.
  const Command* found = nullptr;
  for (const Command& command : commands()) {
    if (command.words.size() > invocation->words.size()) continue;
    if (!std::equal(command.words.begin(), command.words.end(), invocation->words.begin())) {
      continue;
    }
    if (!found || command.words.size() > found->words.size()) found = &command;
  }
  if (!found) return usage_error(console, "unknown command " + to_utf8(invocation->words[0]));
  const std::vector<std::string> arguments(
      invocation->words.begin() + static_cast<std::ptrdiff_t>(found->words.size()),
      invocation->words.end());
  if (arguments.size() != found->arguments.size()) {
    return usage_error(console, "usage: larkspur-cli " + command_usage(*found));
  }
  for (const std::string& flag : invocation->flags) {
    if (!found->flags.count(flag)) {
      return usage_error(console, flag + " does not go with " + command_usage(*found));
    }
  }

  if (invocation->folder && !platform::change_folder(*invocation->folder)) {
    console.err("larkspur-cli: " + to_utf8(*invocation->folder) + ": " +
                to_utf8(platform::jp("フォルダーに移動できません")) + "\n");
    return kExitFailed;
  }
  create_working_folders();
  return found->run(arguments, *invocation, console, env);
}

}  // namespace larkspur::cli
