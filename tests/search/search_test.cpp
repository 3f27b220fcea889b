// The full-text search: folding, the text a log is searched by, and the index
// against a brute-force scan of every log.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "search/search_index.h"
#include "search/search_pack.h"
#include "search/search_text.h"
#include "settings/records.h"
#include "settings/store.h"
#include "tests/search/generated_logs.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::put_file;
using testing::sj;

std::u16string u16(const char* utf8) { return platform::utf8_to_utf16(utf8).value(); }
std::string u8(std::u16string_view text) { return platform::utf16_to_utf8_replacing(text); }

TEST(SearchFoldTest, FoldsAsTheSearchPageDoes) {
  struct Case {
    const char* text;
    const char* folded;
  };
  const Case cases[] = {
      {"ＡＢＣ１２３", "abc123"},        // full-width ASCII
      {"ｶﾀｶﾅ", "カタカナ"},              // half-width kana
      {"ｶﾞｷﾞ", "ガギ"},                  // with its voiced mark, composed
      {"ひらがな", "ひらがな"},          // hiragana stays
      {"カタカナ", "カタカナ"},          // and so does katakana
      {"iPhone ÄÖ", "iphone äö"},        // any Latin letter, either case
      {"㈱①", "(株)1"},                   // compatibility characters
      {"全角　空白", "全角 空白"},        // the ideographic space
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // beyond the BMP, unchanged
      {"漢字ＡＢＣ！～ｘ", "漢字abc!~x"},  // kanji with full-width ASCII: either case
      {"か\xE3\x82\x99", "が"},           // a combining voiced mark composes
      {"か゛", "か \xE3\x82\x99"},         // a spacing one decomposes
      {"Ａ\xE3\x82\x99", "a\xE3\x82\x99"},  // and stays after a letter
      {"Ｅ\xCC\x81", "\xC3\xA9"},         // full-width letter, combining accent
  };
  for (const Case& c : cases) EXPECT_EQ(u8(platform::fold_for_search(u16(c.text))), c.folded) << c.text;
}

// Text of units that fold one by one folds by a table; a unit beyond the
// BMP sends the text the whole way through the library. Both must agree for
// every unit and for short runs of the units Japanese mail is written in,
// combining marks and half-width kana among them.
TEST(SearchFoldTest, UnitByUnitFoldingAgreesWithTheWholeWay) {
  const std::u16string beyond = u"\U0001F600";  // folds to itself, next to anything
  const auto whole_way = [&](const std::u16string& text) {
    std::u16string folded = platform::fold_for_search(text + beyond);
    return folded.ends_with(beyond) ? folded.substr(0, folded.size() - beyond.size()) : u"?";
  };
  for (std::uint32_t code = 1; code < 0x10000; ++code) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    const std::u16string text(1, static_cast<char16_t>(code));
    ASSERT_EQ(platform::fold_for_search(text), whole_way(text)) << std::hex << code;
  }
  std::vector<char16_t> pool;
  for (const auto& [from, to] : std::vector<std::pair<char16_t, char16_t>>{
           {u'A', u'z'}, {0xC0, 0xFF}, {0x300, 0x36F}, {0x391, 0x3C9}, {0x2010, 0x2030}, {0x2460, 0x2473},
           {0x3000, 0x30FF}, {0x3200, 0x33FF}, {0x4E00, 0x4E20}, {0xFF01, 0xFF9F}, {0x1100, 0x1175}, {0xAC00, 0xAC10}}) {
    for (char16_t u = from; u <= to; ++u) pool.push_back(u);
  }
  std::mt19937 random(24);
  for (int i = 0; i < 50000; ++i) {
    std::u16string text;
    for (std::size_t n = 2 + random() % 3; n > 0; --n) text += pool[random() % pool.size()];
    ASSERT_EQ(u8(platform::fold_for_search(text)), u8(whole_way(text))) << u8(text);
  }
}

