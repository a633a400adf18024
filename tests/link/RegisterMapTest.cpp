#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "link/RegisterMap.h"

namespace {

TEST(RegisterMap, ChannelRegistersLieAtTheChannelBases) {
  EXPECT_EQ(ChannelRegister(1, regLumaChromaDelay), 0x40);
  EXPECT_EQ(ChannelRegister(2, regLogoEnable), 0x6C);
  EXPECT_EQ(ChannelRegister(3, regBrightness), 0x82);
  EXPECT_EQ(ChannelRegister(4, regTitles), 0xB4);
  EXPECT_EQ(DescriptorRegister(ChannelRegister(3, regSaturation)), 0x87);
  EXPECT_EQ(DescriptorRegister(regLineDelay), 0x15);
  EXPECT_THROW(ChannelBase(0), std::out_of_range);
  EXPECT_THROW(ChannelRegister(5, regAgc), std::out_of_range);
}

TEST(RegisterMap, IndicatorTableMatchesTheUnitsRegisterCodes) {
  const std::vector<uint8_t> expected = {0x00, 0x4E, 0x6E, 0x8E, 0xAE, 0x4C, 0x6C, 0x8C, 0xAC, 0x4C, 0x6C,
                                         0x8C, 0xAC, 0x54, 0x74, 0x94, 0xB4, 0x52, 0x72, 0x92, 0xB2};
  EXPECT_EQ(std::vector<uint8_t>(IndicatorRegisters.begin(), IndicatorRegisters.end()), expected);
}

TEST(RegisterMap, IndicatorRowChannelAndBit) {
  struct {
    int indicator;
    TIndicatorRow row;
    int channel;
    std::optional<uint8_t> bit;
  } const cases[] = {
      {1, irColourBars, 1, 0x01},      {4, irColourBars, 4, 0x01},
      {5, irLogo1, 1, 0x01},           {8, irLogo1, 4, 0x01},
      {9, irLogo2, 1, 0x02},           {12, irLogo2, 4, 0x02},
      {13, irTitles, 1, std::nullopt}, {16, irTitles, 4, std::nullopt},
      {17, irAuxInput, 1, std::nullopt}, {20, irAuxInput, 4, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.indicator);
    EXPECT_EQ(IndicatorRow(c.indicator), c.row);
    EXPECT_EQ(IndicatorChannel(c.indicator), c.channel);
    EXPECT_EQ(IndicatorBitMask(c.indicator), c.bit);
  }
  // The table and the row/channel rule agree for every indicator.
  const TChannelRegister rowRegister[] = {regColourBars, regLogoEnable, regLogoEnable, regTitles,
                                          regAuxInput};
  for (int n = 1; n <= IndicatorCount; ++n)
    EXPECT_EQ(IndicatorRegisters[n], ChannelRegister(IndicatorChannel(n), rowRegister[IndicatorRow(n) - 1]))
        << "indicator " << n;
  EXPECT_THROW(IndicatorRow(0), std::out_of_range);
  EXPECT_THROW(IndicatorChannel(21), std::out_of_range);
  EXPECT_THROW(SwitchedIndicatorValue(-1, 0, true), std::out_of_range);
}

TEST(RegisterMap, SwitchingKeepsOnlyTheTwoLowBitsAndChangesTheIndicatorsOwn) {
  EXPECT_EQ(SwitchedIndicatorValue(10, 0x01, true), 0x03);   // logo 2 on K2 next to logo 1
  EXPECT_EQ(SwitchedIndicatorValue(10, 0x07, false), 0x01);
  EXPECT_EQ(SwitchedIndicatorValue(3, 0xFC, true), 0x01);    // colour bars on K3
  EXPECT_EQ(SwitchedIndicatorValue(1, 0xFF, false), 0x02);
  EXPECT_EQ(SwitchedIndicatorValue(6, 0x02, true), 0x03);    // logo 1 keeps logo 2's bit
  EXPECT_EQ(SwitchedIndicatorValue(6, 0x03, false), 0x02);
  EXPECT_EQ(SwitchedIndicatorValue(12, 0x02, true), 0x02);   // already on stays on
  // Titles and auxiliary input have no bit of their own: the register's low bits go back as read.
  EXPECT_EQ(SwitchedIndicatorValue(15, 0xFD, true), 0x01);
  EXPECT_EQ(SwitchedIndicatorValue(20, 0x02, false), 0x02);
}

TEST(RegisterMap, SettingsTreeNodesAndTheirKinds) {
  const int groups[] = {0, 4, 9, 17, 25, 33};
  for (int g : groups) {
    EXPECT_EQ(SettingsTreeKinds[g], nkGroup) << g;
    EXPECT_FALSE(SettingsTreeRegisters[g].has_value()) << g;
  }
  std::vector<int> codes;
  for (int i = 0; i < SettingsTreeNodeCount; ++i)
    if (SettingsTreeRegisters[i]) codes.push_back(*SettingsTreeRegisters[i]);
  const std::vector<int> expected = {
      0x0C, 0x0E, 0x08, 0x10, 0x12, 0x0A, 0x14,            // logos and line delay
      0x40, 0x42, 0x44, 0x46, 0x48, 0x4A, 0x50, 0x60, 0x62, 0x64, 0x66, 0x68, 0x6A, 0x70,
      0x80, 0x82, 0x84, 0x86, 0x88, 0x8A, 0x90, 0xA0, 0xA2, 0xA4, 0xA6, 0xA8, 0xAA, 0xB0};
  EXPECT_EQ(codes, expected);  // so only the six headings lack a register

  for (int k = 1; k <= ChannelCount; ++k) {
    const int heading = SettingsTreeChannelHeading(k);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(SettingsTreeKinds[heading + i], nkScale) << heading + i;
    EXPECT_EQ(SettingsTreeKinds[heading + 5], nkCheckBox);
    EXPECT_EQ(SettingsTreeKinds[heading + 6], nkCheckBox);
    EXPECT_EQ(SettingsTreeKinds[heading + 7], nkSubstitutionCheckBox);
  }
  for (int i : {1, 2, 3, 5, 6, 7, 8}) EXPECT_EQ(SettingsTreeKinds[i], nkScale) << i;
}

TEST(RegisterMap, OnlyScaleNodesHaveADescriptor) {
  EXPECT_EQ(SettingsTreeRegisters[29], 0x86);  // K3 saturation
  EXPECT_EQ(SettingsTreeDescriptor(29), 0x87);
  EXPECT_EQ(SettingsTreeRegisters[40], 0xB0);  // K4 substitution
  EXPECT_EQ(SettingsTreeDescriptor(40), std::nullopt);
  EXPECT_EQ(SettingsTreeDescriptor(3), 0x09);  // logo 1 choice
  EXPECT_EQ(SettingsTreeDescriptor(14), std::nullopt);
  EXPECT_EQ(SettingsTreeDescriptor(9), std::nullopt);
  EXPECT_THROW(SettingsTreeDescriptor(41), std::out_of_range);
  EXPECT_THROW(SettingsTreeDescriptor(-1), std::out_of_range);
}

}  // namespace
