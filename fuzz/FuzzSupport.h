#pragma once
// What every fuzz target shares: a check that stops the run with the broken invariant's text (libFuzzer
// then keeps the input that broke it), and a private working directory for the targets that read files.
#include <sstream>
#include <string>
#include <vector>

[[noreturn]] void FuzzFail(const std::string& what, const char* file, int line);

// FUZZ_CHECK(condition, "text" << value ...): the text says which invariant broke and with what.
#define FUZZ_CHECK(condition, message)                     \
  do {                                                     \
    if (!(condition)) {                                    \
      std::ostringstream fuzzText_;                        \
      fuzzText_ << message;                                \
      FuzzFail(fuzzText_.str(), __FILE__, __LINE__);       \
    }                                                      \
  } while (false)

// Makes a new empty directory the working directory for the rest of the process: in memory
// (/dev/shm) where there is one, so that the fsync of every replaced file costs nothing. Corpus and
// artifact paths given to such a target must therefore be absolute.
std::string EnterScratchDirectory(const char* name);

// The names in the working directory, sorted.
std::vector<std::string> DirectoryEntries();

// The bytes as upper-case hex, for the failure texts.
std::string FuzzHex(const std::string& bytes);
