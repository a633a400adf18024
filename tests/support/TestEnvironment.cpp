#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QtGlobal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

void EnsureApplication() {
  if (QApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The offscreen platform warns about window hints it does not implement; that says nothing about the
  // program.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains("propagateSizeHints") || message.contains("XDG_RUNTIME_DIR")) return;
    qt_message_output(type, context, message);
  });
  static int argc = 1;
  static char name[] = "orvel-tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

std::string BinDir() {
  const char* dir = std::getenv("ORVEL_BIN_DIR");
  return dir && *dir ? dir : ORVEL_BIN_DIR;
}

std::string SourceDir() {
  const char* dir = std::getenv("ORVEL_SOURCE_DIR");
  return dir && *dir ? dir : ORVEL_SOURCE_DIR;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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

TScratchDirectory::TScratchDirectory(bool withImages) {
  previous_ = fs::current_path().string();
  std::string pattern = (fs::temp_directory_path() / "orvel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch directory");
  path_ = pattern;
  if (withImages) fs::copy(fs::path(BinDir()) / "Bmp", fs::path(path_) / "Bmp", fs::copy_options::recursive);
  fs::current_path(path_);
}

TScratchDirectory::~TScratchDirectory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
  fs::remove_all(path_, ignored);
}
