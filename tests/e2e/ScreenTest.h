#pragma once
// What every end-to-end test on a private X display shares: its own scratch directory and display, the
// program's screen, the program started on it, and on failure a record of what the screen showed and of
// the programs' traces and output, left in the build's test directory.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/EndToEndSupport.h"
#include "tests/e2e/ProgramScreen.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/XSession.h"

class TScreenTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Started and up on the display, its main window shown.
  TChildProcess& StartProgram();
  // The failure's record first (while the program still shows it), then SIGTERM.
  void EndProgram();

  // The link, trace and state of the simulator SimulatorNamed(dir, name, ...) started.
  std::string Tty(const std::string& name = "") const { return dir + "/tty" + name; }
  std::vector<TTracedFrame> Trace(const std::string& name = "") const {
    return ReadTrace(dir + "/trace" + name + ".jsonl");
  }

  TScratchDirectory scratch;
  const std::string dir = scratch.Path();
  std::unique_ptr<TXSession> x;
  std::unique_ptr<TProgramScreen> screen;
  std::unique_ptr<TChildProcess> program;  // kept until after TearDown, so a failure's picture shows it

 private:
  void RecordFailure();
  bool recorded_ = false;
};
