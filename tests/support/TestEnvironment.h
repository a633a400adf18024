#pragma once
// What the test programs share: a fresh working directory per test holding the button images, since the
// program keeps its files in the working directory, and whole files byte for byte.
#include <string>

// Where the built programs and the sources are.
std::string BinDir();
std::string SourceDir();

// CPU time this process has used so far, user and system, in seconds.
double CpuSeconds();

// Reads and writes whole files, byte for byte.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// Whether a test's scratch directories are kept for a look afterwards (ORVEL_KEEP_SCRATCH set).
bool KeepScratch();

// Makes a new empty directory the working directory for the life of the object, with a copy of the
// button images in "Bmp" unless told otherwise, and goes back and removes it afterwards
// unless kept.
class TScratchDirectory {
 public:
  explicit TScratchDirectory(bool withImages = true);
  ~TScratchDirectory();
  TScratchDirectory(const TScratchDirectory&) = delete;
  TScratchDirectory& operator=(const TScratchDirectory&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};
