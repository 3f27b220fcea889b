// `larkspur-cli receive` over TLS against a real dovecot, started by
// `tests/dovecot/run-test.sh --tls` with certificates made for the run (see
// tests/dovecot/make-certs.sh and dovecot-tls.conf.in). The test CA is
// trusted through SSL_CERT_FILE natively and through the CurrentUser ROOT
// store under Wine. Accounts whose user name begins with "never-" must not
// reach dovecot's authentication: the script checks its log afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/cli/recording_console.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::get_file;
using testing::RecordingConsole;
using testing::run_cli;
using testing::TempFolder;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

struct Ports {
  std::string plain;  // STLS offered
  std::string tls;    // implicit TLS
};

std::optional<Ports> ports() {
  const std::string server = env("LARKSPUR_DOVECOT_SERVER");
  const std::string tls = env("LARKSPUR_DOVECOT_TLS_PORT");
  if (server.empty() || tls.empty()) return std::nullopt;
  return Ports{server.substr(server.find(':') + 1), tls};
}

cli::Environment fixed_clock() {
  cli::Environment environment;
  environment.clock = [] { return platform::LocalTime{2026, 12, 7, 9, 0, 0}; };
  environment.receive_timeout_ms = 20'000;
  return environment;
}

// Registers the account and the sample lists (all keeping their mail on the
// server, so every receive finds the same mailbox).
void register_account(const std::string& server, const std::string& user) {
  RecordingConsole setup;
  ASSERT_EQ(run_cli(setup, {"account", "add", "dovecot", server, user,
                            env("LARKSPUR_DOVECOT_PASSWORD")}),
            0)
      << setup.err_text();
  ASSERT_EQ(run_cli(setup, {"list", "add", "週刊", "週刊ラークスパー", "--keep"}), 0);
  ASSERT_EQ(run_cli(setup, {"list", "add", "通知", "Plain ASCII", "--keep"}), 0);
  ASSERT_EQ(run_cli(setup, {"list", "add", "長文", "長いお知らせ", "--keep"}), 0);
}

// Every file below `folder` (a Shift_JIS path), by relative path, with its bytes.
void collect(const std::string& folder, const std::string& prefix,
             std::map<std::string, std::string>& files) {
  for (const platform::DirEntry& entry : platform::find_entries(folder + "\\*.*")) {
    const std::string path = folder + "\\" + entry.name;
    if (entry.is_folder) {
      collect(path, prefix + entry.name + "\\", files);
    } else {
      files[prefix + entry.name] = get_file(path);
    }
  }
}

struct Received {
  int exit_code = -1;
  std::vector<std::string> out;
  std::string err;
  std::map<std::string, std::string> files;  // the lists' records, logs and pages
};

Received receive_with(const std::string& server, const std::string& user) {
  TempFolder folder;
  Received result;
  register_account(server, user);
  RecordingConsole console;
  result.exit_code = run_cli(console, {"receive"}, fixed_clock());
  result.out = console.out_lines();
  result.err = console.err_text();
  collect("LKset", "", result.files);
  return result;
}

TEST(ReceiveOverTls, EachModeStoresWhatAPlainReceiveStores) {
  const auto p = ports();
  if (!p) GTEST_SKIP() << "run through tests/dovecot/run-test.sh --tls";
  const std::string user = env("LARKSPUR_DOVECOT_USER");
  const Received plain = receive_with("127.0.0.1:" + p->plain, user);
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  std::size_t logs = 0;
  for (const auto& [name, bytes] : plain.files) logs += name.ends_with(".log") ? 1 : 0;
  EXPECT_EQ(logs, 3u);
  for (const std::string& server : {"pop3s://localhost:" + p->tls,
                                   "pop3+starttls://localhost:" + p->plain,
                                   "POP3S://localhost:" + p->tls + "/"}) {
    const Received tls = receive_with(server, user);
    EXPECT_EQ(tls.exit_code, 0) << server << "\n" << tls.err;
    EXPECT_EQ(tls.err, "") << server;
    EXPECT_EQ(tls.out, plain.out) << server;
    // Names first, so a difference reads short; then every byte.
    std::vector<std::string> names, plain_names;
    for (const auto& [name, bytes] : tls.files) names.push_back(name);
    for (const auto& [name, bytes] : plain.files) plain_names.push_back(name);
    ASSERT_EQ(names, plain_names) << server;
    for (const auto& [name, bytes] : plain.files) {
      EXPECT_TRUE(tls.files.at(name) == bytes) << server << ": " << name;
    }
  }
}

TEST(ReceiveOverTls, RefusedSessionsEndBeforeTheLogin) {
  const auto p = ports();
  if (!p) GTEST_SKIP() << "run through tests/dovecot/run-test.sh --tls";
  const struct {
    std::string server;
    std::string user;  // never seen by dovecot's authentication
    std::string reason;
  } cases[] = {
      {"pop3s://127.0.0.2:" + p->tls, "never-unknown-issuer", "unknown issuer"},
      {"pop3s://127.0.0.1:" + p->tls, "never-wrong-name", "wrong name"},
      {"pop3+starttls://127.0.0.1:" + p->plain, "never-stls-wrong-name", "wrong name"},
      {"pop3s://127.0.0.3:" + p->tls, "never-expired", "expired"},
      {"pop3+starttls://127.0.0.4:" + p->plain, "never-stls-refused", "STLS refused"},
      {"pop3s://localhost:" + p->plain, "never-plain-server", "handshake failed"},
  };
  const std::vector<std::string> statuses = {"メールサーバーに接続中・・・",
                                             "IDとパスワードの認証中・・・",
                                             "サーバー証明書を確認できませんでした"};
  for (const auto& c : cases) {
    const Received result = receive_with(c.server, c.user);
    EXPECT_EQ(result.exit_code, cli::kExitFailed) << c.server;
    EXPECT_EQ(result.out, statuses) << c.server;
    EXPECT_EQ(result.err,
              "larkspur-cli: receive: サーバー証明書を確認できませんでした (" + c.reason + ")\n")
        << c.server;
    for (const auto& [name, bytes] : result.files) {
      EXPECT_FALSE(name.ends_with(".log")) << c.server << ": " << name;
    }
  }
}

}  // namespace
}  // namespace larkspur
