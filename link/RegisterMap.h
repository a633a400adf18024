#pragma once
// The unit's registers: one byte each, named by a one-byte code. Adjustable values keep their four-byte
// descriptor (minimum, maximum, default, step) at the code one above their own.
#include <array>
#include <cstdint>
#include <optional>

// Unit-wide registers.
enum TUnitRegister : uint8_t {
  regLogo1Choice = 0x08,
  regLogo2Choice = 0x0A,
  regLogo1X = 0x0C,
  regLogo1Y = 0x0E,
  regLogo2X = 0x10,
  regLogo2Y = 0x12,
  regLineDelay = 0x14,
};

// Channel registers, as offsets from the channel's base.
enum TChannelRegister : uint8_t {
  regLumaChromaDelay = 0x00,
  regBrightness = 0x02,
  regContrast = 0x04,
  regSaturation = 0x06,
  regAgc = 0x08,        // 1 on, 0 off
  regVtr = 0x0A,        // 1 on, 0 off
  regLogoEnable = 0x0C, // bit 0 logo 1, bit 1 logo 2
  regColourBars = 0x0E, // bit 0
  regSubstitution = 0x10,
  regAuxInput = 0x12,
  regTitles = 0x14,
};

constexpr int ChannelCount = 4;

// Base of channel K1..K4: 0x40, 0x60, 0x80, 0xA0. Raises std::out_of_range for any other channel.
uint8_t ChannelBase(int channel);
// The code of a channel register: ChannelRegister(3, regBrightness) is 0x82.
uint8_t ChannelRegister(int channel, TChannelRegister offset);

// Where the descriptor of the adjustable value at `code` lives.
constexpr uint8_t DescriptorRegister(uint8_t code) { return uint8_t(code + 1); }

// ---- The switch matrix of a unit's panel: indicators 1..20, five rows of four channels.

constexpr int IndicatorCount = 20;
constexpr int IndicatorsPerRow = ChannelCount;

enum TIndicatorRow {
  irColourBars = 1,
  irLogo1 = 2,
  irLogo2 = 3,
  irTitles = 4,
  irAuxInput = 5,
};

// Entry n is the register of indicator n; entry 0 is 0 and unused.
extern const std::array<uint8_t, IndicatorCount + 1> IndicatorRegisters;

// These raise std::out_of_range for an indicator outside 1..20.
TIndicatorRow IndicatorRow(int indicator);
int IndicatorChannel(int indicator);  // 1..4
// The bit the indicator switches (0x01 for rows 1 and 2, 0x02 for row 3); none for the titles and
// auxiliary-input rows, whose registers hold a whole byte, 1 or 0.
std::optional<uint8_t> IndicatorBitMask(int indicator);

// The byte a click writes back after reading `valueRead` from the indicator's register: only bits 0 and 1
// of what was read survive, then the indicator's bit is set (on) or cleared. The titles and auxiliary-input
// rows have no bit of their own, so for them the two low bits go back unchanged.
uint8_t SwitchedIndicatorValue(int indicator, uint8_t valueRead, bool on);

// ---- The settings tree: 41 nodes by absolute index, depth first over the whole tree.

constexpr int SettingsTreeNodeCount = 41;

enum TSettingsNodeKind {
  nkGroup,                 // a heading, no register
  nkScale,                 // adjustable value with a descriptor
  nkCheckBox,              // on/off byte
  nkSubstitutionCheckBox,  // on/off byte, shown with the explanation of the substitution
};

// The register of each node; none for group nodes.
extern const std::array<std::optional<uint8_t>, SettingsTreeNodeCount> SettingsTreeRegisters;
extern const std::array<TSettingsNodeKind, SettingsTreeNodeCount> SettingsTreeKinds;

// Index of channel k's heading in the tree (9, 17, 25, 33); its seven parameters follow it.
constexpr int SettingsTreeChannelHeading(int channel) { return 9 + 8 * (channel - 1); }

// The descriptor register of a node: the code + 1 for a scale node, none for groups and check boxes,
// which have no descriptor. Raises std::out_of_range for an index outside 0..40.
std::optional<uint8_t> SettingsTreeDescriptor(int index);
