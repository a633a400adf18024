#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

void FuzzFail(const std::string& what, const char* file, int line) {
  std::fprintf(stderr, "\n%s:%d: invariant broken: %s\n", file, line, what.c_str());
  std::abort();
}

std::string EnterScratchDirectory(const char* name) {
  namespace fs = std::filesystem;
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / (std::string(name) + ".XXXXXX")).string();
  if (!::mkdtemp(pattern.data()) || ::chdir(pattern.c_str()) != 0) {
    std::perror(pattern.c_str());
    std::exit(2);
  }
  // Gone when the process ends normally; a crashed run leaves it for the one who looks at the crash.
  static const std::string path = pattern;
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  });
  return pattern;
}

std::string FuzzHex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text;
}

std::vector<std::string> DirectoryEntries() {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(".")) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
