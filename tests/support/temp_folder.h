// A fresh, empty working folder for one test: created under the system's
// temporary folder, made the current folder, and removed again afterwards
// (the previous working folder is restored).
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace larkspur::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // Absolute native path of the folder.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};

// A test fixture whose every test runs in its own TempFolder.
class InTempFolder : public ::testing::Test {
 protected:
  TempFolder folder_;
};

// Shift_JIS bytes of a UTF-8 text, for readable expectations in tests.
std::string sj(const char* utf8);

// Writes bytes to a file given as a Shift_JIS relative path (folders must exist).
void put_file(const std::string& path, const std::string& bytes);
// The file's bytes, or "<missing>" when it cannot be read.
std::string get_file(const std::string& path);

}  // namespace larkspur::testing
