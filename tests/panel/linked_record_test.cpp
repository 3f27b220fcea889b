// The panel over the file system in memory (tests/fakes/memory_files.h): a
// list record that is a link leading nowhere, which a test can make on disk
// only where the system has symbolic links for everyone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panel/list_panel.h"
#include "panel/open_list_page.h"
#include "settings/store.h"
#include "tests/fakes/memory_files.h"

namespace larkspur {

// The desktop opener of the real platform layer; these tests give their own.
bool platform::open_with_shell(std::string_view) { return false; }

namespace {

TEST(LinkedRecord, IsNeverRewrittenAndItsPageStillOpens) {
  fakes::MemoryFiles& disk = fakes::memory_files();
  disk.clear();
  for (const char* name : {"A", "Broken"}) {
    disk.folders.insert({"LKset", list_folder(name), list_web_folder(name)});
    disk.files[list_index_page(name)] = "<HTML></HTML>";
  }
  disk.files[list_record_path("A")] = ListRecord{"[a]", 0, 1}.encode();
  disk.links[list_record_path("Broken")] = false;

  ListPanelTable table;
  refresh_list_panel(table);
  const ListPanelTable::Slots slots = table.snapshot();
  int broken = 0;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (slots[i].list_name == "Broken") broken = static_cast<int>(i) + 1;
  }
  ASSERT_NE(broken, 0) << "a list whose record cannot be read is still shown";
  EXPECT_EQ(slots[broken - 1].new_mail, 0);

  std::vector<std::string> opened;
  ASSERT_TRUE(open_list_page(table, broken, [&opened](std::string_view path) {
    opened.emplace_back(path);
    return true;
  }));
  EXPECT_EQ(opened, std::vector<std::string>{list_index_page("Broken")});
  EXPECT_TRUE(disk.links.contains(list_record_path("Broken")));
  EXPECT_FALSE(disk.files.contains(list_record_path("Broken")));
}

}  // namespace
}  // namespace larkspur
