// Logs of generated text for the search tests and the sample archive that
// the browser check opens: words drawn at random from a small vocabulary that
// folding must get right, in classic logs (a header, then plain text) and in
// extended ones (an HTML body whose link address is not searched).
#pragma once

#include <iterator>
#include <random>
#include <string>

#include "platform/platform.h"
#include "settings/records.h"

namespace larkspur::testing {

// Kana of both kinds, kanji, Latin in both cases and both widths, half-width
// kana, digits, a web address; Shift_JIS text files: a trail byte 0x5C,
// symbols, NEC and IBM extensions.
inline constexpr const char* kGeneratedVocabulary[] = {
    "東京", "大阪", "雨", "株価", "上昇", "ニュース", "にゅーす", "ｶﾀｶﾅ", "カタカナ", "ＡＢＣ", "abc",
    "ABC", "iPhone", "IPHONE", "第", "回", "の", "は", "を", "です。", "１２３", "123", "㈱", "会社",
    "http://example.jp/a", "メール", "マガジン", "特集", "週刊", "春", "夏", "検索", "全文", "ラークスパー",
    "ソフト表示", "～", "①", "∵", "髙", "￢", "―", "＼"};

// `count` words in Shift_JIS, about one in five followed by a blank or a
// line break.
inline std::string generated_words(std::mt19937& random, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += kGeneratedVocabulary[random() % std::size(kGeneratedVocabulary)];
    if (random() % 5 == 0) text += random() % 2 ? " " : "\n";
  }
  return platform::utf8_to_sjis(text).value_or("");
}

// A log's whole content: a subject of three words, then `words` words of
// text (extended: in an HTML body, with two more words as a link's text).
inline std::string generated_log(std::mt19937& random, bool extended, int words) {
  const std::string subject = generated_words(random, 3);
  const std::string text = generated_words(random, words);
  if (!extended) return log_file_content(subject, "From: a@example.jp\n" + std::string(100, 'h') + "\n\n" + text + "\n");
  const std::string link = generated_words(random, 2);
  return log_file_content(subject, std::string(kExtendedLogMark) + "Subject: s\n\n<HTML><body><p>" + text +
                                       "<a href=\"http://hidden.example/\">" + link + "</a></p></body></HTML>\n");
}

}  // namespace larkspur::testing
