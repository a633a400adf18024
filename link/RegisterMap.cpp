#include "link/RegisterMap.h"

#include <stdexcept>
#include <string>

namespace {

constexpr uint8_t BaseOf(int channel) { return uint8_t(0x40 + 0x20 * (channel - 1)); }

// Each row's register, in row order; rows 2 and 3 share the logo register and differ in the bit.
constexpr std::array<TChannelRegister, 5> RowRegisters = {
    regColourBars, regLogoEnable, regLogoEnable, regTitles, regAuxInput};

constexpr std::array<uint8_t, IndicatorCount + 1> MakeIndicatorRegisters() {
  std::array<uint8_t, IndicatorCount + 1> table{};
  for (int n = 1; n <= IndicatorCount; ++n)
    table[n] = uint8_t(BaseOf((n - 1) % IndicatorsPerRow + 1) + RowRegisters[(n - 1) / IndicatorsPerRow]);
  return table;
}

struct TNodeEntry {
  std::optional<uint8_t> Register;
  TSettingsNodeKind Kind;
};

// The seven parameters under each channel heading, in tree order.
constexpr std::array<TNodeEntry, 7> ChannelNodes = {{
    {regLumaChromaDelay, nkScale},
    {regBrightness, nkScale},
    {regContrast, nkScale},
    {regSaturation, nkScale},
    {regAgc, nkCheckBox},
    {regVtr, nkCheckBox},
    {regSubstitution, nkSubstitutionCheckBox},
}};

constexpr std::array<TNodeEntry, SettingsTreeNodeCount> MakeSettingsTree() {
  std::array<TNodeEntry, SettingsTreeNodeCount> tree = {{
      {std::nullopt, nkGroup},  // "Логотип1"
      {regLogo1X, nkScale},
      {regLogo1Y, nkScale},
      {regLogo1Choice, nkScale},
      {std::nullopt, nkGroup},  // "Логотип2"
      {regLogo2X, nkScale},
      {regLogo2Y, nkScale},
      {regLogo2Choice, nkScale},
      {regLineDelay, nkScale},
  }};
  for (int k = 1; k <= ChannelCount; ++k) {
    const int heading = SettingsTreeChannelHeading(k);
    tree[heading] = {std::nullopt, nkGroup};
    for (size_t i = 0; i < ChannelNodes.size(); ++i)
      tree[heading + 1 + i] = {uint8_t(BaseOf(k) + *ChannelNodes[i].Register), ChannelNodes[i].Kind};
  }
  return tree;
}

constexpr std::array<TNodeEntry, SettingsTreeNodeCount> SettingsTree = MakeSettingsTree();

template <typename T, typename F>
constexpr std::array<T, SettingsTreeNodeCount> Column(F field) {
  std::array<T, SettingsTreeNodeCount> column{};
  for (int i = 0; i < SettingsTreeNodeCount; ++i) column[i] = field(SettingsTree[i]);
  return column;
}

void CheckIndicator(int indicator) {
  if (indicator < 1 || indicator > IndicatorCount)
    throw std::out_of_range("indicator " + std::to_string(indicator) + " is not in 1.." +
                            std::to_string(IndicatorCount));
}

}  // namespace

const std::array<uint8_t, IndicatorCount + 1> IndicatorRegisters = MakeIndicatorRegisters();

const std::array<std::optional<uint8_t>, SettingsTreeNodeCount> SettingsTreeRegisters =
    Column<std::optional<uint8_t>>([](const TNodeEntry& e) { return e.Register; });

const std::array<TSettingsNodeKind, SettingsTreeNodeCount> SettingsTreeKinds =
    Column<TSettingsNodeKind>([](const TNodeEntry& e) { return e.Kind; });

uint8_t ChannelBase(int channel) {
  if (channel < 1 || channel > ChannelCount)
    throw std::out_of_range("channel " + std::to_string(channel) + " is not in 1.." +
                            std::to_string(ChannelCount));
  return BaseOf(channel);
}

uint8_t ChannelRegister(int channel, TChannelRegister offset) {
  return uint8_t(ChannelBase(channel) + offset);
}

TIndicatorRow IndicatorRow(int indicator) {
  CheckIndicator(indicator);
  return TIndicatorRow((indicator - 1) / IndicatorsPerRow + 1);
}

int IndicatorChannel(int indicator) {
  CheckIndicator(indicator);
  return (indicator - 1) % IndicatorsPerRow + 1;
}

std::optional<uint8_t> IndicatorBitMask(int indicator) {
  switch (IndicatorRow(indicator)) {
    case irColourBars:
    case irLogo1:
      return 0x01;
    case irLogo2:
      return 0x02;
    case irTitles:
    case irAuxInput:
      break;
  }
  return std::nullopt;
}

uint8_t SwitchedIndicatorValue(int indicator, uint8_t valueRead, bool on) {
  const std::optional<uint8_t> bit = IndicatorBitMask(indicator);
  uint8_t value = valueRead & 0x03;
  if (bit) value = on ? uint8_t(value | *bit) : uint8_t(value & ~*bit);
  return value;
}

std::optional<uint8_t> SettingsTreeDescriptor(int index) {
  if (index < 0 || index >= SettingsTreeNodeCount)
    throw std::out_of_range("settings node " + std::to_string(index) + " is not in 0.." +
                            std::to_string(SettingsTreeNodeCount - 1));
  if (SettingsTreeKinds[index] != nkScale) return std::nullopt;
  return DescriptorRegister(*SettingsTreeRegisters[index]);
}
