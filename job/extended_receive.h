// The receive job of an account with extended mail handling
// (kAccountOptionExtendedMail), from the login on. It talks to its mail
// source only through MailSource (job/mail_source.h), in one session:
// open, list, headers of the messages the scan cache does not know, the
// messages the lists take (in batches), deletions once their logs are on
// disk, finish. The status texts are the classic job's, in the same order.
#pragma once

#include <string>
#include <vector>

#include "job/mail_source.h"
#include "job/receive_job.h"
#include "settings/records.h"

namespace larkspur {

// Messages fetched before their logs are forced to disk together and their
// deletions sent: a crash stores at most one batch again, never loses one.
inline constexpr std::size_t kBatchMessages = 200;
inline constexpr std::size_t kBatchBytes = std::size_t{8} << 20;

// What an import is asked to do.
struct ImportOptions {
  // Every message goes to this list, whatever its subject (empty: each
  // message goes to the lists its subject matches, as a receive sorts it).
  std::string only_list;
  // Nothing is stored or changed: the report's counts say what would be.
  bool dry_run = false;
};

// An import from files (job/file_mail_source.h) through the same sorting and
// storing as the receive: the same decoding (extended mail handling,
// whatever the account), logs in batches forced to disk before their keys
// are noted, the same pages, link pages and new-mail marks. What differs:
// - a message is known by its message key (job/seen_messages.h) and stored
//   at most once per list, whether it came by POP3 or from a file before;
// - its log is named by its Date in local time (the source's time for the
//   message when it has no usable Date), from log number 1 up;
// - messages are sorted in the source's order, nothing is deleted, and the
//   status is a notice with the counts so far (for the progress dialog).
// The counts go to job.state.report (stored_per_list and the others);
// failures to store as in a receive. A list named in `options` that is not
// registered fails the job before anything is read.
void import_extended(ReceiveJobContext& job, MailSource& source, const ImportOptions& options);

// Most lines of the source's notes an import's closing notice shows.
inline constexpr std::size_t kImportNotesShown = 10;

// The notice at the end of an import in the window ("お知らせ"): the logs
// stored, the messages already stored, matching no list and unreadable, the
// files skipped, then the first kImportNotesShown `notes` (the source's
// lines on what it could not read).
Message import_done_message(const ReceiveReport& report, int skipped_files,
                            const std::vector<std::string>& notes);

// Runs the job from the login to the end of the session (the caller has
// read the account and set up the source; it shuts the client down after).
void receive_extended(ReceiveJobContext& job, const AccountRecord& account, MailSource& source);

}  // namespace larkspur
