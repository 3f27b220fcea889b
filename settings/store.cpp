#include "settings/store.h"

#include <algorithm>
#include <mutex>

namespace larkspur {

namespace {

constexpr std::string_view kRecordExtension = ".stf";

// Serialises every write of a list record within the process. The receive
// worker sets new_mail (read, change, write back) while the window may open a
// list page (the same on another list or this one) or the list dialog may
// rewrite a record; without it a read-modify-write could put back a record
// that another thread has just replaced.
std::mutex& list_record_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::string strip_extension(std::string_view file_name) {
  if (file_name.size() < kRecordExtension.size()) return std::string(file_name);
  return std::string(file_name.substr(0, file_name.size() - kRecordExtension.size()));
}

std::string account_pattern() { return std::string(kAccountFolder) + "\\*.stf"; }
std::string list_pattern() { return std::string(kListsFolder) + "\\*.stf"; }

std::optional<ListRecord> read_list_unlocked(std::string_view list_name) {
  auto bytes = platform::read_file(list_record_path(list_name), ListRecord::kSize);
  if (!bytes) return std::nullopt;
  return ListRecord::decode(*bytes);
}

AccountRecord read_account_file(std::string_view file_name) {
  auto bytes = platform::read_file(std::string(kAccountFolder) + "\\" + std::string(file_name),
                                   AccountRecord::kSize);
  return AccountRecord::decode(bytes.value_or(std::string{}));
}

}  // namespace

void create_working_folders() {
  platform::create_folder(kSetFolder);
  platform::create_folder(kListsFolder);
  platform::create_folder(kAccountFolder);
}

std::vector<std::string> list_record_files() {
  // A record named by hand ".stf", "..stf" or "a\b.stf" (a backslash is a
  // plain character in a Linux file name) would make LKset\ itself, the
  // working folder or some other folder the list's folder: it is no list.
  std::vector<std::string> files;
  for (std::string& file : platform::find_files(list_pattern())) {
    if (!is_plain_file_name(strip_extension(file))) continue;
    if (files.size() == static_cast<std::size_t>(kMaxLists)) break;
    files.push_back(std::move(file));
  }
  return files;
}

std::vector<std::string> unusable_list_records() {
  std::vector<std::string> files;
  for (std::string& file : platform::find_files(list_pattern())) {
    if (!is_plain_file_name(strip_extension(file))) files.push_back(std::move(file));
  }
  return files;
}

std::vector<std::string> enumerate_lists() {
  std::vector<std::string> files = list_record_files();
  std::vector<std::string> names;
  names.reserve(files.size());
  for (auto it = files.rbegin(); it != files.rend(); ++it) names.push_back(strip_extension(*it));
  return names;
}

int count_lists() { return static_cast<int>(platform::find_files(list_pattern()).size()); }

bool list_registered(std::string_view list_name) {
  if (!is_plain_file_name(list_name)) return false;
  for (const std::string& file : platform::find_files(list_pattern())) {
    if (strip_extension(file) == list_name) return true;
  }
  return false;
}

std::optional<ListRecord> read_list(std::string_view list_name) {
  return read_list_unlocked(list_name);
}

std::optional<ListRecord> ListRecordCache::read(std::string_view list_name) {
  return records_.get(std::string(list_name), list_record_path(list_name),
                      [list_name] { return read_list_unlocked(list_name); });
}

ListRecord read_list_or_zero(std::string_view list_name) {
  return read_list_unlocked(list_name).value_or(ListRecord{});
}

bool write_list(std::string_view list_name, const ListRecord& record) {
  std::lock_guard lock(list_record_mutex());
  return platform::write_file_atomic(list_record_path(list_name), record.encode());
}

bool set_new_mail(std::string_view list_name, int value) {
  std::lock_guard lock(list_record_mutex());
  const std::string path = list_record_path(list_name);
  std::optional<std::string> bytes = platform::read_file(path, ListRecord::kSize);
  // A record that cannot be read now (a virus scanner or backup holding it,
  // say) must not be replaced by an all-zero one: that would wipe its
  // search text and make the list take every message.
  if (!bytes) return false;
  // Changed in place in the record as read (a short file padded with zeros),
  // so every other byte, even one past a text's terminator, stays as it was.
  bytes->resize(ListRecord::kSize, '\0');
  const auto bits = static_cast<std::uint32_t>(value);
  for (std::size_t i = 0; i < 4; ++i) {
    (*bytes)[ListRecord::kNewMailOffset + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  }
  return platform::write_file_atomic(path, *bytes);
}

std::vector<std::string> account_record_files() {
  return platform::find_files(account_pattern());
}

std::optional<AccountRecord> read_first_account() {
  std::vector<std::string> files = account_record_files();
  if (files.empty()) return std::nullopt;
  return read_account_file(files.front());
}

std::vector<AccountRecord> enumerate_accounts() {
  std::vector<std::string> files = account_record_files();
  std::vector<AccountRecord> accounts;
  accounts.reserve(files.size());
  for (auto it = files.rbegin(); it != files.rend(); ++it) {
    accounts.push_back(read_account_file(*it));
  }
  return accounts;
}

bool write_account(const AccountRecord& record) {
  // The account name becomes a file name with no character check, but it must
  // not lead out of "pop3mail\" ("..\x" would write "x.stf" elsewhere).
  if (!is_plain_file_name(record.account_name)) return false;
  return platform::write_file_atomic(account_record_path(record.account_name), record.encode());
}

bool is_plain_file_name(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return !contains_sjis_char(name, "\\/");
}

}  // namespace larkspur
