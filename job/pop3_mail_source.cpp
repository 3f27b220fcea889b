// The POP3 server as a mail source. For extended mail handling one session
// (pop3_login) serves the whole job, every batch of commands pipelined where
// the server lists PIPELINING; the classic handling's source speaks as it
// always has, a command at a time over three sessions.
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "job/mail_source.h"
#include "job/receive_job.h"

namespace larkspur {

namespace {

// A header block is read whole; its size is unknown before, so the window
// counts each as this much.
constexpr std::size_t kExpectedHeaderBytes = 4096;

// The listing: UIDL and LIST in one burst.
std::vector<Pop3Request> list_requests() { return {{"UIDL", true, 0}, {"LIST", true, 0}}; }

SourceOutcome lost() {
  return {SourceResult::kLost, platform::jp("メールサーバーとの接続が切れました")};
}

SourceOutcome deletion_refused() {
  return {SourceResult::kRefused, platform::jp("サーバーがメールの削除を拒否しました")};
}

SourceOutcome deletion_unanswered() {
  return {SourceResult::kLost, platform::jp("メール削除の応答がありませんでした（ログは保存しました）")};
}

// A login that failed: why, and whether TLS was the cause.
SourceOutcome no_session(const Pop3Client& client, bool& tls_failed) {
  tls_failed = pop3_tls_failure(client) != Pop3TlsFailure::kNone;
  if (tls_failed) {
    return {SourceResult::kNoSession,
            status_text(ReceiveStatus::kTlsFailed, {}) + " (" +
                std::string(pop3_tls_failure_reason(pop3_tls_failure(client))) + ")"};
  }
  return {SourceResult::kNoSession, login_failure_reason(pop3_login_failure(client))};
}

class Pop3MailSource final : public MailSource {
 public:
  Pop3MailSource(Pop3Client& client, std::string user, std::string password)
      : client_(client), user_(std::move(user)), password_(std::move(password)) {}

  SourceOutcome open() override {
    // The listing goes out with the login where the server pipelines.
    if (pop3_login(client_, user_, password_, list_requests()) == 1) return {};
    return no_session(client_, tls_failed_);
  }

  bool tls_failed() const override { return tls_failed_; }

  // UIDL and LIST in one burst. A negative UIDL leaves the messages without
  // ids; a UIDL line that names no listed message (or one named before) is
  // left out and counted.
  SourceOutcome list(std::vector<SourceEntry>& entries, bool& has_ids, int& unreadable) override {
    entries.clear();
    unreadable = 0;
    std::vector<Pop3UniqueId> ids;
    std::vector<Pop3ListEntry> sizes;
    bool uidl_refused = false;
    bool list_refused = false;
    const int ran = pop3_run_batch(client_, list_requests(), [&](std::size_t index, Pop3Reply reply,
                                                         std::string& text) {
      if (reply != Pop3Reply::kOk) {
        (index == 0 ? uidl_refused : list_refused) = true;
        return true;
      }
      for_each_line(text, [&](std::string_view line) {
        if (index == 0) {
          ids.push_back(pop3_uidl_line(line));
        } else if (const Pop3ListEntry entry = pop3_list_line(line); entry.number != 0) {
          sizes.push_back(entry);
        }
      });
      return true;
    });
    if (ran != 1) return lost();
    if (list_refused) {
      return {SourceResult::kRefused, platform::jp("メールサーバーがメールの一覧（LIST）を拒否しました")};
    }
    has_ids = !uidl_refused;
    if (!has_ids) {
      for (const Pop3ListEntry& entry : sizes) entries.push_back({entry.number, {}, entry.size});
      return {};
    }
    std::map<int, long long> size_of;
    for (const Pop3ListEntry& entry : sizes) size_of.emplace(entry.number, entry.size);
    std::set<int> named;
    for (Pop3UniqueId& id : ids) {
      const auto size = size_of.find(id.number);
      if (size == size_of.end() || !named.insert(id.number).second) {
        ++unreadable;
        continue;
      }
      entries.push_back({id.number, std::move(id.uid), size->second});
    }
    return {};
  }

  SourceOutcome headers(const std::vector<SourceEntry>& messages, const SourceSink& sink) override {
    std::vector<Pop3Request> requests;
    for (const SourceEntry& message : messages) {
      requests.push_back({"TOP " + std::to_string(message.number) + " 0", true,
                          std::min<std::size_t>(kExpectedHeaderBytes, expected(message))});
    }
    return run(messages, requests, sink);
  }

  SourceOutcome fetch(const std::vector<SourceEntry>& messages, const SourceSink& sink) override {
    std::vector<Pop3Request> requests;
    for (const SourceEntry& message : messages) {
      requests.push_back({"RETR " + std::to_string(message.number), true, expected(message)});
    }
    return run(messages, requests, sink);
  }

  SourceOutcome mark_deleted(const std::vector<int>& numbers,
                             const std::function<void(int number)>& on_marked) override {
    std::vector<Pop3Request> requests;
    for (int number : numbers) requests.push_back({"DELE " + std::to_string(number), false, 0});
    bool refused = false;
    const int ran = pop3_run_batch(client_, requests, [&](std::size_t index, Pop3Reply reply,
                                                         std::string&) {
      if (reply == Pop3Reply::kOk) {
        on_marked(numbers[index]);
      } else {
        refused = true;
      }
      return true;
    });
    if (ran != 1) return deletion_unanswered();
    if (refused) return deletion_refused();
    return {};
  }

