// Fixtures shared by the tests: a fresh temporary directory per test and
// whole-file helpers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

// A new empty directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("quarn_test_" + std::to_string(rd()) + "_" + std::to_string(rd()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Full path of a name inside the directory, as a string.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// False where the system (or the C++ library's port to it) cannot make
// symbolic links.
inline bool SymlinksSupported() {
  TempDir dir;
  std::error_code ec;
  std::filesystem::create_symlink(dir.File("target"), dir.File("link"), ec);
  return !ec;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// "Elapsed time: HH:MM:SS" with hours 00..23.
inline bool IsElapsedTimeLine(const std::string& line) {
  const std::string prefix = "Elapsed time: ";
  if (line.size() != prefix.size() + 8 || line.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string t = line.substr(prefix.size());
  auto digit = [&](size_t i, char max) { return t[i] >= '0' && t[i] <= max; };
  return digit(0, '2') && digit(1, '9') && t[2] == ':' && digit(3, '5') && digit(4, '9') &&
         t[5] == ':' && digit(6, '5') && digit(7, '9') && t.compare(0, 2, "24") < 0;
}

}  // namespace testing_support
