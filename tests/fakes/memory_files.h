// A file system in memory behind the platform layer's file functions, for
// test executables and fuzz targets that link tests/fakes/memory_files.cpp
// instead of the real platform library. Paths are the core's own ("LKset\A.stf",
// '\' between components); nothing touches the disk, so a case can set up what
// a real disk makes hard or impossible on one system or the other: a link
// that leads nowhere, a file that cannot be written or deleted.
//
// Simplifications, which the code under test never relies on: patterns match
// bytes, ignoring ASCII case only, and names come in the order of their
// ASCII-upper-cased bytes; a link is only an entry, never followed.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace larkspur::fakes {

struct MemoryFiles {
  std::map<std::string, std::string> files;  // path -> content
  std::set<std::string> folders;
  // Link entries (is_link true) -> whether the link leads to a folder. A
  // link is listed (as a folder when it leads to one) and folder_exists
  // follows one to a folder, but nothing is ever read, appended or deleted
  // through it (a folder link shows no entries); a whole write replaces the
  // link entry itself, as its final rename does on disk. Only remove_link
  // and a whole write take one away.
  std::map<std::string, bool> links;
  // Files whose writes and deletion fail (as a file held open elsewhere).
  std::set<std::string> locked;
  // path -> the number of the write that made the file's content, for
  // file_stamp; a file set up by hand has none (0).
  std::map<std::string, std::uint64_t> writes;
  std::uint64_t last_write = 0;

  void clear() { *this = MemoryFiles{}; }
};

// The one file system the platform functions of the fake work on.
MemoryFiles& memory_files();

}  // namespace larkspur::fakes