// Logs convert from a table where it knows every byte; any other text goes
// to the converter whole: both give what the converter gives.
TEST(SearchFoldTest, ShiftJisConvertsAsTheConverterDoes) {
  const std::string texts[] = {
      sj("漢字かなカナ ｶﾀｶﾅ abc\\~"), sj("ソ表～∥－①∵≒"), sj("髙﨑") + "x",  // IBM extension rows
      std::string("a\0b", 3), "\x82", "\x82\x20", "\x80\xA0\xFD", "\xF0\x40",  // NUL, cut, no Shift_JIS, user-defined
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(u8(platform::sjis_to_utf16_display(text)), platform::sjis_to_utf8_display(text)) << text;
  }
}

TEST(SearchFoldTest, QueryWordsSplitAtAnyBlank) {
  struct Case {
    const char* query;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"東京　雨", {"東京", "雨"}},
      {"  ＡＢＣ\tdef ", {"abc", "def"}},
      {"株", {"株"}},
      {"　 ", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words;
    for (const std::u16string& w : search_words(u16(c.query))) words.push_back(u8(w));
    EXPECT_EQ(words, c.words) << c.query;
  }
}

TEST(SearchTextTest, ExtendedPagesAreSearchedByWhatTheyShow) {
  struct Case {
    const char* html;
    const char* text;
  };
  const Case cases[] = {
      {"<p>a&amp;b &lt;c&gt;</p>", "a&b <c>\n"},
      {"<a href=\"http://hidden.example/x\" title='t>x'>link</a>", "link"},
      {"<style>p { color: red }</style><SCRIPT>x()</SCRIPT>shown", "shown"},
      {"<!-- <b>not</b> -->seen", "seen"},
      {"&#x1F600;&#26666;&bogus;", "\xF0\x9F\x98\x80株&bogus;"},
      {"a<br>b", "a\nb"},
  };
  for (const Case& c : cases) EXPECT_EQ(u8(visible_html_text(u16(c.html))), c.text) << c.html;
}

TEST(SearchTextTest, ClassicLogsAreSearchedByTheirStoredText) {
  const std::string header = "From: a@example.jp\nSubject: x\n" + std::string(100, 'h') + "\n\n";
  const std::string log = log_file_content(sj("件名 <b>"), header + sj("本文 <i>&amp;</i>\n"));
  EXPECT_EQ(u8(search_text(log)), "件名 <b>\n本文 <i>&amp;</i>\n");
  EXPECT_EQ(date_of_log_name("20260102030405_7.log"), "2026/01/02 03:04:05");
}

// ------------------------------------------------------------ exactness

class SearchIndexTest : public testing::InTempFolder {
 protected:
  // Writes `count` logs into `list`, classic and extended mixed; their names.
  std::vector<std::string> write_logs(const std::string& list, int count, std::mt19937& random, int year = 2026) {
    std::vector<std::string> names;
    create_working_folders();
    platform::create_folder(list_folder(list));
    put_file(list_record_path(list), ListRecord{}.encode());
    for (int i = 0; i < count; ++i) {
      const bool extended = random() % 3 == 0;
      const std::string log = testing::generated_log(random, extended, extended ? 30 : 40);
      char name[32];
      std::snprintf(name, sizeof name, "%d%02d%02d%02d0000_%d.log", year, 1 + i % 12, 1 + i % 28, i % 24, ++serial_);
      put_file(list_folder(list) + "\\" + name, log);
      logs_[std::make_pair(list, std::string(name, std::strlen(name) - 4))] = platform::fold_for_search(search_text(log));
      names.push_back(name);
    }
    return names;
  }

  std::set<std::pair<std::string, std::string>> brute_force(const std::vector<std::u16string>& words) const {
    std::set<std::pair<std::string, std::string>> found;
    if (words.empty()) return found;  // a query of blanks finds nothing
    for (const auto& [key, folded] : logs_) {
      if (std::all_of(words.begin(), words.end(), [&](const std::u16string& w) { return folded.find(w) != std::u16string::npos; })) {
        found.insert(key);
      }
    }
    return found;
  }

