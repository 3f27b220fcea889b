#include "app/window_ui.h"

#include <windows.h>

#include <string>

#include "app/shell.h"
#include "platform/platform.h"

namespace larkspur::app {
namespace {

UINT icon_flags(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation: return MB_ICONINFORMATION;
    case MessageIcon::kWarning: return MB_ICONWARNING;
    case MessageIcon::kQuestion: return MB_ICONQUESTION;
    case MessageIcon::kNone: break;
  }
  return 0;
}

class WindowUserInterface final : public UserInterface {
 public:
  bool confirm(const Message& question) override {
    return show_message_box(shell().main_window, question, MB_YESNO) == IDYES;
  }
  void notify(const Message& message) override { show_message_box(shell().main_window, message, MB_OK); }
  void panel_changed() override { redraw_panel(); }
};

}  // namespace

int show_message_box(HWND owner, const Message& message, UINT buttons) {
  const std::wstring text = platform::sjis_to_wide_display(message.text);
  const std::wstring caption = platform::sjis_to_wide_display(message.caption);
  return MessageBoxW(owner, text.c_str(), caption.c_str(), buttons | icon_flags(message.icon));
}

UserInterface& window_ui() {
  static WindowUserInterface ui;
  return ui;
}

}  // namespace larkspur::app
