#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace pavrel::test {

// A fresh folder under TMPDIR, removed with everything in it.
class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pavrel-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      throw std::runtime_error("mkdtemp failed");
    }
    FPath = pattern;
  }
  ~TTempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

inline std::string ReadFile(const std::filesystem::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& Path, const std::string& Data) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out << Data;
}

// Names in a folder, sorted, for checking that no temporary file was left behind.
inline std::string Listing(const std::filesystem::path& Folder) {
  std::string names;
  std::vector<std::string> all;
  for (const auto& entry : std::filesystem::directory_iterator(Folder)) {
    all.push_back(entry.path().filename().string());
  }
  std::sort(all.begin(), all.end());
  for (const auto& n : all) {
    names += n + ";";
  }
  return names;
}

}  // namespace pavrel::test