  // Cuts 200 queries from the logs (1 to 6 units, some of two words, some
  // found nowhere) and compares the index's answers with a scan.
  void expect_exact(std::mt19937& random) {
    std::vector<const std::u16string*> texts;
    for (const auto& [key, folded] : logs_) texts.push_back(&folded);
    const auto cut = [&]() {
      const std::u16string& text = *texts[random() % texts.size()];
      const std::size_t length = 1 + random() % 6;
      const std::size_t at = random() % (text.size() - length);
      return text.substr(at, length);
    };
    for (int q = 0; q < 200; ++q) {
      std::u16string query = cut();
      if (q % 5 == 0) query += u"　" + cut();
      if (q % 17 == 0) query += u"存在しない語";
      const auto result = search_archive(query, std::nullopt, SIZE_MAX);
      ASSERT_TRUE(result);
      std::set<std::pair<std::string, std::string>> got;
      for (const SearchHit& hit : result->hits) got.insert({hit.list, hit.log_name});
      EXPECT_EQ(got, brute_force(search_words(query))) << u8(query);
      EXPECT_EQ(result->total, got.size());
      // With a limit, checking stops early, yet the hits are the newest.
      const auto first = search_archive(query, std::nullopt, 5);
      ASSERT_TRUE(first);
      ASSERT_EQ(first->hits.size(), std::min<std::size_t>(5, result->hits.size()));
      for (std::size_t i = 0; i < first->hits.size(); ++i) {
        EXPECT_EQ(first->hits[i].page_path(), result->hits[i].page_path()) << u8(query);
      }
      EXPECT_TRUE(std::is_sorted(result->hits.begin(), result->hits.end(),
                                 [](const SearchHit& a, const SearchHit& b) { return a.date > b.date; }));
    }
  }

  std::map<std::pair<std::string, std::string>, std::u16string> logs_;
  int serial_ = 0;
};

TEST_F(SearchIndexTest, AnswersEqualABruteForceScanBeforeAndAfterLogsAreAdded) {
  std::mt19937 random(24);
  // A receive into an archive without an index leaves it to a rebuild.
  const std::vector<std::string> first = write_logs(sj("天気"), 60, random);
  ASSERT_TRUE(add_to_search_index_locked(sj("天気"), first[0], *platform::read_file(list_folder(sj("天気")) + "\\" + first[0])));
  EXPECT_FALSE(platform::can_read_file(kSearchState));
  write_logs(sj("経済"), 60, random);
  ASSERT_TRUE(build_search_index_locked());
  expect_exact(random);

  // Logs stored later go to the tail, scanned whole, then a tail at a time
  // into segments, which merge (names not in the order of storing).
  const std::string list = sj("速報");
  std::mt19937 more(7);
  // The generation (named in the state's first line) is never built anew by them.
  const auto generation = [] { return platform::read_file(kSearchState).value_or("").substr(0, 27); };
  const std::string built = generation();
  for (int round = 0; round < 2; ++round) {
    for (const std::string& name : write_logs(list, kMaxSearchTailDocs * kSearchMergeSegments * 2 / 3, more)) {
      ASSERT_TRUE(add_to_search_index_locked(list, name, *platform::read_file(list_folder(list) + "\\" + name)));
    }
    expect_exact(random);
  }
  EXPECT_EQ(generation(), built);
  // Logs a stopped job stored without indexing them are caught up, once:
  // newer ones (a receive's) and older ones (an import names its logs by
  // the messages' dates).
  write_logs(list, 3, more, 2027);
  write_logs(list, 2, more, 2001);
  ASSERT_TRUE(catch_up_search_index_locked({list, sj("天気")}));
  ASSERT_TRUE(catch_up_search_index_locked({list}));
  expect_exact(random);
  // A rebuild after newer logs came, without the record of what the
  // generation was built from (as an older Larkspur left it): the text files
  // of the older logs are those of the previous generation, which the new
  // one gets all the same.
  ASSERT_TRUE(build_search_index_locked());
  const std::string rebuilt = generation();
  write_logs(list, 3, more, 2028);
  platform::delete_file("search\\sources.txt");
  ASSERT_TRUE(build_search_index_locked());
  EXPECT_NE(generation(), rebuilt);
  expect_exact(random);
}

