// A scripted POP3 server for tests, portable over the platform layer so that
// it runs inside the native and the Windows test executables alike.
//
// It serves a mailbox on 127.0.0.1 and a free port from its own thread, one
// connection at a time, speaking USER, PASS, STAT, LIST, UIDL, TOP, RETR,
// DELE, NOOP, RSET and QUIT. Message lines that begin with a dot are
// dot-stuffed on the wire; deletions are carried out at QUIT only. Every
// command line it receives is kept in a transcript. Faults make it
// misbehave on a chosen command: a different reply, a connection dropped in
// the middle of the reply, or a stall.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/tcp_listener.h"

namespace larkspur::testing {

struct Pop3TestMessage {
  std::string name;  // for UIDL and for the deletion hook
  std::string data;  // raw bytes, lines ended by CR LF (a bare LF stays a byte)
};

// A misbehaviour on one command. `command` is the verb ("USER", "DELE", ...)
// or "" for the greeting; `occurrence` picks the n-th time the server meets
// it (counted from 1 over the server's whole life), 0 every time.
struct Pop3Fault {
  enum class Kind {
    kReply,  // send `reply` (raw bytes, CR LF included) instead of the answer
    kDrop,   // send the first `keep_bytes` of the answer, then close
    kStall,  // send the first `keep_bytes` of the answer, then wait until the
             // client goes away or the server stops
    kLate,   // carry the command out, wait `delay_ms`, then send the answer
             // and go on serving (a reply that comes after the client's time-out)
  };
  std::string command;
  int occurrence = 0;
  Kind kind = Kind::kReply;
  std::string reply;
  std::size_t keep_bytes = 0;
  int delay_ms = 0;  // kLate
};

struct Pop3TestServerOptions {
  std::string user;      // empty: any user and password are accepted
  std::string password;
  int port = 0;          // 0: a free port
  std::string host = "127.0.0.1";
  std::vector<Pop3Fault> faults;
  // The CAPA listing ("PIPELINING", ...); empty: CAPA is an unknown command.
  std::vector<std::string> capabilities;
  // Send every reply in pieces of this many bytes with a short pause between
  // them, so that the client meets them in separate TCP segments (0: whole).
  std::size_t chunk_bytes = 0;
  int chunk_pause_ms = 1;
  // Called on the server thread for every command line received, and for
  // every message deleted at QUIT.
  std::function<void(const std::string& line)> on_command;
  std::function<void(const Pop3TestMessage& message)> on_delete;
};

class Pop3TestServer {
 public:
  Pop3TestServer(std::vector<Pop3TestMessage> mailbox, Pop3TestServerOptions options = {});
  ~Pop3TestServer();
  Pop3TestServer(const Pop3TestServer&) = delete;
  Pop3TestServer& operator=(const Pop3TestServer&) = delete;

  // Listens and starts serving; false when no socket could be bound.
  bool start();
  // Stops listening, cuts a session in progress and waits for the thread.
  void stop();

  int port() const { return port_; }
  // "127.0.0.1:<port>", the server field a client is given.
  std::string address() const;

  // The command lines received so far, over every session, in order.
  std::vector<std::string> transcript() const;
  // Connections accepted so far.
  int sessions() const;
  // Replaces the mailbox; call between sessions (mail arrived meanwhile).
  void set_mailbox(std::vector<Pop3TestMessage> mailbox);
  // Names of the messages still in the mailbox, in order.
  std::vector<std::string> mailbox_names() const;
  // Waits up to `timeout_ms` until no session is in progress (a late answer
  // has been sent and the client's QUIT handled); true when idle.
  bool wait_idle(int timeout_ms);

 private:
  struct Session;
  struct Answer;
  void run();
  void serve(const std::shared_ptr<platform::TcpConnection>& conn);
  Answer answer(const std::string& verb, const std::string& argument, Session& session);
  // Sends the answer to `command` through the fault rules.
  enum class Sent { kAnswer, kFaultReply, kEnd };
  Sent reply(platform::TcpConnection& conn, const std::string& command, const std::string& text);
  bool send(platform::TcpConnection& conn, std::string_view bytes);

  std::vector<Pop3TestMessage> mailbox_;
  Pop3TestServerOptions options_;
  std::unique_ptr<platform::TcpListener> listener_;
  int port_ = 0;
  bool net_started_ = false;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;  // guards everything below and mailbox_
  std::vector<std::string> transcript_;
  std::vector<std::pair<std::string, int>> command_counts_;
  int sessions_ = 0;
  std::shared_ptr<platform::TcpConnection> current_;
  std::condition_variable idle_;  // current_ became empty
};

// The lines joined, each ended by CR LF: messages written as lists of lines.
std::string join_lines(const std::vector<std::string>& lines);

}  // namespace larkspur::testing
