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
    return yes;
  }

  void notify(const Message& message) override {
    say(message);
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.insert(message.text);
  }

  void panel_changed() override {}

  // Whether a notice with this text (Shift_JIS) has been shown.
  bool shown(std::string_view text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_.count(std::string(text)) != 0;
  }

 private:
  void say(const Message& message) { console_.err(message_line(message)); }

  Console& console_;
  bool assume_yes_;
  mutable std::mutex mutex_;
  std::set<std::string> texts_;  // Shift_JIS texts of the notices shown
};

// A parsed command line: the command's words and arguments (Shift_JIS) and
// its flags.
struct Invocation {
  std::vector<std::string> words;  // positional arguments, command words first
  std::set<std::string> flags;     // "--yes", "--keep", "--print", "--timeout"
  std::optional<std::string> folder;  // -C DIR, Shift_JIS
  int timeout_seconds = 0;            // --timeout SECONDS; 0: not given
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

// Every exit 1 says why in one line on stderr: "larkspur-cli: COMMAND: REASON".
int failure(Console& console, std::string_view command, std::string_view reason_sjis) {
  console.err("larkspur-cli: " + std::string(command) + ": " + to_utf8(reason_sjis) + "\n");
  return kExitFailed;
}

// The exit code for what the core says a command did. A refusal or failure
// that the core showed as a notice has said why already; any other gets its
// one line on stderr.
int exit_for(Console& console, const CliUserInterface& ui, std::string_view command,
             const Outcome& outcome) {
  if (outcome.ok()) return kExitOk;
  if (outcome.kind == OutcomeKind::declined) {
    return failure(console, command, platform::jp("「いいえ」なので、何も変えていません"));
  }
  if (!outcome.reason.empty() && ui.shown(outcome.reason)) return kExitFailed;
  return failure(console, command,
                 outcome.reason.empty() ? platform::jp("失敗しました") : outcome.reason);
}

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
  if (invocation.timeout_seconds > 0) {
    client.connect_timeout_ms = invocation.timeout_seconds * 1000;
    client.receive_timeout_ms = invocation.timeout_seconds * 1000;
  }
  ListPanelTable& table = list_panel();
  refresh_list_panel(table);

  // Statuses arrive on the worker thread; the main thread only waits.
  ReceiveHooks hooks;
  hooks.pause = [](int) {};  // nobody watches a progress dialog here
  hooks.clock = env.clock;
  hooks.status_changed = [&](int status) {
    console.out(to_utf8(status_text(status, status == kStatusNotice ? state.notice()
                                                                     : std::string())) +
                "\n");
  };

  Message refusal;
  std::unique_ptr<ReceiveJob> job = ReceiveJob::start(state, client, table, ui, hooks, &refusal);
  if (!job) {
    ui.notify(refusal);
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

  const Outcome& outcome = state.report.outcome;
  if (outcome.ok()) return kExitOk;
  return failure(console, "receive", outcome.reason);
}

// -------------------------------------------------------------- rebuild

int run_rebuild(const std::vector<std::string>&, const Invocation& invocation,
                Console& console, const Environment&) {
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  ListPanelTable& table = list_panel();
  refresh_list_panel(table);
  return exit_for(console, ui, "rebuild", rebuild_site(ui, table));
}

// ---------------------------------------------------------------- lists

// One field of the lists output in UTF-8, written so that any name reads
// back unambiguously: TAB, LF, CR and the backslash as \t \n \r \\, other
// control bytes and every byte that starts no Shift_JIS character as \xHH.
std::string escaped_field(std::string_view sjis) {
  constexpr char kHex[] = "0123456789ABCDEF";
  const auto hex = [&](unsigned char byte) {
    return std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0x0F];
  };
  std::string out;
  for (std::size_t at = 0; at < sjis.size();) {
    const auto byte = static_cast<unsigned char>(sjis[at]);
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    if (lead && at + 1 < sjis.size()) {
      if (const auto utf8 = platform::sjis_to_utf8(sjis.substr(at, 2))) {
        out += *utf8;
        at += 2;
        continue;
      }
    }
    at += 1;
    switch (byte) {
      case '\t': out += "\\t"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\\': out += "\\\\"; continue;
      default: break;
    }
    const std::optional<std::string> utf8 =
        byte < 0x20 || byte == 0x7F ? std::nullopt : platform::sjis_to_utf8(sjis.substr(at - 1, 1));
    out += utf8 ? *utf8 : hex(byte);
  }
  return out;
}

// The index page path with its own separators as they are: only the name in
// it is escaped (a list name never holds a backslash).
std::string page_path_field(std::string_view name) {
  const std::string path = list_index_page(name);
  const std::size_t at = path.find(name, std::string(kListsFolder).size());
  if (at == std::string::npos) return escaped_field(path);
  return path.substr(0, at) + escaped_field(name) + path.substr(at + name.size());
}

int run_lists(const std::vector<std::string>&, const Invocation&, Console& console,
              const Environment&) {
  for (const std::string& name : enumerate_lists()) {
    const ListRecord record = read_list_or_zero(name);
    const bool has_page =
        !platform::find_files(list_web_folder(name) + "\\*.htm").empty();
    console.out(escaped_field(name) + "\t" + escaped_field(record.search_text) + "\t" +
                (record.delete_from_server != 0 ? "delete" : "keep") + "\t" +
                (record.new_mail != 0 ? "1" : "0") + "\t" +
                (has_page ? page_path_field(name) : std::string("-")) + "\n");
  }
  return kExitOk;
}