// A packed file reads back as its content whatever bytes its deflated form
// holds (quotes, backslashes, CR, LF, NUL, bytes 80-FF), and tells a byte
// changed after its header.
TEST(SearchPackTest, ContentReadsBackAndChangesAreFound) {
  std::string every_byte;
  for (int i = 0; i < 4 * 256; ++i) every_byte += static_cast<char>(i % 256);
  std::string noise;  // deflates to itself, near enough: every byte value
  std::mt19937 random(11);
  for (int i = 0; i < (1 << 20); ++i) noise += static_cast<char>(random());
  for (const std::string& content : {std::string(), every_byte, noise, sj("LS.t(0,\"株価\\n\");\n")}) {
    const std::uint64_t hash = search_file_hash(content);
    for (const int level : {1, 6}) {
      const std::optional<std::string> file = pack_search_file("t7", content, hash, level);
      ASSERT_TRUE(file);
      EXPECT_EQ(file->find_first_of("\r\n"), file->size() - 1);  // one line
      EXPECT_EQ(unpack_search_file(*file), content);
      EXPECT_TRUE(packed_search_file_holds(*file, "t7", hash));
      EXPECT_FALSE(packed_search_file_holds(*file, "t8", hash));
      EXPECT_FALSE(packed_search_file_holds(*file, "t7", hash + 1));
      std::string changed = *file;
      changed[changed.size() - 5] ^= 0x01;
      EXPECT_FALSE(packed_search_file_holds(changed, "t7", hash));
    }
  }
}

// What may happen to the index files between two runs: an index of an
// older layout is as none; a file cut short, altered or gone makes a query
// find less (and never read past what is there). The next rebuild restores
// an index that answers exactly.
TEST_F(SearchIndexTest, ARebuildRestoresAnOlderOrDamagedIndex) {
  std::mt19937 random(5);
  write_logs(sj("天気"), 40, random);
  write_logs(sj("経済"), 40, random);
  platform::sleep_ms(30);  // the logs are older than the build: it may be kept
  ASSERT_TRUE(build_search_index_locked());
  std::string generation;
  for (const platform::DirEntry& entry : platform::find_entries(std::string(kSearchFolder) + "\\g*")) generation = entry.name;
  const std::string folder = std::string(kSearchFolder) + "\\" + generation + "\\";
  using Damage = std::optional<std::string> (*)(std::string);
  struct Case {
    const char* what;
    std::vector<std::string> files;  // in the generation's folder; empty: state.js
    Damage damage;                   // nullopt: the file is deleted
    bool no_index;                   // a query then finds no index at all (else: may find less)
  };
  const Case cases[] = {
      {"an older layout", {}, [](std::string s) -> std::optional<std::string> {
         s[s.find(");") - 1] = '4';  // the layout number
         return s;
       }, true},
      {"a count of posting files that is no power of two", {}, [](std::string s) -> std::optional<std::string> {
         const std::size_t shards = s.find(',', s.find(',') + 1) + 1;  // after the message count
         return s.substr(0, shards) + "3" + s.substr(s.find(',', shards));
       }, true},
      {"texts cut short", {"t0.js", "t1.js"}, [](std::string s) -> std::optional<std::string> { return s.substr(0, s.size() / 2); }, false},
      {"a byte of the texts altered", {"t0.js"}, [](std::string s) -> std::optional<std::string> {
         s[s.size() / 2] = static_cast<char>(s[s.size() / 2] ^ 0x5A);
         return s;
       }, false},
      {"postings ending in an escape", {"p0.js", "p1.js", "p2.js"}, [](std::string s) -> std::optional<std::string> {
         return s.substr(0, s.size() - 4) + "\\";
       }, false},
      {"the message lists gone", {"m.js", "n.js"}, [](std::string) -> std::optional<std::string> { return std::nullopt; }, false},
      {"plain lines where packed ones were", {"t0.js", "p3.js"}, [](std::string) -> std::optional<std::string> {
         return std::string("LS.t(0,\"x\");\n");
       }, false},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> paths = c.files.empty() ? std::vector<std::string>{std::string(kSearchState)} : [&] {
      std::vector<std::string> out;
      for (const std::string& name : c.files) out.push_back(folder + name);
      return out;
    }();
    for (const std::string& path : paths) {
      const std::optional<std::string> damaged = c.damage(platform::read_file(path).value());
      if (damaged) put_file(path, *damaged);
      else platform::delete_file(path);
    }
    for (const char16_t* query : {u"の", u"天気", u"です。", u"ab"}) {
      const auto result = search_archive(query, std::nullopt, SIZE_MAX);
      if (c.no_index) {
        EXPECT_FALSE(result) << c.what;
      }
    }
    ASSERT_TRUE(build_search_index_locked()) << c.what;
    expect_exact(random);
  }
}

