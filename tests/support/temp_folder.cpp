#include "tests/support/temp_folder.h"

#include <filesystem>
#include <random>

#include "platform/platform.h"

namespace larkspur::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path candidate = base / ("larkspur-test-" + std::to_string(random() % 100000000));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      break;
    }
  }
  previous_ = fs::current_path().string();
  fs::current_path(path_);
}

TempFolder::~TempFolder() {
  std::error_code error;
  fs::current_path(previous_, error);
  fs::remove_all(path_, error);
}

std::string sj(const char* utf8) {
  auto converted = platform::utf8_to_sjis(utf8);
  EXPECT_TRUE(converted.has_value()) << "not convertible to Shift_JIS: " << utf8;
  return converted.value_or(std::string{});
}

void put_file(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(platform::write_file_fast(path, bytes)) << path;
}

std::string get_file(const std::string& path) {
  return platform::read_file(path).value_or("<missing>");
}

}  // namespace larkspur::testing
