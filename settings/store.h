// The settings store: enumeration, reading and writing of the records in the
// folder layout below the working folder. Every operation opens, transfers
// whole and closes; writes are atomic (see platform::write_file_atomic).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stamped_values.h"
#include "settings/records.h"

namespace larkspur {

// Creates "set", "LKset" and "pop3mail", in this order; failures are ignored.
void create_working_folders();

// Record file names ("<name>.stf") in search order: the first kMaxLists names
// of the sorted directory search "LKset\*.stf" whose list name is a plain
// file name (is_plain_file_name). The receive job keeps these. Every view of
// the lists (panel, pages, rebuild, dialogs, the tool) goes through here, so
// a record whose name is not plain is never used as a path.
std::vector<std::string> list_record_files();

// The record files left out of list_record_files() because their list name
// is not a plain file name (".stf", "..stf", "a\b.stf"), in search order.
std::vector<std::string> unusable_list_records();

// List names in presentation order: the reverse of list_record_files(), each
// less its ".stf". Empty when LKset\ holds no record or does not exist.
std::vector<std::string> enumerate_lists();

// enumerate_lists for a caller that asks after every log it stores (a receive
// job): LKset\ is read again only when it has another stamp, which adding,
// removing or renaming a record gives it (and so does every write of a
// record, which replaces the file). One object per job and thread.
class ListNamesCache {
 public:
  std::vector<std::string> names() { return names_.get({}, kListsFolder, enumerate_lists); }

 private:
  platform::StampedValues<std::vector<std::string>> names_;
};

// Number of ".stf" files in LKset\ (all of them, not cut at kMaxLists).
int count_lists();

// True when "LKset\<list_name>.stf" is among the record files (all of them,
// not cut at kMaxLists), whether or not it can be read, and the name is a
// plain file name.
bool list_registered(std::string_view list_name);

// The list's record; nullopt when its file cannot be opened for reading. A
// short or empty file gives the zero-filled rest.
std::optional<ListRecord> read_list(std::string_view list_name);
// The record, or an all-zero one when the file cannot be read.
ListRecord read_list_or_zero(std::string_view list_name);
bool write_list(std::string_view list_name, const ListRecord& record);

// read_list for a caller that reads the same records over and over (a
// receive job reads every record for every message and refreshes the panel
// after every log): a record whose file has the stamp it had at the last read
// is taken from memory. Any write of the file (write_list, set_new_mail,
// another process) gives it another stamp, so the result equals read_list.
// One object per job and thread.
class ListRecordCache {
 public:
  std::optional<ListRecord> read(std::string_view list_name);

 private:
  platform::StampedValues<std::optional<ListRecord>> records_;
};

// Sets new_mail of the list's record (read, change, write back), leaving every
// other byte as it was. When the record file cannot be opened for reading,
// nothing is written and false is returned: a briefly unreadable record is
// never replaced by an all-zero one. Serialised within the process, so the
// worker and the window never interleave their read-modify-write.
bool set_new_mail(std::string_view list_name, int value);

// Account record files ("<a>.stf") in search order of "pop3mail\*.stf".
std::vector<std::string> account_record_files();
// The record of the first account file found; nullopt when there is none.
// A found file that cannot be opened gives an all-zero record.
std::optional<AccountRecord> read_first_account();
// All account records in presentation order (reverse search order); an
// unreadable file gives an all-zero record.
std::vector<AccountRecord> enumerate_accounts();
// Writes "pop3mail\<account_name>.stf"; false when it cannot be written or
// the name is not a plain file name (see is_plain_file_name).
bool write_account(const AccountRecord& record);

// True when `name` is not empty, "." or ".." and holds no path separator
// ('\' or '/' as a Shift_JIS character), so "<folder>\" + name names an
// entry inside that folder.
bool is_plain_file_name(std::string_view name);

}  // namespace larkspur
