// How the core reaches the person in front of it. The core never shows
// anything itself: it returns or passes a Message, and the front end (the
// Win32 shell, the command-line tool, or a scripted fake in tests) shows it.
#pragma once

#include <string>

namespace larkspur {

enum class MessageIcon { kNone, kInformation, kWarning, kQuestion };

// One message box: caption and text are Shift_JIS; "\n" in the text is a line
// break. question messages are asked with Yes and No, the others with OK.
struct Message {
  std::string caption;
  std::string text;
  MessageIcon icon = MessageIcon::kInformation;
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // Asks a yes/no question; true only for Yes.
  virtual bool confirm(const Message& question) = 0;
  // Shows a notice with an OK button and returns when it is dismissed.
  virtual void notify(const Message& message) = 0;
  // The lists shown in the main window changed (after refresh_list_panel);
  // the window redraws itself. The command-line tool ignores it.
  virtual void panel_changed() = 0;
};

}  // namespace larkspur
