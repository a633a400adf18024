#include "tests/e2e/ScreenTest.h"

#include <filesystem>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

void TScreenTest::SetUp() {
  try {
    x = std::make_unique<TXSession>(dir);
  } catch (const EXSession& e) {
    GTEST_FAIL() << e.what();
  }
  screen = std::make_unique<TProgramScreen>(*x, dir);
}

void TScreenTest::TearDown() {
  RecordFailure();
  if (screen) RecordProperty("incidental_reports", screen->IncidentalReports);
}

void TScreenTest::RecordFailure() {
  if (!HasFailure() || !screen || recorded_) return;
  recorded_ = true;
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const fs::path record = fs::path(BinDir()) / ".." / "tests" /
                          (std::string(test->test_suite_name()) + "." + test->name() + "-failure");
  std::error_code ignored;
  fs::remove_all(record, ignored);
  fs::create_directories(record, ignored);
  screen->Screenshot((record / "screen.png").string());
  for (auto& entry : fs::directory_iterator(dir, ignored))
    if (entry.is_regular_file() && entry.path().filename() != "COM.ini.tmp")
      fs::copy_file(entry.path(), record / entry.path().filename(), fs::copy_options::overwrite_existing, ignored);
}

TChildProcess& TScreenTest::StartProgram() {
  program = x->StartClient(screen->Program(), [&] { return screen->MainWindow(0ms) != 0; });
  return *program;
}

void TScreenTest::EndProgram() {
  RecordFailure();
  Terminate(*program);
}
