#include "bench/corpus.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "platform/platform.h"
#include "settings/records.h"

namespace larkspur::bench {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> native(const std::string& sjis_path) {
  auto utf8 = platform::sjis_to_utf8(sjis_path);
  if (!utf8) return std::nullopt;
  for (char& c : *utf8) {
    if (c == '\\') c = '/';
  }
  return fs::path(*utf8);
}

// Words the generated text is made of, in Shift_JIS.
const std::vector<std::string>& words() {
  static const std::vector<std::string> list = [] {
    const char* utf8[] = {"今週の", "話題", "ニュース", "特集", "読者", "から", "お便り", "新製品", "について",
                          "解説", "します。", "東京", "大阪", "春", "夏", "秋", "冬", "インタビュー", "連載",
                          "第", "回", "技術", "情報", "まとめ", "お知らせ", "イベント", "開催", "予定", "です。",
                          "ソフトウェア", "表計算", "十日", "能力", "予約", "受付中", "無料", "セミナー"};
    std::vector<std::string> out;
    for (const char* w : utf8) out.push_back(platform::jp(w));
    return out;
  }();
  return list;
}

// Values 0 to 99.
std::string two_digits(int value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

bool put_scratch_file(const std::string& path, const std::string& bytes) {
  const auto file = native(path);
  if (!file) return false;
  std::ofstream out(*file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string corpus_list_name(int index) {
  return platform::jp("週刊ラークスパー") + two_digits(index + 1);
}

std::string corpus_log(int serial, int bytes) {
  std::mt19937 random(static_cast<unsigned>(serial) * 2654435761u);
  const auto& w = words();
  auto word = [&] { return w[random() % w.size()]; };

  std::string subject = platform::jp("【週刊ラークスパー】");
  if (serial % 7 == 0) subject = "Larkspur Weekly ";
  subject += platform::jp("第") + std::to_string(serial) + platform::jp("号 ") + word() + word() + word();

  std::string log = subject + "\n\n\n";
  log += "Return-Path: <news@larkspur.example.jp>\n";
  log += "Received: from mail.larkspur.example.jp by pop.example.jp; Mon, 7 Dec 2026 06:00:00 +0900\n";
  log += "From: news@larkspur.example.jp\nTo: reader@example.jp\n";
  log += "Subject: =?ISO-2022-JP?B?GyRCIVobJEI=?=\nDate: Mon, 7 Dec 2026 06:00:00 +0900\n";
  log += "Message-ID: <" + std::to_string(serial) + "@larkspur.example.jp>\n";
  log += "MIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-2022-JP\n\n";
  int line = 0;
  while (static_cast<int>(log.size()) < bytes) {
    std::string text;
    switch (++line % 9) {
      case 0: text = platform::jp("詳しくは http://larkspur.example.jp/news/") + std::to_string(serial) + "/" +
                     std::to_string(line) + ".html " + platform::jp("をご覧ください。"); break;
      case 4: text = platform::jp("お問い合わせ：") + "info" + std::to_string(line) + "@larkspur.example.jp"; break;
      case 7: text = ""; break;
      default:
        for (int i = 0; i < 6 + static_cast<int>(random() % 8); ++i) text += word();
    }
    log += text + "\n";
  }
  return log;
}

namespace {

// The headwords of the ipadic dictionary files named, as Shift_JIS (those
// without a Shift_JIS form left out), in file order.
std::vector<std::string> ipadic_words(std::initializer_list<const char*> files) {
  constexpr std::string_view kHeadword = "(見出し語 (";
  std::vector<std::string> out;
  for (const char* file : files) {
    std::ifstream in(std::string("/usr/share/chasen/ipadic/") + file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t at = line.find(kHeadword);
      if (at == std::string::npos) continue;
      const std::size_t start = at + kHeadword.size();
      const std::size_t end = line.find(' ', start);
      if (end == std::string::npos) continue;
      if (auto sjis = platform::utf8_to_sjis(line.substr(start, end - start))) out.push_back(*sjis);
    }
  }
  return out;
}

struct Vocabulary {
  std::vector<std::string> words;      // content words, Zipf-ranked by a fixed shuffle
  std::vector<std::string> particles;  // between them
  std::vector<double> cumulative;      // Zipf weights of `words`, summed
};

const Vocabulary& vocabulary() {
  static const Vocabulary v = [] {
    Vocabulary out;
    out.words = ipadic_words({"Noun.dic", "Noun.verbal.dic", "Noun.adjv.dic", "Verb.dic", "Adj.dic", "Adverb.dic",
                              "Noun.place.dic", "Noun.org.dic", "Noun.proper.dic"});
    out.particles = ipadic_words({"Postp.dic", "Postp-col.dic", "Auxil.dic"});
    if (out.words.empty() || out.particles.empty()) {
      std::fprintf(stderr, "ipadic-common not installed: the search corpus uses a small fixed vocabulary\n");
      out.words = words();
      out.particles = {platform::jp("の"), platform::jp("は"), platform::jp("を")};
    }
    std::mt19937 shuffle(1999);
    std::shuffle(out.words.begin(), out.words.end(), shuffle);
    double sum = 0;
    for (std::size_t r = 0; r < out.words.size(); ++r) out.cumulative.push_back(sum += 1.0 / static_cast<double>(r + 1));
    return out;
  }();
  return v;
}

}  // namespace

std::size_t realistic_vocabulary_size() { return vocabulary().words.size() + vocabulary().particles.size(); }

std::string realistic_corpus_log(int serial, int bytes) {
  const Vocabulary& v = vocabulary();
  std::mt19937 random(static_cast<unsigned>(serial) * 2654435761u + 17);
  std::uniform_real_distribution<double> uniform(0, v.cumulative.back());
  auto word = [&] {
    const auto at = std::lower_bound(v.cumulative.begin(), v.cumulative.end(), uniform(random));
    return v.words[static_cast<std::size_t>(at - v.cumulative.begin())];
  };
  // Particles are few and frequent: the first of the list most.
  auto particle = [&] { return v.particles[std::min(random() % 12, random() % v.particles.size())]; };
  static const char* const kAscii[] = {"update", "iPhone", "Windows", "PDF", "news", "release", "Linux", "API",
                                       "event", "online", "version", "FAQ"};
  std::string subject = platform::jp("【週刊ラークスパー】") + platform::jp("第") + std::to_string(serial) +
                        platform::jp("号 ") + word() + particle() + word();
  std::string log = subject + "\n\n\n";
  log += "From: news@larkspur.example.jp\nTo: reader@example.jp\nSubject: x\n";
  log += "Date: Mon, 7 Dec 2026 06:00:00 +0900\nMessage-ID: <" + std::to_string(serial) + "@larkspur.example.jp>\n";
  log += "MIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-2022-JP\n\n";
  while (static_cast<int>(log.size()) < bytes) {
    std::string line;
    const int kind = static_cast<int>(random() % 20);
    if (kind == 0) {
      line = "http://www.example.jp/" + std::to_string(random() % 1000) + "/" + kAscii[random() % std::size(kAscii)] + ".html";
    } else if (kind == 1) {
      line = std::to_string(random() % 100000) + platform::jp("円");
    } else {
      for (int i = 0; i < 4 + static_cast<int>(random() % 8); ++i) {
        line += random() % 10 == 0 ? std::string(kAscii[random() % std::size(kAscii)]) + " " : word();
        line += particle();
      }
      line += platform::jp("。");
    }
    log += line + "\n";
  }
  return log;
}

int write_realistic_corpus(const CorpusShape& shape, const std::string& seed_folder) {
  const int written = write_corpus(CorpusShape{shape.lists, 0, shape.log_bytes}, seed_folder);
  int count = written;
  for (int l = 0; l < shape.lists; ++l) {
    const std::string name = corpus_list_name(l);
    for (int i = 0; i < shape.logs_per_list; ++i) {
      const std::string stamp = "2026" + two_digits(1 + i / 100 % 12) + two_digits(1 + i % 28) + two_digits(i / 60 % 24) +
                                two_digits(i % 60) + two_digits(l % 60) + "_" + std::to_string(1 + i % 3) + ".log";
      if (put_scratch_file(list_folder(name) + "\\" + stamp, realistic_corpus_log(l * 10000 + i + 1, shape.log_bytes))) ++count;
    }
  }
  return count;
}

int write_corpus(const CorpusShape& shape, const std::string& seed_folder, int first_log) {
  platform::create_folder("set");
  platform::create_folder("LKset");
  for (const auto& entry : fs::directory_iterator(seed_folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    put_scratch_file("set\\" + entry.path().filename().string(), bytes);
  }
  int written = 0;
  for (int l = 0; l < shape.lists; ++l) {
    const std::string name = corpus_list_name(l);
    ListRecord record;
    record.search_text = platform::jp("【週刊ラークスパー】");
    put_scratch_file(list_record_path(name), record.encode());
    platform::create_folder(list_folder(name));
    for (int i = first_log; i < shape.logs_per_list; ++i) {
      const int serial = l * 10000 + i + 1;
      // Unique per list: hour and minute follow the log's index.
      const std::string stamp = "2026" + two_digits(1 + i / 100 % 12) + two_digits(1 + i % 28) +
                                two_digits(i / 60 % 24) + two_digits(i % 60) + two_digits(l % 60) + "_" +
                                std::to_string(1 + i % 3) + ".log";
      if (put_scratch_file(list_folder(name) + "\\" + stamp, corpus_log(serial, shape.log_bytes))) ++written;
    }
  }
  return written;
}

}  // namespace larkspur::bench