// A rebuild keeps the current generation while its files read back as
// written (see above) and few logs changed: it marks the messages of logs
// gone or changed and derives only the logs changed or stored since. Either
// way it answers as a fresh build would.
TEST_F(SearchIndexTest, ARebuildKeepsTheGenerationWhileItsLogsAreAsBuilt) {
  std::mt19937 random(9);
  const std::string weather = sj("天気");
  std::vector<std::string> names = write_logs(weather, 280, random);
  write_logs(sj("経済"), 20, random);
  const auto path = [&](const std::string& name) { return list_folder(weather) + "\\" + name; };
  const auto remember = [&](const std::string& name) {
    logs_[{weather, name.substr(0, name.size() - 4)}] = platform::fold_for_search(search_text(*platform::read_file(path(name))));
  };
  const auto remove = [&](const std::string& name) {
    platform::delete_file(path(name));
    logs_.erase({weather, name.substr(0, name.size() - 4)});
  };
  const auto store = [&](int count, int year) {  // as a receive does
    const std::vector<std::string> stored = write_logs(weather, count, random, year);
    for (const std::string& name : stored) EXPECT_TRUE(add_to_search_index_locked(weather, name, *platform::read_file(path(name))));
    return stored;
  };
  struct Case {
    const char* what;
    std::function<void()> change;  // of the logs; null: none
    bool builds_anew;
  };
  const Case cases[] = {
      {"nothing changed", nullptr, false},
      {"a log rewritten at the same size", [&] {
         std::string log = *platform::read_file(path(names[3]));
         const std::size_t body = log.rfind('\n', log.size() - 2) + 1;
         std::reverse(log.begin() + static_cast<std::ptrdiff_t>(body), log.end() - 1);
         put_file(path(names[3]), log);
         remember(names[3]);
       }, false},
      {"a log deleted", [&] { remove(names[5]); }, false},
      {"logs added, one older than any", [&] {
         write_logs(sj("経済"), 1, random, 2001);
         write_logs(sj("新しい"), 2, random, 2031);
       }, false},
      {"logs stored into the tail and segments, one of them deleted", [&] {
         const std::vector<std::string> stored = store(kMaxSearchTailDocs + 3, 2030);
         remove(stored[1]);
         remove(stored[kMaxSearchTailDocs + 1]);
       }, false},
      {"logs stored since and one of the generation deleted", [&] {
         store(2, 2032);
         remove(names[7]);
       }, false},
      {"a log deleted, and one of its name stored again after a rebuild", [&] {
         const std::string log = *platform::read_file(path(names[11]));
         remove(names[9]);
         ASSERT_TRUE(build_search_index_locked());
         put_file(path(names[9]), log);
         remember(names[9]);
         ASSERT_TRUE(add_to_search_index_locked(weather, names[9], log));
         expect_exact(random);
       }, false},
      {"more logs since than a quarter of all", [&] { write_logs(weather, 160, random, 2033); }, true},
  };
  for (const Case& c : cases) {
    // Logs changed within a tick of the file system's clock before a build
    // may change unseen: that build's generation is never kept.
    platform::sleep_ms(30);
    ASSERT_TRUE(build_search_index_locked()) << c.what;
    const auto sources = platform::file_stamp("search\\sources.txt");
    ASSERT_TRUE(sources) << c.what;
    if (c.change) c.change();
    platform::sleep_ms(30);
    ASSERT_TRUE(build_search_index_locked()) << c.what;
    EXPECT_EQ(platform::file_stamp("search\\sources.txt") != sources, c.builds_anew) << c.what;
    expect_exact(random);
    std::vector<platform::DirEntry> generations = platform::find_entries(std::string(kSearchFolder) + "\\g*");
    ASSERT_EQ(generations.size(), 1u) << c.what;
    EXPECT_TRUE(platform::find_files(std::string(kSearchFolder) + "\\" + generations[0].name + "\\x*.js").empty()) << c.what;
  }
}

