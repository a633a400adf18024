// Typed numbers: what converts, and the error text for what does not.
#include <gtest/gtest.h>

#include "toolkit/Convert.h"
#include "toolkit/Exceptions.h"

namespace {

TEST(StrToInt, DecimalNumbersWithASignAndBlanksAround) {
  EXPECT_EQ(StrToInt("5"), 5);
  EXPECT_EQ(StrToInt("016"), 16);
  EXPECT_EQ(StrToInt("-1"), -1);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("  12\t"), 12);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

TEST(StrToInt, AnythingElseNamesTheTextAsTyped) {
  for (const std::string& text : {std::string(""), std::string("  "), std::string("abc"), std::string("5x"),
                                  std::string("5 5"), std::string("+"), std::string("-"), std::string("+-5"),
                                  std::string("0x10"), std::string("1e3"), std::string("2147483648"),
                                  std::string("99999999999999999999"), std::string("５")}) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "'" << text << "' converted";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), "'" + text + "' is not a valid integer value");
    }
  }
  EXPECT_THROW(StrToInt(std::string("5\0", 2)), EConvertError);
}

}  // namespace
