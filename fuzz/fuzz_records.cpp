// The account and list record readers over arbitrary file contents: every
// text stays inside its field and holds no NUL, and a record written back
// and read again is the same record (texts that fill a whole field are cut
// to 255 bytes on writing, so they compare by that prefix).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/records.h"

namespace {

void check_text(const std::string& read, const std::string& again, std::size_t width) {
  if (read.size() > width || read.find('\0') != std::string::npos) std::abort();
  if (again != read.substr(0, width - 1)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using larkspur::AccountRecord;
  using larkspur::ListRecord;
  const std::string_view in(reinterpret_cast<const char*>(data), size);

  const AccountRecord account = AccountRecord::decode(in);
  const std::string account_bytes = account.encode();
  if (account_bytes.size() != AccountRecord::kSize) std::abort();
  const AccountRecord account_again = AccountRecord::decode(account_bytes);
  check_text(account.account_name, account_again.account_name, AccountRecord::kFieldWidth);
  check_text(account.server, account_again.server, AccountRecord::kFieldWidth);
  check_text(account.user_name, account_again.user_name, AccountRecord::kFieldWidth);
  check_text(account.password, account_again.password, AccountRecord::kFieldWidth);
  if (account_again.options != account.options) std::abort();

  const ListRecord list = ListRecord::decode(in);
  const std::string list_bytes = list.encode();
  if (list_bytes.size() != ListRecord::kSize) std::abort();
  const ListRecord list_again = ListRecord::decode(list_bytes);
  check_text(list.search_text, list_again.search_text, ListRecord::kSearchTextWidth);
  if (list_again.delete_from_server != list.delete_from_server || list_again.new_mail != list.new_mail) {
    std::abort();
  }
  return 0;
}
