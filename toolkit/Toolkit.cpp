#include "toolkit/Toolkit.h"

#include <cstdio>

const char* const ApplicationTitle = "ORVEL Control";

namespace {
TToolkit* current = nullptr;
}

TToolkit& Toolkit() {
  if (!current) {
    std::fputs("no toolkit binding installed\n", stderr);
    std::terminate();
  }
  return *current;
}

void SetToolkit(TToolkit* toolkit) { current = toolkit; }

bool ToolkitInstalled() { return current != nullptr; }

void ShowException(const std::exception& error) {
  Toolkit().MessageBox(error.what(), ApplicationTitle, TMessageKind::mkError);
}

void ShowException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    Toolkit().MessageBox("Unknown error", ApplicationTitle, TMessageKind::mkError);
  }
}

void Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    // An error inside the error display itself must not escape into the event loop either.
    try {
      ShowException(std::current_exception());
    } catch (...) {
    }
  }
}
