// The mail corpus (mime_corpus/, messages of the shapes that arrive today):
// for each NAME.eml, the log stored under extended mail handling must be
// NAME.log byte for byte and its page NAME.htm, on every build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <string_view>

#include "retrieval/mime.h"
#include "settings/records.h"
#include "site/list_pages.h"
#include "site/log_page.h"
#include "tests/retrieval/mime_corpus_files.h"

namespace larkspur {
namespace {

std::string stored_log(std::string_view raw) {
  const std::size_t blank = raw.find("\n\n");
  const std::string_view headers = raw.substr(0, blank == std::string_view::npos ? raw.size() : blank + 1);
  return log_file_content(extended_subject(headers), extended_log_text(raw));
}

TEST(MimeCorpus, EveryMessageGivesItsLogAndPage) {
  std::map<std::string, std::string_view> files;
  for (const CorpusFile& file : kMimeCorpusFiles) files.emplace(file.name, file.bytes);
  // LARKSPUR_CORPUS_OUT names a folder to write what this build makes, to
  // look at or to take as the new expectations.
  const char* out = std::getenv("LARKSPUR_CORPUS_OUT");
  int messages = 0;
  for (const auto& [name, bytes] : files) {
    if (!name.ends_with(".eml")) continue;
    ++messages;
    const std::string stem = name.substr(0, name.size() - 4);
    const std::string log = stored_log(bytes);
    const std::string page = convert_log_body(log_body_text(log));
    if (out != nullptr) {
      std::ofstream(std::string(out) + "/" + stem + ".log", std::ios::binary) << log;
      std::ofstream(std::string(out) + "/" + stem + ".htm", std::ios::binary) << page;
    }
    if (!files.contains(stem + ".log") || !files.contains(stem + ".htm")) {
      ADD_FAILURE() << stem << ": no expected .log or .htm";
      continue;
    }
    EXPECT_EQ(log, files[stem + ".log"]) << stem;
    EXPECT_EQ(page, files[stem + ".htm"]) << stem;
    // Whatever the message, the page is the stored HTML page itself and the
    // link text cannot open markup.
    EXPECT_TRUE(page.starts_with("<HTML>")) << stem;
    EXPECT_EQ(link_text_from_log(log).find_first_of("<>\""), std::string::npos) << stem;
  }
  EXPECT_GE(messages, 20);
}

}  // namespace
}  // namespace larkspur
