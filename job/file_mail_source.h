// Mail kept in files as a mail source (job/mail_source.h), for an import:
// - an mbox file (mboxo or mboxrd, LF or CR LF line ends): a message begins
//   after each "From " separator line that opens the file or follows an
//   empty line; a line of one or more ">" before "From " loses one ">"
//   (the mboxrd reading, which gives mboxo's "From " lines back as well);
// - a Maildir folder (its cur/ and new/ messages; tmp/ holds mail still
//   being delivered and is left alone), with any Maildir++ sub-folders;
// - a .eml file (one message);
// - a folder holding any of these, at any depth (Thunderbird's profile
//   folders: its mbox files have no extension; its .msf index files and any
//   other file that is no mail are skipped and counted).
// Files are read a piece at a time: the listing streams through each file
// once and keeps where each message lies, never a whole file; one message at
// a time is read again for its headers and its text. Message numbers run
// from 1 in the order of the paths given, each file in order, each folder in
// name order. Each message's id is its message key (job/seen_messages.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "job/mail_source.h"

namespace larkspur {

// One line for the user about a file or a message that was not taken whole
// (Shift_JIS): "PATH: reason" or "PATH: offset N: reason" (N counts bytes
// from the start of the file).
using FileSourceNote = std::function<void(const std::string& line)>;

// What the source met besides messages.
struct FileSourceCounts {
  int skipped_files = 0;   // files in folders that hold no mail (.msf and others)
  int unusable_paths = 0;  // paths given that are no mail at all or cannot be read
};

// The source over `paths` (Shift_JIS, as the platform takes them). `note`
// hears every unreadable message (with its file and offset), every path that
// is no mail, and a last message cut short (it is imported up to where it
// ends). `counts`, when given, is filled by open() and list() and must
// outlive the source.
std::unique_ptr<MailSource> make_file_source(std::vector<std::string> paths, FileSourceNote note,
                                             FileSourceCounts* counts = nullptr);

}  // namespace larkspur
