// The POP3 client against a real dovecot, started by run-test.sh, which
// passes the server and the account in the environment. Without them the
// tests are skipped.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "retrieval/pop3_client.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::sj;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class Dovecot : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = env("LARKSPUR_DOVECOT_SERVER");
    if (server_.empty()) GTEST_SKIP() << "run through tests/dovecot/run-test.sh";
    user_ = env("LARKSPUR_DOVECOT_USER");
    password_ = env("LARKSPUR_DOVECOT_PASSWORD");
    client_.receive_timeout_ms = 20'000;
  }
  void TearDown() override { pop3_shutdown(client_); }

  // Number to subject, for every message of the mailbox.
  std::map<int, std::string> scan() {
    std::map<int, std::string> subjects;
    EXPECT_EQ(pop3_open(client_), 1);
    int result;
    while ((result = pop3_next_message(client_)) == 1) {
      subjects[pop3_current_number(client_)] = pop3_current_subject(client_);
    }
    EXPECT_EQ(result, 0);
    pop3_close(client_);
    return subjects;
  }

  static int number_of(const std::map<int, std::string>& subjects, const std::string& subject) {
    for (const auto& [number, s] : subjects) {
      if (s == subject) return number;
    }
    return 0;
  }

  std::string server_, user_, password_;
  Pop3Client client_;
};

TEST_F(Dovecot, WrongPasswordIsRefused) {
  ASSERT_EQ(pop3_init(client_, server_), 1);
  EXPECT_EQ(pop3_verify_login(client_, user_, password_ + "x"), 0);
  EXPECT_EQ(pop3_open(client_), 0);
}

TEST_F(Dovecot, ScansRetrievesAndDeletes) {
  ASSERT_EQ(pop3_init(client_, server_), 1);
  ASSERT_EQ(pop3_verify_login(client_, user_, password_), 1);

  const std::string weekly = sj("週刊ラークスパー 第12号");
  const std::string folded = sj("長いお知らせの件名は二行に折り返されます三行目まで");
  const std::string raw = "[ml] " + sj("生のJIS件名");
  const std::string plain = "Plain ASCII notice";
  const std::string lower = sj("小文字の文字集合");
  std::map<int, std::string> subjects = scan();
  std::vector<std::string> found;
  for (const auto& entry : subjects) found.push_back(entry.second);
  std::sort(found.begin(), found.end());
  std::vector<std::string> expected = {weekly, folded, raw, plain, lower};
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(found, expected);

  ASSERT_EQ(pop3_open(client_), 1);
  std::string text;
  ASSERT_EQ(pop3_retrieve(client_, number_of(subjects, weekly), text, 0, 0), 1);
  EXPECT_NE(text.find("\n\n" + sj("こんにちは。今週の話題です。") + "\n.leading dot\n.\n..\n" +
                      sj("以上") + "\n"),
            std::string::npos)
      << text;
  text.clear();
  ASSERT_EQ(pop3_retrieve(client_, number_of(subjects, raw), text, 1, 0), 1);
  EXPECT_NE(text.find(sj("本文もJISです。") + "\r\n...three dots\r\n"), std::string::npos) << text;
  text.clear();
  ASSERT_EQ(pop3_retrieve(client_, number_of(subjects, plain), text, 0, 1), 1);
  EXPECT_NE(text.find("This one is deleted by the test.\n"), std::string::npos) << text;
  pop3_close(client_);  // QUIT: dovecot carries out the deletion

  subjects = scan();
  EXPECT_EQ(subjects.size(), 4u);
  EXPECT_EQ(number_of(subjects, plain), 0);
  EXPECT_NE(number_of(subjects, weekly), 0);
}

}  // namespace
}  // namespace larkspur
