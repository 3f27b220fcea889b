// The full-text search index: every list's messages, kept in the folder
// "search\" of the working folder as script files that the search page
// (search\index.htm) loads from disk, a few at a time, and that
// search_archive reads for the command-line tool. Both apply the same rule:
// a message matches when its folded text (fold_for_search of search_text)
// contains every word of the folded query as a substring.
//
// Layout (script files, each a run of lines "LS.<call>(<args>);"; all but
// state.js and the tail's x<I>.js are packed: one line LS.z(...) holding
// those lines, or a text file's content, deflated, see search_pack.h):
//   search\index.htm        the search page
//   search\state.js         the current generation, its message count, the
//                           list names, the messages stored since that
//                           generation was built ("tail"), and those of its
//                           own that are gone
//   search\g<N>\m.js        one line per message of generation N, oldest first:
//                           list, name, subject (for the tool)
//   search\g<N>\n.js        the same without the subjects (for the page)
//   search\g<N>\t<C>.js     the texts of messages C*kSearchChunkDocs on, then
//                           their subjects, in Shift_JIS (the lines of the
//                           other files are UTF-8), after a line of their
//                           lengths (see ChunkFiles in search_index.cpp)
//   search\g<N>\p<K>.js     postings of the one- and two-unit keys of shard K
//   search\g<N>\x<I>.js     the text of tail message I
//   search\g<N>\s<F>_<E>p<K>.js, s<F>_<E>m.js
//                           a segment: messages stored since, ids F to E - 1
//                           (see Segment in search_index.cpp)
//   search\sources.txt     what the current generation was built from (a
//                           digest of each log's name and stamp; its files'
//                           hashes): a rebuild keeps it while few changed
// A generation's files are written before state.js names it, and state.js is
// replaced whole, so a process killed at any moment leaves a consistent index
// (at worst one that lacks the log being stored, or names a page since gone).
//
// Writers hold the site lock (the "_locked" forms) and report nothing: the
// index is a convenience the next full build restores.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspur {

inline constexpr std::string_view kSearchFolder = "search";
inline constexpr std::string_view kSearchPage = "search\\index.htm";
inline constexpr std::string_view kSearchState = "search\\state.js";

// The layout of the index files, in state.js: an index of another layout is
// as none (the page and the tool wait for or build a new one). 4 and before
// wrote every file as plain script; 5 packs the texts, postings and message
// lists (see search_pack.h); 6 writes a text file's texts after a line of
// their lengths, where 5 wrote them as calls.
inline constexpr long kSearchIndexFormat = 6;

// Messages per text file of a generation: a query loads the files of its
// candidates, so files stay small (a few hundred KB of text).
inline constexpr int kSearchChunkDocs = 32;
// Posting files per generation, at most; a query loads one per distinct key.
inline constexpr int kSearchShards = 1024;
// Messages per posting file of a generation, about: a generation of fewer
// messages has fewer files (a power of two).
inline constexpr long kSearchGenerationDocsPerShard = 32;
// Messages stored after a generation was built are kept as a tail (each in a
// file of its own, scanned whole by every query) until it holds this many;
// then the storing of a message moves the tail into a segment of its own
// (postings of its keys, written once), so a receive's work per message stays
// bounded whatever the archive's size. The page loads every tail file for
// every query, one script each, which costs a browser more than the posting
// files of a few more segments: the tail stays short.
inline constexpr int kMaxSearchTailDocs = 16;
// Segments of one size class that merge into one (a query loads a posting
// file per key from every segment, so their count stays logarithmic).
inline constexpr int kSearchMergeSegments = 8;
// Messages per posting file of a segment, about. A query reads a key's
// posting file whole: a few messages' keys (thousands each) per file keep
// that reading as short as in a generation's shards.
inline constexpr long kSearchSegmentDocsPerShard = 2;
// Posting files of a segment, at most.
inline constexpr long kMaxSearchSegmentShards = 256;

// The search page's default page size, and the tool's default --limit.
inline constexpr int kSearchPageHits = 20;

// Builds a new generation from every log of every list and makes it current
// (the tail empties); removes older generations. The current generation is
// kept instead while every file of it reads back as written and at most a
// quarter of the logs changed (by name and FileStamp) or came since: its
// messages of logs gone or changed are then marked gone in state.js, and
// the logs changed or stored since (its tail and segments before) make one
// new segment, derived afresh. False when a file could not be written (the
// previous index then stays current).
bool build_search_index_locked();

// Adds the log "LKset\<list_name>\<log_name>" (just stored; `log` its bytes)
// to the tail, moving a full tail into a segment. Does nothing when there is
// no index yet: a rebuild or the first search builds it. False when the index
// could not be written.
bool add_to_search_index_locked(std::string_view list_name, std::string_view log_name, std::string_view log);

// Adds several logs (by list name, the paths "LKset\<list>\<file>.log" of
// logs just stored) at one reading and one writing of the state: a batch of
// a receive or an import. Logs the index holds already are left out.
bool add_logs_to_search_index_locked(const std::map<std::string, std::vector<std::string>>& logs);

// Adds the logs of the lists that a stopped job may have stored without
// indexing them (those from the second of each list's newest indexed log on).
bool catch_up_search_index_locked(const std::vector<std::string>& list_names);

// The words of a query: the folded query split at blanks (as JavaScript's
// \s counts them), empty words dropped.
std::vector<std::u16string> search_words(std::u16string_view query);

// True when `unit` is a blank of a query (JavaScript's \s).
bool is_search_blank(char16_t unit);

struct SearchHit {
  std::string list;      // Shift_JIS list name
  std::string log_name;  // "YYYYMMDDhhmmss_N" (no extension)
  std::string date;      // date_of_log_name
  std::u16string subject;
  std::string page_path() const;  // "LKset\<list>\web\<log_name>.htm"
};

struct SearchResult {
  std::vector<SearchHit> hits;  // newest first, at most the limit asked for
  std::size_t total = 0;        // every match; when not complete, a lower bound
  bool complete = true;         // false when checking stopped at the limit
};

// Every message of the index whose folded text holds every word of `query`
// (UTF-16), newest first (by date, then the later stored); only those of the
// list `list` (Shift_JIS) when given. nullopt when there is no index (or it
// cannot be read). Takes no lock: the files it reads are only ever replaced
// whole.
std::optional<SearchResult> search_archive(std::u16string_view query, const std::optional<std::string>& list,
                                           std::size_t limit);

// The text of the search page.
std::string search_page_html();

}  // namespace larkspur

namespace larkspur {

// The same writers for a caller that does not hold the site lock: they take it.
bool build_search_index();
bool catch_up_search_index(const std::vector<std::string>& list_names);
bool add_logs_to_search_index(const std::map<std::string, std::vector<std::string>>& logs);
// Builds the index when there is none yet (an archive from before the
// search, or one only received into); true when there is one afterwards.
bool ensure_search_index();
// Writes the search page alone (it waits for an index being built).
bool write_search_page();

}  // namespace larkspur

#include "panel/list_panel.h"
#include "settings/outcome.h"
#include "settings/ui.h"

namespace larkspur {

// rebuild_site, then (unless the user declined) a new index generation: the
// full rebuild of pages and index that every front end runs. A failure to
// write the index fails a rebuild that was done otherwise.
Outcome rebuild_site_and_search(UserInterface& ui, ListPanelTable& table);

// Why a rebuild failed when only the index could not be written.
std::string search_index_not_written_reason();

}  // namespace larkspur
