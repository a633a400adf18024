#pragma once
// Text typed by the operator turned into a number, with the toolkit's own error for text that is none.
#include <cstdint>
#include <string>

// A decimal integer, optionally signed, with blanks allowed around it; anything else, and a number
// outside 32 bits, raises EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);
