// The status-file reader against any bytes: the values it takes are exactly the tokens the reading rule
// finds, a bad token leaves every value as it was and names the file, the writer's line always reads
// back to the same values, and a file reads as its text does.
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "panels/StatusFile.h"
#include "toolkit/Exceptions.h"

namespace {

std::string Show(const TStatusValues& v) {
  std::string text;
  for (int32_t x : v) text += std::to_string(x) + " ";
  return text;
}

// A token as the rule wants it: at most 32 characters, an optional sign, decimal digits, within 32 bits.
std::optional<int32_t> TokenValue(std::string_view token) {
  if (token.size() > 32) return std::nullopt;
  bool negative = false;
  if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
    negative = token[0] == '-';
    token.remove_prefix(1);
  }
  if (token.empty()) return std::nullopt;
  for (char c : token)
    if (c < '0' || c > '9') return std::nullopt;
  // 32 digits overflow 64 bits; from_chars says so instead of wrapping.
  uint64_t magnitude = 0;
  if (std::from_chars(token.data(), token.data() + token.size(), magnitude).ec != std::errc()) return std::nullopt;
  if (magnitude > (negative ? uint64_t(INT32_MAX) + 1 : uint64_t(INT32_MAX))) return std::nullopt;
  return int32_t(negative ? -int64_t(magnitude) : int64_t(magnitude));
}

// The reading rule, token by token; nullopt when a token it reaches is bad.
std::optional<TStatusValues> Expected(std::string_view text, TStatusValues values) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  size_t at = 0;
  for (int p = 0; at < text.size() && p < StatusValueCount; ++p) {
    while (at < text.size() && blank(text[at])) ++at;
    if (at == text.size()) {  // blanks after the last value give one more 0
      values[p] = 0;
      break;
    }
    size_t end = at;
    while (end < text.size() && !blank(text[end])) ++end;
    const auto value = TokenValue(text.substr(at, end - at));
    if (!value) return std::nullopt;
    values[p] = *value;
    at = end;
  }
  return values;
}

// Distinct values in memory before each read, so a position the text does not reach shows.
const TStatusValues Before = {-7, 70000, 3, -2147483647 - 1, 2147483647, 9, 11, -1, 5, 77};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterScratchDirectory("orvel-fuzz-statusfile");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto expected = Expected(text, Before);

  TStatusValues got = Before;
  std::optional<std::string> error;
  try {
    ParseStatusText(text, got);
  } catch (const EInOutError& e) {
    error = e.what();
  }
  if (error) {
    FUZZ_CHECK(!expected, "refused a good text [" << FuzzHex(text) << "]: " << *error);
    FUZZ_CHECK(*error == InvalidNumericInput, "unexpected error text: " << *error);
    FUZZ_CHECK(got == Before, "values touched by a failed read: " << Show(got));
  } else {
    FUZZ_CHECK(expected, "took a bad token in [" << FuzzHex(text) << "] as " << Show(got));
    FUZZ_CHECK(got == *expected, "[" << FuzzHex(text) << "] read as " << Show(got) << " instead of "
                                     << Show(*expected));
    // Whatever was read, the writer's line reads back to exactly it, over any values in memory.
    const std::string line = FormatStatusLine(got);
    TStatusValues back;
    back.fill(123456);
    ParseStatusText(line, back);
    FUZZ_CHECK(back == got, "the written line \"" << line << "\" reads back as " << Show(back));
  }

  // The file reader reads the same bytes the same way, and names the file when it refuses them.
  {
    std::ofstream("Status3.log", std::ios::binary | std::ios::trunc) << text;
  }
  TStatusValues fromFile = Before;
  std::optional<std::string> fileError;
  try {
    LoadStatusValues(3, fromFile);
  } catch (const EInOutError& e) {
    fileError = e.what();
  }
  FUZZ_CHECK(fromFile == got, "the file read as " << Show(fromFile) << ", the text as " << Show(got));
  FUZZ_CHECK(fileError.has_value() == error.has_value(),
             "the file and the text disagree on an error: " << fileError.value_or("none"));
  if (fileError) {
    FUZZ_CHECK(*fileError == std::string("Status3.log: ") + InvalidNumericInput,
               "the file's error does not name it: " << *fileError);
    return 0;
  }
  // Written back, the file holds exactly the writer's line, reads back to the same values, and nothing
  // else is left in the directory.
  SaveStatusValues(3, got);
  std::ifstream in("Status3.log", std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  FUZZ_CHECK(written == FormatStatusLine(got), "the file holds [" << FuzzHex(written) << "]");
  TStatusValues reread = Before;
  LoadStatusValues(3, reread);
  FUZZ_CHECK(reread == got, "the saved file reads back as " << Show(reread));
  FUZZ_CHECK(DirectoryEntries() == std::vector<std::string>{"Status3.log"},
             "left in the directory: " << DirectoryEntries().size() << " entries");
  return 0;
}
