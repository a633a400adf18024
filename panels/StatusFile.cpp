#include "panels/StatusFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "toolkit/AtomicFile.h"
#include "toolkit/DataFiles.h"
#include "toolkit/Exceptions.h"

const char* const InvalidNumericInput = "Invalid numeric input";

namespace {

constexpr size_t MaxTokenLength = 32;
constexpr int EndOfText = -1;

[[noreturn]] void FailWithSystemReason(const std::string& path, int error) {
  throw EInOutError(path + ": " + std::strerror(error), error);
}

[[noreturn]] void FailInvalidNumber() { throw EInOutError(InvalidNumericInput); }

int32_t ToInt32(const std::string& token) {
  size_t i = 0;
  bool negative = false;
  if (token[0] == '+' || token[0] == '-') {
    negative = token[0] == '-';
    i = 1;
  }
  if (i == token.size()) FailInvalidNumber();
  const int64_t limit = negative ? int64_t(INT32_MAX) + 1 : int64_t(INT32_MAX);
  int64_t value = 0;
  for (; i < token.size(); ++i) {
    if (token[i] < '0' || token[i] > '9') FailInvalidNumber();
    value = value * 10 + (token[i] - '0');
    // Never wrap: a number the values cannot hold is as wrong as one that is not a number.
    if (value > limit) FailInvalidNumber();
  }
  return int32_t(negative ? -value : value);
}

// `next()` yields the next byte (0..255) or EndOfText.
template <typename Next>
void ParseStatus(Next next, TStatusValues& values) {
  TStatusValues read = values;
  int c = next();
  for (int p = 1; c != EndOfText && p <= StatusValueCount; ++p) {
    while (c != EndOfText && c <= 0x20) c = next();
    int32_t value = 0;
    if (c != EndOfText) {
      std::string token;
      for (; c != EndOfText && c > 0x20; c = next()) {
        // Reading only the first 32 characters would turn the rest into values that are not in the file.
        if (token.size() == MaxTokenLength) FailInvalidNumber();
        token.push_back(char(c));
      }
      value = ToInt32(token);
    }
    read[p - 1] = value;
  }
  values = read;
}

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

void ParseStatusFile(std::FILE* f, const std::string& path, TStatusValues& values) {
  try {
    ParseStatus(
        [&]() -> int {
          int c = std::getc(f);
          if (c == EOF && std::ferror(f)) FailWithSystemReason(path, errno ? errno : EIO);
          return c == EOF ? EndOfText : c;
        },
        values);
  } catch (const EInOutError& e) {
    // With one file per unit, the operator must be told which one holds the bad number.
    if (e.ErrorCode == 0 && std::strcmp(e.what(), InvalidNumericInput) == 0)
      throw EInOutError(path + ": " + InvalidNumericInput);
    throw;
  }
}

}  // namespace

std::string StatusFileName(int address) { return "Status" + std::to_string(address) + ".log"; }

void ParseStatusText(std::string_view text, TStatusValues& values) {
  size_t at = 0;
  ParseStatus([&]() -> int { return at < text.size() ? static_cast<unsigned char>(text[at++]) : EndOfText; },
              values);
}

void ReadStatusFile(const std::string& path, TStatusValues& values) {
  errno = 0;
  TFile f(std::fopen(path.c_str(), "rb"));
  if (!f) FailWithSystemReason(path, errno);
  ParseStatusFile(f.get(), path, values);
}

void CreateStatusFileIfMissing(const std::string& path) {
  // Append mode creates a missing file and never truncates one that appeared meanwhile.
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) FailWithSystemReason(path, errno);
  if (std::fclose(f) != 0) FailWithSystemReason(path, errno);
}

std::string FormatStatusLine(const TStatusValues& values) {
  std::string line;
  for (int32_t value : values) line += std::to_string(value) + " ";
  return line + "\r\n";
}

void WriteStatusFile(const std::string& path, const TStatusValues& values) {
  WriteFileReplacing(path, FormatStatusLine(values));
}

void LoadStatusValues(int address, TStatusValues& values) {
  const std::string path = ResolveDataFile(StatusFileName(address));
  errno = 0;
  TFile f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    const int error = errno;
    if (error != ENOENT) FailWithSystemReason(path, error);
    CreateStatusFileIfMissing(path);
    return;
  }
  ParseStatusFile(f.get(), path, values);
}

void SaveStatusValues(int address, const TStatusValues& values) {
  WriteStatusFile(ResolveDataFile(StatusFileName(address)), values);
}
