// What a core operation did, for its caller to act on. Front ends map it to
// what they show (the command-line tool to its exit code and a line on
// stderr); none of them decides success from a message caption.
#pragma once

#include <string>
#include <utility>

#include "settings/ui.h"

namespace larkspur {

enum class OutcomeKind {
  kDone,      // everything asked for was done
  kRefused,   // not started: the input or the state did not allow it
  kDeclined,  // the user answered No to the confirmation
  kFailed,    // started, but something could not be done (see reason)
};

// An outcome with, for anything but done, one line saying why (Shift_JIS,
// no LF). Several failures of one operation keep the first reason.
struct Outcome {
  OutcomeKind kind = OutcomeKind::kDone;
  std::string reason;

  static Outcome done() { return {}; }
  static Outcome refused(std::string why) { return {OutcomeKind::kRefused, std::move(why)}; }
  static Outcome declined(std::string why = {}) { return {OutcomeKind::kDeclined, std::move(why)}; }
  static Outcome failed(std::string why) { return {OutcomeKind::kFailed, std::move(why)}; }

  bool ok() const { return kind == OutcomeKind::kDone; }
  // Turns a done outcome into a failure; an earlier failure's reason stays.
  void fail(std::string why) {
    if (kind == OutcomeKind::kDone) *this = failed(std::move(why));
  }
};

// A default result of type T (a dialog update) carrying `outcome`.
template <typename T>
T with_outcome(Outcome outcome) {
  T result;
  result.outcome = std::move(outcome);
  return result;
}

// Shows `message` through `ui` and returns a default T whose outcome is
// `kind`, with the message's text as the reason.
template <typename T>
T with_notice(UserInterface& ui, const Message& message, OutcomeKind kind = OutcomeKind::kRefused) {
  ui.notify(message);
  return with_outcome<T>(Outcome{kind, message.text});
}

}  // namespace larkspur
