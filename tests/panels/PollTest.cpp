#include <gtest/gtest.h>

#include "link/Frame.h"
#include "panels/Form3.h"
#include "panels/UnitPanels.h"
#include "tests/support/VirtualRig.h"

namespace {

TEST(Poll, UnitsAt3And7GetTwoPanelsBesideTheRowCaptions) {
  TProgramRig rig;
  WriteFileBytes("COM.ini", "COM1\r\n");
  rig.AddUnit(3).LoadFactoryDefaults();
  rig.AddUnit(7).LoadFactoryDefaults();
  rig.Start();
  EXPECT_EQ(FoundCount, 2);
  EXPECT_EQ(FoundUnits[1], 3);
  EXPECT_EQ(FoundUnits[2], 7);
  EXPECT_EQ(UnitPanels[3].Panel->x(), 80);
  EXPECT_EQ(UnitPanels[7].Panel->x(), 171);
  EXPECT_EQ(rig.Form1().Width(), 269);
  EXPECT_TRUE(rig.MessageTexts().empty()) << rig.MessageTexts()[0];
}

}  // namespace
