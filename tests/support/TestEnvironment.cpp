#include "tests/support/TestEnvironment.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;

std::string BinDir() {
  const char* dir = std::getenv("ORVEL_BIN_DIR");
  return dir && *dir ? dir : ORVEL_BIN_DIR;
}

std::string SourceDir() {
  const char* dir = std::getenv("ORVEL_SOURCE_DIR");
  return dir && *dir ? dir : ORVEL_SOURCE_DIR;
}

double CpuSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& t) { return ((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
  return seconds(kernel) + seconds(user);
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) { return fs::exists(path); }

bool KeepScratch() { return std::getenv("ORVEL_KEEP_SCRATCH") != nullptr; }

TScratchDirectory::TScratchDirectory(bool withImages) {
  previous_ = fs::current_path().string();
  // A name nobody holds yet, made the way mkdtemp does, which not every system has.
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; path_.empty(); ++attempt) {
    if (attempt == 100) throw std::runtime_error("cannot make a scratch directory");
    const fs::path candidate = fs::temp_directory_path() / ("orvel-test-" + std::to_string(random() % 1000000000));
    std::error_code error;
    if (fs::create_directory(candidate, error)) path_ = candidate.string();
  }
  if (withImages) fs::copy(fs::path(BinDir()) / "Bmp", fs::path(path_) / "Bmp", fs::copy_options::recursive);
  fs::current_path(path_);
}

TScratchDirectory::~TScratchDirectory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
  if (!KeepScratch()) fs::remove_all(path_, ignored);
}
