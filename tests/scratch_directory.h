// Files a test hands to another program (dmidecode, boardsim) live in a
// directory of the test process's own, made on first use and removed with
// everything in it when the process ends, so a run leaves the temporary
// directory as it found it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace testing_support {

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::error_code ignored;
    std::string pattern =
        (std::filesystem::temp_directory_path(ignored) / "slot-inventory-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory &) = delete;
  ScratchDirectory &operator=(const ScratchDirectory &) = delete;

  const std::string &Path() const { return path_; }

 private:
  std::string path_;
};

// NAME inside the process's scratch directory.
inline std::string ScratchPath(const std::string &name) {
  static ScratchDirectory directory;
  return directory.Path() + "/" + name;
}

}  // namespace testing_support