// A text file is read by the lengths on its head line: a message's text is
// where they put it, and a file whose head does not fit its content (or names
// another chunk) holds no text, so no candidate of it is taken.
TEST_F(SearchIndexTest, TextFilesAreReadByTheLengthsAtTheirHead) {
  std::mt19937 random(11);
  write_logs(sj("天気"), 3, random);
  for (const auto& [key, folded] : logs_) {
    put_file(list_folder(key.first) + "\\" + key.second + ".log", log_file_content("s", "From: a@example.jp\n\nqqqword\n"));
  }
  ASSERT_TRUE(build_search_index_locked());
  std::string text_file;
  for (const platform::DirEntry& entry : platform::find_entries(std::string(kSearchFolder) + "\\g*")) {
    text_file = std::string(kSearchFolder) + "\\" + entry.name + "\\t0.js";
  }
  const std::string texts = "\"a qqqword\"\"b\"\"c qqqword\"000";
  struct Case {
    const char* what;
    std::string content;  // written plain, as an unpacked file reads
    std::size_t found;
  };
  const Case cases[] = {
      {"as written", "0,11,3,11,1,1,1\n" + texts, 2},
      {"a head ending in a comma", "0,11,3,11,1,1,1,\n" + texts, 0},
      {"another chunk's number", "1,11,3,11,1,1,1\n" + texts, 0},
      {"lengths short of the content", "0,11,3,11,1,1,1\n" + texts + "0", 0},
      {"a length missing", "0,11,3,11,1,1\n" + texts, 0},
      {"no head", texts, 0},
  };
  for (const Case& c : cases) {
    put_file(text_file, c.content);
    const auto result = search_archive(u"qqqword", std::nullopt, SIZE_MAX);
    ASSERT_TRUE(result) << c.what;
    EXPECT_EQ(result->total, c.found) << c.what;
  }
}

TEST_F(SearchIndexTest, ListFilterAndLimit) {
  std::mt19937 random(3);
  write_logs(sj("天気"), 20, random);
  write_logs(sj("経済"), 20, random);
  ASSERT_TRUE(build_search_index_locked());
  const auto all = search_archive(u"の", std::nullopt, SIZE_MAX);
  const auto one = search_archive(u"の", sj("経済"), 3);
  ASSERT_TRUE(all && one);
  EXPECT_LE(one->hits.size(), 3u);
  for (const SearchHit& hit : one->hits) EXPECT_EQ(hit.list, sj("経済"));
  EXPECT_LT(one->total, all->total);
  EXPECT_EQ(search_archive(u"の", sj("無い"), 3)->total, 0u);
}

}  // namespace
}  // namespace larkspur
