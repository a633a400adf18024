#include "toolkit/Convert.h"

#include <charconv>

#include "toolkit/Exceptions.h"

namespace {
bool Blank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

int32_t StrToInt(const std::string& text) {
  size_t first = 0, last = text.size();
  while (first < last && Blank(text[first])) ++first;
  while (last > first && Blank(text[last - 1])) --last;
  // from_chars takes a minus but no plus.
  size_t digits = first;
  if (digits < last && text[digits] == '+' && digits + 1 < last && text[digits + 1] != '-') ++digits;
  int32_t value = 0;
  const char* end = text.data() + last;
  const auto [stop, error] = std::from_chars(text.data() + digits, end, value, 10);
  if (first == last || error != std::errc() || stop != end)
    throw EConvertError("'" + text + "' is not a valid integer value");
  return value;
}
