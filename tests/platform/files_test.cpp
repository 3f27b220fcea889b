// Directory search, atomic writes, folders, Japanese names and the file lock,
// each in a fresh working folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/copy_matching.h"
#include "tests/support/temp_folder.h"

namespace larkspur::platform {
namespace {

using larkspur::testing::copy_matching;
using larkspur::testing::get_file;
using larkspur::testing::put_file;
using larkspur::testing::sj;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

// Every name in the working folder tree that looks like a temporary file.
Names temporary_leftovers() {
  Names found;
  for (const auto& entry : fs::recursive_directory_iterator(".")) {
    const std::u8string name = entry.path().filename().u8string();
    if (name.starts_with(u8"~") && name.ends_with(u8".tmp") && entry.is_regular_file()) {
      found.emplace_back(name.begin(), name.end());
    }
  }
  return found;
}

class DirectorySearch : public larkspur::testing::InTempFolder {
 protected:
  void SetUp() override {
    ASSERT_TRUE(create_folder("d"));
    for (const char* name : {"b.stf", "A.STF", "c.stf", "_x.stf", "x.stfx", "y.st", "m.log",
                             "p.htm", "~b.stf.tmp", "~m.log.tmp", "~p.htm.tmp"}) {
      put_file(std::string("d\\") + name, name);
    }
    ASSERT_TRUE(create_folder("d\\sub.stf"));
    ASSERT_TRUE(create_folder("j"));
    for (const char* name : {"ｱ.txt", "あ.txt", "z.txt", "Ω.txt"}) put_file("j\\" + sj(name), name);
  }
};

TEST_F(DirectorySearch, MatchesExtensionExactlyInNtfsOrder) {
  struct Case {
    const char* pattern;
    Names expected;
  };
  const Case cases[] = {
      // Upper-cased, '_' (0x5F) sorts after the letters; a plain byte sort
      // would put "A.STF" and "_x.stf" before "b.stf".
      {"d\\*.stf", {"A.STF", "b.stf", "c.stf", "_x.stf"}},
      {"d\\*.STF", {"A.STF", "b.stf", "c.stf", "_x.stf"}},
      {"d\\*.st", {"y.st"}},
      {"d\\*.log", {"m.log"}},
      {"d\\*.htm", {"p.htm"}},
      {"d\\*.tmp", {"~b.stf.tmp", "~m.log.tmp", "~p.htm.tmp"}},
      {"d\\x*", {"x.stfx"}},
      {"d\\*.*",
       {"A.STF", "b.stf", "c.stf", "m.log", "p.htm", "x.stfx", "y.st", "_x.stf", "~b.stf.tmp",
        "~m.log.tmp", "~p.htm.tmp"}},
      {"d\\*", {"A.STF", "b.stf", "c.stf", "m.log", "p.htm", "x.stfx", "y.st", "_x.stf",
                "~b.stf.tmp", "~m.log.tmp", "~p.htm.tmp"}},
      {"d\\*.html", {}},
      {"missing\\*.stf", {}},
      {"d\\sub.stf\\*.*", {}},
      // By UTF-16 code unit, not by Shift_JIS byte (あ 82A0 before Ω 83B6)
      // nor by the units' low bytes.
      {"j\\*", {"z.txt", sj("Ω.txt"), sj("あ.txt"), sj("ｱ.txt")}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(find_files(c.pattern), c.expected) << c.pattern;
  }
}

TEST_F(DirectorySearch, EntriesIncludeFoldersFlagged) {
  Names names;
  Names folders;
  for (const DirEntry& entry : find_entries("d\\*.stf")) {
    names.push_back(entry.name);
    if (entry.is_folder) folders.push_back(entry.name);
  }
  EXPECT_EQ(names, (Names{"A.STF", "b.stf", "c.stf", "sub.stf", "_x.stf"}));
  EXPECT_EQ(folders, Names{"sub.stf"});
  for (const DirEntry& entry : find_entries("d\\*")) {
    EXPECT_NE(entry.name, ".");
    EXPECT_NE(entry.name, "..");
  }
}

TEST_F(DirectorySearch, CopiesMatchingFilesOnly) {
  ASSERT_TRUE(create_folder("out"));
  EXPECT_EQ(copy_matching("d\\*.stf", "out"), 4);
  EXPECT_EQ(find_files("out\\*.*"), (Names{"A.STF", "b.stf", "c.stf", "_x.stf"}));
  EXPECT_EQ(get_file("out\\c.stf"), "c.stf");
  EXPECT_EQ(copy_matching("d\\*.htm", "out\\"), 1);
  EXPECT_EQ(get_file("out\\p.htm"), "p.htm");
  EXPECT_EQ(copy_matching("d\\*.htm", "missing"), 0);
}

class JapaneseNames : public larkspur::testing::InTempFolder {};

// ソ and 表 end in the byte 0x5C, ポ in 0x7C ('|'): a path split on those bytes
// names the wrong folder.
TEST_F(JapaneseNames, FolderAndFileNamesSurviveTheRoundTrip) {
  struct Case {
    const char* list_name;  // UTF-8
  };
  const Case cases[] = {{"ソ"}, {"表"}, {"ポ"}, {"ソフト表"}, {"十字ポ"}};
  ASSERT_TRUE(create_folder("LKset"));
  for (const Case& c : cases) {
    const std::string list = sj(c.list_name);
    const std::string folder = "LKset\\" + list;
    ASSERT_TRUE(create_folder(folder)) << c.list_name;
    ASSERT_TRUE(create_folder(folder + "\\web")) << c.list_name;
    const std::string log = sj("表ソ.log");
    ASSERT_TRUE(write_file_atomic(folder + "\\" + log, "subject")) << c.list_name;
    ASSERT_TRUE(write_file_atomic(folder + "\\web\\menu.htm", "menu")) << c.list_name;

    // The native names are the right Unicode characters.
    const std::u8string utf8_list(reinterpret_cast<const char8_t*>(c.list_name));
    const fs::path native_folder = fs::path(u8"LKset") / utf8_list;
    EXPECT_TRUE(fs::is_directory(native_folder)) << c.list_name;
    EXPECT_TRUE(fs::is_regular_file(native_folder / u8"表ソ.log")) << c.list_name;
    EXPECT_TRUE(fs::is_regular_file(native_folder / u8"web" / u8"menu.htm")) << c.list_name;

    // The search gives the same Shift_JIS bytes back.
    EXPECT_EQ(find_files(folder + "\\*.log"), Names{log}) << c.list_name;
    EXPECT_EQ(read_file(folder + "\\web\\menu.htm"), "menu") << c.list_name;
    EXPECT_EQ(copy_matching(folder + "\\*.log", folder + "\\web"), 1) << c.list_name;
    EXPECT_EQ(get_file(folder + "\\web\\" + log), "subject") << c.list_name;
  }
  Names folders;
  for (const DirEntry& entry : find_entries("LKset\\*")) {
    EXPECT_TRUE(entry.is_folder);
    folders.push_back(entry.name);
  }
  EXPECT_EQ(folders.size(), std::size(cases));
  EXPECT_TRUE(temporary_leftovers().empty());
}

TEST_F(JapaneseNames, UnconvertibleNamesFail) {
  const std::string bad_paths[] = {
      "bad\x81",                   // lead byte at the end
      "LKset\\\x81",
      std::string("a\0b.stf", 7),  // an embedded NUL would name another file
      "",
  };
  ASSERT_TRUE(create_folder("LKset"));
  for (const std::string& path : bad_paths) {
    EXPECT_FALSE(write_file_atomic(path, "x")) << path;
    EXPECT_FALSE(create_file_exclusive(path, "x")) << path;
    EXPECT_FALSE(create_folder(path)) << path;
    EXPECT_FALSE(read_file(path).has_value()) << path;
    EXPECT_FALSE(can_read_file(path)) << path;
    EXPECT_FALSE(delete_file(path)) << path;
    EXPECT_FALSE(folder_exists(path)) << path;
    EXPECT_FALSE(change_folder(path)) << path;
    EXPECT_EQ(try_lock_file(path), nullptr) << path;
    if (!path.empty()) {
      EXPECT_TRUE(find_files(path + "\\*.*").empty()) << path;
    }
  }
  EXPECT_TRUE(find_entries("*").size() == 1);  // only LKset: nothing mangled was made
}

TEST_F(JapaneseNames, NamesWithoutShiftJisFormAreLeftOut) {
  ASSERT_TRUE(create_folder("LKset"));
  // é has no Shift_JIS code; WAVE DASH shares its code with FULLWIDTH TILDE
  // on Linux, so its name could not be opened again.
  for (const char8_t* name : {u8"caf\u00e9.stf", u8"wave\u301C.stf"}) {
    std::ofstream(fs::path(u8"LKset") / name) << "x";
  }
#ifndef _WIN32
  // A Linux name with a backslash could only be addressed as another path.
  std::ofstream(fs::path(u8"LKset") / u8"a\\b.stf") << "x";
#endif
  put_file("LKset\\" + sj("ソ") + ".stf", "y");
  EXPECT_EQ(find_files("LKset\\*.stf"), Names{sj("ソ") + ".stf"});
}

// write_file_atomic and write_file_fast differ only in forcing data to disk;
// every other promise holds for both.
using Writer = bool (*)(std::string_view, std::string_view);
class AtomicWrite : public larkspur::testing::InTempFolder,
                    public ::testing::WithParamInterface<Writer> {};

TEST_P(AtomicWrite, ReplacesWholeContent) {
  const Writer write = GetParam();
  const std::string contents[] = {"first", "", std::string(200000, 'x'), std::string("a\0b", 3)};
  for (const std::string& content : contents) {
    ASSERT_TRUE(write("f.stf", content));
    EXPECT_EQ(read_file("f.stf"), content);
  }
  EXPECT_TRUE(temporary_leftovers().empty());
}

TEST_P(AtomicWrite, FailureLeavesOldFileAndNoTemporary) {
  const Writer write = GetParam();
  put_file("old.stf", "old");
  ASSERT_TRUE(create_folder("dir.stf"));
  put_file("blocked.stf", "kept");
  ASSERT_TRUE(create_folder("~blocked.stf.tmp"));  // the temporary file cannot be made

  EXPECT_FALSE(write("missing\\f.stf", "new"));
  EXPECT_FALSE(folder_exists("missing"));
  EXPECT_FALSE(write("dir.stf", "new"));
  EXPECT_TRUE(folder_exists("dir.stf"));
  EXPECT_FALSE(write("blocked.stf", "new"));
  EXPECT_EQ(get_file("blocked.stf"), "kept");
  EXPECT_TRUE(folder_exists("~blocked.stf.tmp"));
  EXPECT_EQ(get_file("old.stf"), "old");
  EXPECT_TRUE(temporary_leftovers().empty());
}

// Two threads writing one file share its temporary name; every write must
// still succeed and leave one whole content.
TEST_P(AtomicWrite, ConcurrentWritersOfOneFileTakeTurns) {
  const Writer write = GetParam();
  const std::string contents[] = {std::string(5000, 'a'), std::string(7000, 'b')};
  constexpr int kRounds = 40;
  std::atomic<int> failures{0};
  auto writer = [&](const std::string& content) {
    for (int i = 0; i < kRounds; ++i) {
      if (!write("shared.stf", content)) ++failures;
    }
  };
  std::thread first(writer, contents[0]);
  std::thread second(writer, contents[1]);
  for (int i = 0; i < kRounds; ++i) {
    const auto now = read_file("shared.stf");
    // A reader sees the old or the new content, never a mixture.
    if (now) {
      EXPECT_TRUE(*now == contents[0] || *now == contents[1]);
    }
  }
  first.join();
  second.join();
  EXPECT_EQ(failures.load(), 0);
  const std::string last = get_file("shared.stf");
  EXPECT_TRUE(last == contents[0] || last == contents[1]);
  EXPECT_TRUE(temporary_leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(BothWriters, AtomicWrite,
                         ::testing::Values(&write_file_atomic, &write_file_fast));

class ExclusiveCreation : public larkspur::testing::InTempFolder {};

TEST_F(ExclusiveCreation, NeverReplaces) {
  EXPECT_TRUE(create_file_exclusive("n.stf", "one"));
  EXPECT_FALSE(create_file_exclusive("n.stf", "two"));
  EXPECT_EQ(get_file("n.stf"), "one");
  ASSERT_TRUE(create_folder("dir"));
  EXPECT_FALSE(create_file_exclusive("dir", "x"));
  EXPECT_TRUE(temporary_leftovers().empty());
}

// Files made without forcing are forced as a batch; a batch that names a
// file which is not there is not reported as forced.
TEST_F(ExclusiveCreation, DeferredFilesAreForcedAsABatch) {
  ASSERT_TRUE(create_file_exclusive_deferred("a.log", "a"));
  ASSERT_TRUE(create_file_exclusive_deferred("b.log", "b"));
  struct Case {
    std::vector<std::string> paths;
    bool forced;
  };
  const Case cases[] = {
      {{}, true},
      {{"a.log", "b.log", "a.log"}, true},
      {{"a.log", "gone.log", "b.log"}, false},
      {{"gone.log"}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(force_to_disk(c.paths), c.forced) << c.paths.size();
  EXPECT_EQ(get_file("b.log"), "b");
}

class Files : public larkspur::testing::InTempFolder {};

TEST_F(Files, ReadsWholeOrFirstBytes) {
  put_file("f.log", "0123456789");
  ASSERT_TRUE(create_folder("dir"));
  struct Case {
    const char* path;
    std::size_t max_bytes;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"f.log", SIZE_MAX, "0123456789"}, {"f.log", 4, "0123"}, {"f.log", 0, ""},
      {"f.log", 100, "0123456789"},      {"dir", SIZE_MAX, std::nullopt},
      {"none.log", SIZE_MAX, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_file(c.path, c.max_bytes), c.expected) << c.path << " " << c.max_bytes;
    EXPECT_EQ(can_read_file(c.path), c.expected.has_value()) << c.path;
  }
}

TEST_F(Files, FolderOperations) {
  EXPECT_TRUE(create_folder("a"));
  EXPECT_TRUE(create_folder("a"));  // an existing folder is no error
  EXPECT_TRUE(folder_exists("a"));
  put_file("a\\f.htm", "x");
  EXPECT_FALSE(create_folder("a\\f.htm"));  // a file of that name is
  EXPECT_FALSE(folder_exists("a\\f.htm"));
  EXPECT_FALSE(create_folder("x\\y"));      // one level at a time
  EXPECT_FALSE(remove_folder("a"));         // not empty
  EXPECT_FALSE(delete_file("a"));           // a folder is no file
  EXPECT_TRUE(delete_file("a\\f.htm"));
  EXPECT_FALSE(delete_file("a\\f.htm"));
  EXPECT_TRUE(remove_folder("a"));
  EXPECT_FALSE(folder_exists("a"));

  ASSERT_TRUE(create_folder(sj("表")));
  put_file(sj("表") + "\\x.stf", "x");
  ASSERT_TRUE(change_folder(sj("表")));
  EXPECT_EQ(get_file("x.stf"), "x");
  EXPECT_TRUE(change_folder(".."));
  EXPECT_FALSE(change_folder("missing"));
}

TEST_F(Files, LockIsExclusiveWhileHeldAndTellsBusyFromUnavailable) {
  LockAttempt attempt = LockAttempt::kBusy;
  auto first = try_lock_file("job.lock", attempt);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(attempt, LockAttempt::kTaken);
  EXPECT_EQ(try_lock_file("job.lock", attempt), nullptr);
  EXPECT_EQ(attempt, LockAttempt::kBusy);
  EXPECT_EQ(try_lock_file("job.lock"), nullptr);
  first.reset();
  EXPECT_NE(try_lock_file("job.lock"), nullptr);
  ASSERT_TRUE(create_folder("folder.lock"));
  for (const char* path : {"missing\\job.lock", "folder.lock"}) {
    EXPECT_EQ(try_lock_file(path, attempt), nullptr) << path;
    EXPECT_EQ(attempt, LockAttempt::kUnavailable) << path;
  }
}

TEST_F(Files, LinksAreSeenAndRemovedWithoutFollowingThem) {
  ASSERT_TRUE(create_folder("outside"));
  put_file("outside\\x.htm", "x");
  std::error_code error;
  fs::create_directory_symlink(fs::absolute("outside"), "web", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  EXPECT_TRUE(is_link("web"));
  EXPECT_TRUE(folder_exists("web"));
  for (const char* path : {"outside", "outside\\x.htm", "missing"}) {
    EXPECT_FALSE(is_link(path)) << path;
    EXPECT_FALSE(remove_link(path)) << path;
  }
  EXPECT_TRUE(remove_link("web"));
  EXPECT_FALSE(folder_exists("web"));
  EXPECT_EQ(get_file("outside\\x.htm"), "x");
}

TEST_F(Files, PageSetAsideComesBackWithItsNewBytes) {
  struct Case {
    const char* name;
    std::string old_bytes;
    std::string new_bytes;
  };
  const Case cases[] = {
      {"unchanged", "same bytes", "same bytes"},
      {"longer", "short", "a longer content"},
      {"shorter", "a longer content", "short"},
      {"emptied", "something", ""},
  };
  for (const Case& c : cases) {
    put_file("p.htm", c.old_bytes);
    const std::optional<FileStamp> before = file_stamp("p.htm");
    const FileHold hold = hold_for_replacement("p.htm", "~p.htm.old");
    ASSERT_NE(hold, FileHold::kRefused) << c.name;
    if (hold == FileHold::kAside) {
      EXPECT_FALSE(can_read_file("p.htm")) << c.name;
    }
    ASSERT_TRUE(replace_held(hold, "p.htm", "~p.htm.old", c.new_bytes)) << c.name;
    EXPECT_EQ(get_file("p.htm"), c.new_bytes) << c.name;
    EXPECT_FALSE(can_read_file("~p.htm.old")) << c.name;
    if (c.old_bytes == c.new_bytes) {
      EXPECT_EQ(file_stamp("p.htm")->modified, before->modified) << c.name << ": written again";
    }
  }
  EXPECT_EQ(hold_for_replacement("missing.htm", "~missing.htm.old"), FileHold::kRefused);
  ASSERT_TRUE(create_folder("dir.htm"));
  EXPECT_EQ(hold_for_replacement("dir.htm", "~dir.htm.old"), FileHold::kRefused);
  // Nothing set aside: the page is written afresh.
  EXPECT_TRUE(replace_held(FileHold::kAside, "gone.htm", "~gone.htm.old", "fresh"));
  EXPECT_EQ(get_file("gone.htm"), "fresh");
}

// Read-only files: Windows refuses to delete them; Linux allows it.
void make_read_only(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    put_file(name, "x");
    fs::permissions(name, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
}

// outside\target.htm, and the pages hard.htm and soft.htm linked to it that
// this file system allows.
Names links_to_outside() {
  EXPECT_TRUE(create_folder("outside"));
  put_file("outside\\target.htm", "outside");
  std::error_code error;
  fs::create_hard_link("outside/target.htm", "hard.htm", error);
  fs::create_symlink(fs::absolute("outside/target.htm"), "soft.htm", error);
  Names pages;
  for (const char* page : {"hard.htm", "soft.htm"}) {
    if (fs::exists(fs::symlink_status(page))) pages.push_back(page);
  }
  return pages;
}

TEST_F(Files, SetAsideIsRefusedWhereDeletionIs) {
  // Windows refuses to set a read-only file aside, though a rename alone
  // would move it.
  make_read_only({"a.htm", "b.htm", "c.htm"});
  const bool deletable = delete_file("b.htm");
  EXPECT_EQ(set_aside("a.htm", "~a.htm.old"), deletable);
  EXPECT_EQ(hold_for_replacement("c.htm", "~c.htm.old") != FileHold::kRefused, deletable);
  for (const char* name : {"a.htm", "~a.htm.old", "b.htm", "c.htm", "~c.htm.old"}) {
    std::error_code ignored;  // writable again, so the folder can go
    fs::permissions(name, fs::perms::owner_write, fs::perm_options::add, ignored);
  }
}

// A page held for a rebuild: refused exactly where a deletion is, and given
// its new bytes whole, through whichever hold it got, never through a link.
TEST_F(Files, HeldPageIsRefusedWhereDeletionIsAndReplacedWhole) {
  const auto give = [](const char* page, std::string_view bytes) {
    const std::string aside = std::string("~") + page + ".old";
    const FileHold hold = hold_for_replacement(page, aside);
    return hold != FileHold::kRefused && replace_held(hold, page, aside, bytes);
  };
  put_file("same.htm", "same");
  const std::optional<FileStamp> before = file_stamp("same.htm");
  ASSERT_TRUE(give("same.htm", "same"));
  EXPECT_EQ(file_stamp("same.htm")->modified, before->modified) << "written again";
  put_file("p.htm", "a longer old page");
  ASSERT_TRUE(give("p.htm", "new"));
  EXPECT_EQ(get_file("p.htm"), "new");

  for (const std::string& page : links_to_outside()) {
    ASSERT_TRUE(give(page.c_str(), "new page")) << page;
    EXPECT_EQ(get_file(page), "new page") << page;
  }
  EXPECT_EQ(get_file("outside\\target.htm"), "outside");

  ASSERT_TRUE(create_folder("dir.htm"));
  EXPECT_EQ(hold_for_replacement("dir.htm", "~dir.htm.old"), FileHold::kRefused);
  make_read_only({"a.htm", "b.htm"});
  EXPECT_EQ(hold_for_replacement("a.htm", "~a.htm.old") != FileHold::kRefused, delete_file("b.htm"));
#ifndef _WIN32
  // An immutable file (when the file system and our rights allow making one).
  put_file("i.htm", "x");
  if (std::system("chattr +i i.htm 2>/dev/null") == 0) {
    EXPECT_EQ(hold_for_replacement("i.htm", "~i.htm.old"), FileHold::kRefused);
    EXPECT_FALSE(delete_file("i.htm"));
    EXPECT_EQ(std::system("chattr -i i.htm"), 0);
  }
#endif
}

TEST_F(Files, RefillNeverWritesThroughALinkOrASharedFile) {
  for (const std::string& page : links_to_outside()) {
    const std::string aside = "~" + page + ".old";
    const FileHold hold = hold_for_replacement(page, aside);
    ASSERT_NE(hold, FileHold::kRefused) << page;
    ASSERT_TRUE(replace_held(hold, page, aside, "new page")) << page;
    EXPECT_EQ(get_file(page), "new page") << page;
    EXPECT_FALSE(is_link(page)) << page;
  }
  EXPECT_EQ(get_file("outside\\target.htm"), "outside");
}

TEST_F(Files, ReusingWriteNeverWritesIntoASharedFile) {
  ASSERT_TRUE(create_folder("outside"));
  put_file("outside\\shared.htm", "shared");
  put_file("m.htm", "one");
  std::error_code error;
  fs::create_hard_link("outside/shared.htm", "m.htm.link", error);
  const bool hard_links = !error;
  if (hard_links) {
    ASSERT_TRUE(delete_file("m.htm"));
    fs::rename("m.htm.link", "m.htm");  // the page shares its file with outside\shared.htm
  }
  for (const char* bytes : {"two", "three, longer", "four"}) {
    ASSERT_TRUE(write_file_reusing("m.htm", "~m.htm.old", bytes)) << bytes;
    EXPECT_EQ(get_file("m.htm"), bytes);
    EXPECT_EQ(get_file("outside\\shared.htm"), "shared") << bytes;
  }
}

TEST_F(Files, StampChangesWithContentAndEntries) {
  ASSERT_TRUE(create_folder("d"));
  put_file("d\\f.htm", "one");
  const std::optional<FileStamp> file = file_stamp("d\\f.htm");
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file_stamp("d\\f.htm"), file);
  EXPECT_EQ(file_stamp("missing"), std::nullopt);
  const std::optional<FileStamp> folder = file_stamp("d");
  put_file("d\\f.htm", "two!");  // replaced: a new file and a changed folder
  EXPECT_NE(file_stamp("d\\f.htm"), file);
  put_file("d\\g.htm", "g");
  EXPECT_NE(file_stamp("d"), folder);
}

TEST(Clock, MonotonicAndLocalTimeAreSane) {
  // The sleep is what is measured here: sleep_ms waits at least about the
  // time asked, and monotonic_ms counts that time in milliseconds.
  const std::int64_t before = monotonic_ms();
  sleep_ms(20);
  const std::int64_t after = monotonic_ms();
  EXPECT_GE(after - before, 15);
  EXPECT_LT(after - before, 5000);
  const LocalTime now = local_time();
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour <= 23);
  EXPECT_TRUE(now.minute >= 0 && now.minute <= 59);
  EXPECT_TRUE(now.second >= 0 && now.second <= 60);
}

}  // namespace
}  // namespace larkspur::platform
