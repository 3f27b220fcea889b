// Builds a small archive with Japanese subjects in the current folder, for
// the check in a real browser (tests/browser/run.sh): the folder must hold the
// seed pages in "set\". Writes "expected.tsv" (UTF-8): per log, in the order
// its list's link page must show them, the list name, the page file name, the
// subject and a phrase of its body.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "panel/list_panel.h"
#include "settings/store.h"
#include "site/link_sort.h"
#include "site/rebuild.h"

namespace {

using namespace larkspur;

class YesUi : public UserInterface {
 public:
  bool confirm(const Message&) override { return true; }
  void notify(const Message& message) override { texts.push_back(message.text); }
  void panel_changed() override {}
  std::vector<std::string> texts;
};

struct SampleLog {
  const char* list;
  const char* file;
  const char* subject;
  const char* probe;  // a phrase of the body
};

const SampleLog kLogs[] = {
    {"週刊ラークスパー", "20261201090000_1.log", "【週刊ラークスパー】第1号 創刊のごあいさつ", "創刊号をお届けします"},
    {"週刊ラークスパー", "20261202090000_1.log", "【週刊ラークスパー】第2号 表計算ソフトの十の小技", "表計算ソフトの便利な機能"},
    {"週刊ラークスパー", "20261203090000_1.log", "【週刊ラークスパー】第3号 春の読書特集", "春に読みたい本"},
    {"週刊ラークスパー", "20261204090000_2.log", "Larkspur Weekly: 英語版のお知らせ", "英語版の配信を始めます"},
    {"ソフト開発通信", "20261205120000_1.log", "ソフト開発通信 Vol.12 予定表", "来月の予定表です"},
    {"ソフト開発通信", "20261206120000_1.log", "ソフト開発通信 Vol.13 能力開発セミナー", "セミナーのご案内"},
};

std::string body_of(const SampleLog& log) {
  std::string text = platform::jp(log.probe) + platform::jp("。今回もどうぞよろしくお願いいたします。\n\n");
  text += platform::jp("詳しくは http://larkspur.example.jp/news/ をご覧ください。\n");
  text += platform::jp("ご意見は info@larkspur.example.jp までお寄せください。\n");
  text += platform::jp("ソフト・表・十・能・予（2バイト目が 0x5C の文字）も正しく表示されます。\n");
  return text;
}

}  // namespace

int main() {
  if (!platform::folder_exists("set")) {
    std::fprintf(stderr, "no seed pages in set\\\n");
    return 2;
  }
  create_working_folders();
  std::vector<std::string> names;
  for (const SampleLog& log : kLogs) {
    const std::string list = platform::jp(log.list);
    if (std::find(names.begin(), names.end(), list) == names.end()) {
      names.push_back(list);
      ListRecord record;
      record.search_text = list;
      write_list(list, record);
      platform::create_folder(list_folder(list));
    }
    const std::string headers =
        "From: news@larkspur.example.jp\nSubject: =?ISO-2022-JP?B?GyRCJT8bKEI=?=\n"
        "Date: Mon, 7 Dec 2026 09:00:00 +0900\nMessage-ID: <sample@larkspur.example.jp>\n"
        "Content-Type: text/plain; charset=ISO-2022-JP\n\n";
    platform::write_file_atomic(list_folder(list) + "\\" + log.file,
                                log_file_content(platform::jp(log.subject), headers + body_of(log)));
  }

  YesUi ui;
  ListPanelTable table;
  rebuild_site(ui, table);
  if (ui.texts.size() != 1) {
    std::fprintf(stderr, "unexpected messages: %zu\n", ui.texts.size());
    return 1;
  }

  // The order the link page must show: descending by subject, as Shift_JIS.
  std::vector<const SampleLog*> order;
  for (const SampleLog& log : kLogs) order.push_back(&log);
  std::stable_sort(order.begin(), order.end(), [](const SampleLog* a, const SampleLog* b) {
    return compare_link_keys(platform::jp(a->subject), platform::jp(b->subject)) > 0;
  });
  std::string expected;
  for (const SampleLog* log : order) {
    std::string page = log->file;
    page.replace(page.size() - 4, 4, ".htm");
    expected += std::string(log->list) + "\t" + page + "\t" + log->subject + "\t" + log->probe + "\n";
  }
  return platform::write_file_atomic("expected.tsv", expected) ? 0 : 1;
}
