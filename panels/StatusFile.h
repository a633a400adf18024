#pragma once
// "Status<n>.log": the titles and auxiliary-input selections of the unit at address n, which the unit
// cannot report back. One line of ten decimal integers, each followed by a space, then CR LF.
// Every failure raises EInOutError; the values in memory and the file on disk are then as they were.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr int StatusValueCount = 10;
using TStatusValues = std::array<int32_t, StatusValueCount>;

// Positions in the file, counted from 1 as its layout does. Position p is held at index p - 1.
enum TStatusPosition {
  spTitlesK1 = 1,  // the titles row's channel selections, indicators 13..16
  spTitlesK2,
  spTitlesK3,
  spTitlesK4,
  spAuxK1,  // the auxiliary-input row's channel selections, indicators 17..20
  spAuxK2,
  spAuxK3,
  spAuxK4,
  spTitlesButton,  // on when not 0
  spAuxButton,     // on when not 0
};

constexpr size_t StatusIndex(TStatusPosition position) { return size_t(position) - 1; }
// Where the selection of indicator 13..20 is kept.
constexpr TStatusPosition StatusPositionOfIndicator(int indicator) { return TStatusPosition(indicator - 12); }

// The text of the error for a token that is not a 32-bit decimal integer.
extern const char* const InvalidNumericInput;

// "Status" + the address in decimal + ".log".
std::string StatusFileName(int address);

// The reading rule: blanks (codes up to 0x20) separate the values; a token is at most 32 characters, a
// decimal integer with an optional sign that fits in 32 bits; trailing blanks give one more 0; positions
// the text does not reach keep their values; what follows the tenth value is not looked at. A bad token
// raises EInOutError(InvalidNumericInput) and leaves `values` untouched.
void ParseStatusText(std::string_view text, TStatusValues& values);
// The same over a file; a bad token raises EInOutError("<path>: Invalid numeric input"), and a file that
// cannot be opened or read raises EInOutError with the system's reason.
void ReadStatusFile(const std::string& path, TStatusValues& values);

// Creates the file empty when it does not exist; an existing file is left as it is.
void CreateStatusFileIfMissing(const std::string& path);

// The line the writing rule produces, CR LF included.
std::string FormatStatusLine(const TStatusValues& values);
// Replaces the file with that line. The old file is replaced only once the new one is complete on disk.
void WriteStatusFile(const std::string& path, const TStatusValues& values);

// The file of the unit at `address` in the working directory: read it when it exists, otherwise create it
// empty and leave `values` as they are.
void LoadStatusValues(int address, TStatusValues& values);
void SaveStatusValues(int address, const TStatusValues& values);
