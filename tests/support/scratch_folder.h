// A private temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace pelrow {

class TScratchFolder {
public:
  TScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelrow-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr)
      FPath = pattern;
  }
  ~TScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(FPath, ignored);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  std::string Path(const std::string& name = {}) const {
    return name.empty() ? FPath : FPath + "/" + name;
  }

private:
  std::string FPath;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace pelrow