  SourceOutcome finish() override {
    if (pop3_close(client_) == 1) return {};
    return lost();
  }

 private:
  static std::size_t expected(const SourceEntry& message) {
    return message.size > 0 ? static_cast<std::size_t>(message.size) : 0;
  }

  template <typename OnLine>
  static void for_each_line(std::string_view text, OnLine on_line) {
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      on_line(text.substr(0, end));
      if (end == std::string_view::npos) break;
      text.remove_prefix(end + 1);
    }
  }

  // Runs one request per message and hands each reply to the sink as the
  // message's outcome and text.
  SourceOutcome run(const std::vector<SourceEntry>& messages, const std::vector<Pop3Request>& requests,
                    const SourceSink& sink) {
    if (messages.empty()) return {};
    SourceMessage message;
    const int ran = pop3_run_batch(client_, requests, [&](std::size_t index, Pop3Reply reply,
                                                         std::string& text) {
      message.number = messages[index].number;
      message.outcome = {};
      if (reply == Pop3Reply::kNegative) {
        message.outcome = {SourceResult::kRefused, status_text(ReceiveStatus::kReceiveFailed, {})};
      } else if (reply == Pop3Reply::kTooLong) {
        message.outcome = {SourceResult::kTooLong, {}};
      }
      // The reply's buffer and the message's trade places, so neither is
      // allocated anew per message.
      message.text.swap(text);
      const bool more = sink(message);
      message.text.swap(text);
      return more;
    });
    return ran == 1 ? SourceOutcome{} : lost();
  }

  Pop3Client& client_;
  std::string user_;
  std::string password_;
  bool tls_failed_ = false;
};

// The classic handling's commands, one at a time, each session a connection
// of its own (see make_classic_pop3_source).
class ClassicPop3Source final : public MailSource {
 public:
  ClassicPop3Source(Pop3Client& client, std::string user, std::string password)
      : client_(client), user_(std::move(user)), password_(std::move(password)) {}

  SourceOutcome verify() override {
    if (pop3_verify_login(client_, user_, password_) == 1) return {};
    return no_session(client_, tls_failed_);
  }

  // Logs in again with the credentials verify stored (nothing is sent when
  // they were not accepted).
  SourceOutcome open() override {
    if (pop3_open(client_) == 1) return {};
    return {SourceResult::kNoSession, status_text(ReceiveStatus::kSessionError, {})};
  }

  bool tls_failed() const override { return tls_failed_; }

  SourceOutcome list(std::vector<SourceEntry>& entries, bool& has_ids, int& unreadable) override {
    entries.clear();
    has_ids = false;
    unreadable = 0;
    std::vector<int> numbers;
    if (pop3_message_numbers(client_, numbers) != 1) return lost();
    for (int number : numbers) entries.push_back({number, {}, -1});
    return {};
  }

  SourceOutcome headers(const std::vector<SourceEntry>& messages, const SourceSink& sink) override {
    SourceMessage message;
    for (const SourceEntry& entry : messages) {
      message.number = entry.number;
      if (pop3_scan_subject(client_, entry.number, message.subject) != 1) return lost();
      if (!sink(message)) break;
    }
    return {};
  }

  // A message that could not be had (refused, cut short, over the bound) is
  // handed on as refused: the classic handling tells them apart no further.
  SourceOutcome fetch(const std::vector<SourceEntry>& messages, const SourceSink& sink) override {
    SourceMessage message;
    for (const SourceEntry& entry : messages) {
      message.number = entry.number;
      message.text.clear();
      message.outcome = {};
      if (pop3_retrieve(client_, entry.number, message.text, 0, 0, &message.subject) != 1) {
        message.outcome = {SourceResult::kRefused, status_text(ReceiveStatus::kReceiveFailed, {})};
      }
      if (!sink(message)) break;
    }
    return {};
  }

  SourceOutcome mark_deleted(const std::vector<int>& numbers,
                             const std::function<void(int number)>& on_marked) override {
    for (int number : numbers) {
      const int deleted = pop3_delete(client_, number);
      if (deleted == 0) return deletion_refused();
      // No answer: the server may have marked it all the same.
      if (deleted == kDeleteUnanswered) return deletion_unanswered();
      on_marked(number);
    }
    return {};
  }

  SourceOutcome finish() override {
    if (pop3_close(client_) == 1) return {};
    return lost();
  }

 private:
  Pop3Client& client_;
  std::string user_;
  std::string password_;
  bool tls_failed_ = false;
};

}  // namespace

std::unique_ptr<MailSource> make_classic_pop3_source(Pop3Client& client, std::string user,
                                                     std::string password) {
  return std::make_unique<ClassicPop3Source>(client, std::move(user), std::move(password));
}

std::unique_ptr<MailSource> make_pop3_source(Pop3Client& client, std::string user,
                                             std::string password) {
  return std::make_unique<Pop3MailSource>(client, std::move(user), std::move(password));
}

}  // namespace larkspur
