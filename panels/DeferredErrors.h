#pragma once
// Errors that must not stop an operation half way: it goes on with what it has, and the operator is told
// once it is over (or, at the latest, when this object goes away). Each distinct text is shown once.
#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "toolkit/Toolkit.h"

class TDeferredErrors {
 public:
  TDeferredErrors() = default;
  TDeferredErrors(const TDeferredErrors&) = delete;
  TDeferredErrors& operator=(const TDeferredErrors&) = delete;
  ~TDeferredErrors() { Guarded([this] { Report(); }); }

  // Keeps `text` for later; an empty text means there was no error.
  void Note(const std::string& text) {
    if (!text.empty() && std::find(texts_.begin(), texts_.end(), text) == texts_.end()) texts_.push_back(text);
  }
  // Runs `step`; what it raises is kept instead of ending the operation.
  template <typename F>
  void Try(F&& step) {
    try {
      step();
    } catch (const std::exception& e) {
      Note(e.what());
    }
  }
  void Report() {
    std::vector<std::string> texts;
    texts.swap(texts_);
    for (auto& text : texts) Toolkit().MessageBox(text, ApplicationTitle, TMessageKind::mkError);
  }

 private:
  std::vector<std::string> texts_;
};