// Says on stderr which list records no command will use: those whose names
// are not plain file names (they would name LKset\ itself or the working
// folder) and those whose names the directory search cannot express.
void warn_skipped_records(Console& console) {
  const std::string folder = std::string(kListsFolder) + "\\";
  for (const std::string& file : unusable_list_records()) {
    console.err("larkspur-cli: " + folder + escaped_field(file) + ": " +
                to_utf8(platform::jp("リスト名として使えない名前なので、この記録は使いません")) +
                "\n");
  }
  for (const std::string& file_utf8 : platform::find_unlisted_names(folder + "*.stf")) {
    console.err("larkspur-cli: " + folder + file_utf8 + ": " +
                to_utf8(platform::jp("Shift_JISで表せない名前なので、この記録は使いません")) +
                "\n");
  }
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

int run_account_add(const std::vector<std::string>& arguments, const Invocation& invocation,
                    Console& console, const Environment&) {
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  const AccountDialogUpdate update =
      register_account({arguments[0], arguments[1], arguments[2], arguments[3]}, ui);
  return exit_for(console, ui, "account add", update.outcome);
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
  return exit_for(console, ui, "account delete", delete_account(arguments[0], ui).outcome);
}

int run_list_add(const std::vector<std::string>& arguments, const Invocation& invocation,
                 Console& console, const Environment&) {
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  NewListFields fields;
  fields.name = arguments[0];
  fields.search_text = arguments[1];
  fields.keep_on_server = invocation.flags.count("--keep") != 0;
  return exit_for(console, ui, "list add", register_list(fields, ui, list_panel()).outcome);
}

int run_list_change(const std::vector<std::string>& arguments, const Invocation& invocation,
                    Console& console, const Environment&) {
  if (!list_registered(arguments[0])) return not_registered(console, "リスト", arguments[0]);
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  ListFields fields;
  fields.search_text = arguments[1];
  fields.keep_on_server = invocation.flags.count("--keep") != 0;
  refresh_list_panel(list_panel());
  return exit_for(console, ui, "list change",
                  change_list(arguments[0], fields, ui, list_panel()).outcome);
}

int run_list_delete(const std::vector<std::string>& arguments, const Invocation& invocation,
                    Console& console, const Environment&) {
  if (!list_registered(arguments[0])) return not_registered(console, "リスト", arguments[0]);
  CliUserInterface ui(console, invocation.flags.count("--yes") != 0);
  return exit_for(console, ui, "list delete", delete_list(arguments[0], ui, list_panel()).outcome);
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
  Outcome outcome = result.outcome;
  if (result.rebuild_requested) {
    refresh_list_panel(list_panel());
    const Outcome rebuilt = rebuild_site(ui, list_panel());
    if (outcome.ok() && rebuilt.kind == OutcomeKind::declined) {
      // The logs are gone already; only the pages were left as they were.
      outcome = Outcome::failed(
          platform::jp("ログは削除しました。再構築は「いいえ」なので行っていません"));
    } else if (outcome.ok()) {
      outcome = rebuilt;
    }
  }
  return exit_for(console, ui, "log delete", outcome);
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
      {{"receive"}, {}, {"--timeout"},
       "Run one receive job: log in, sort the waiting mail into the lists, store the logs and "
       "update the pages. Prints each status on stdout; Ctrl+C cancels. --timeout SECONDS "
       "bounds the connect and every wait for the server (default 30 s to connect, 120 s "
       "per wait).",
       run_receive},
      {{"rebuild"}, {}, {"--yes"}, "Delete every page of every list and regenerate them from "
                                   "the logs (asks first).",
       run_rebuild},
      {{"lists"}, {}, {}, "Print every list: name, search text, keep|delete, new-mail flag, "
                          "page path (- without a page), TAB-separated; in a field, TAB, LF, CR "
                          "and \\ are written \\t \\n \\r \\\\, other control bytes and bytes "
                          "that are no Shift_JIS character \\xHH. Records the tool cannot use are "
                          "named on stderr.",
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
    } else if (!options_ended && arg == "--timeout") {
      // Seconds for the connect and for each receive of a POP3 connection.
      constexpr int kMaxTimeoutSeconds = 24 * 60 * 60;
      const std::string value = i + 1 < args.size() ? args[i + 1] : std::string();
      int seconds = 0;
      const bool digits = !value.empty() && value.size() <= 6 &&
                          std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (digits) seconds = std::stoi(value);
      if (!digits || seconds < 1 || seconds > kMaxTimeoutSeconds) {
        exit_code = usage_error(console, "--timeout needs a number of seconds (1 to 86400)");
        return std::nullopt;
      }
      ++i;
      invocation.timeout_seconds = seconds;
      invocation.flags.insert(arg);
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
  for (const std::string& flag : command.flags) {
    line += " [" + flag + (flag == "--timeout" ? " SECONDS" : "") + "]";
  }
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
  if (found->words[0] != "account") warn_skipped_records(console);
  return found->run(arguments, *invocation, console, env);
}

}  // namespace larkspur::cli
