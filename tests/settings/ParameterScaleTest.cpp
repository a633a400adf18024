// The slider scale: halves to the even neighbour, differences of unsigned bytes taken as signed, and
// values held within the descriptor's range.
#include <gtest/gtest.h>

#include "settings/ParameterScale.h"

namespace {

TEST(ParameterScale, HalvesRoundToTheEvenNeighbour) {
  const std::pair<double, int> cases[] = {{2.5, 2}, {3.5, 4}, {4.5, 4}, {5.5, 6}, {0.5, 0}, {-0.5, 0},
                                          {-1.5, -2}, {2.49, 2}, {2.51, 3}, {-2.6, -3}, {7.0, 7}};
  for (auto [x, rounded] : cases) EXPECT_EQ(RoundHalfEven(x), rounded) << x;
}

TEST(ParameterScale, PositionsAndValuesStayWithinTheDescriptor) {
  const TParameterScale tenByTwo{0, 10, 2};
  EXPECT_EQ(tenByTwo.Top(), 5);
  EXPECT_EQ(tenByTwo.PositionOf(6), 3);
  EXPECT_EQ(tenByTwo.PositionOf(200), 5);  // above the range: the top
  EXPECT_EQ((TParameterScale{0, 11, 2}.Top()), 6);
  EXPECT_EQ((TParameterScale{0, 11, 2}.ValueAt(6)), 11);  // the top stands for 12: held at 11
  EXPECT_EQ((TParameterScale{0, 9, 2}.Top()), 4);
  EXPECT_EQ((TParameterScale{250, 255, 3}.ValueAt(2)), 255);  // 256 would wrap to 0
  EXPECT_EQ((TParameterScale{20, 40, 5}.PositionOf(3)), 0);   // below the range: 3 - 20 is negative
  for (TParameterScale odd : {TParameterScale{0, 0, 0}, TParameterScale{255, 0, 0}, TParameterScale{10, 5, 1}}) {
    EXPECT_FALSE(odd.Steppable());
    EXPECT_EQ(odd.Top(), 0);
    EXPECT_EQ(odd.PositionOf(128), 0);
  }
}

}  // namespace
