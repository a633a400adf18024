#pragma once
// One record per bus address with the unit's panel and its switch states, and the addresses that
// answered the last poll. Arrays count from 1, as the addresses, indicators and buttons do; entry 0 is
// unused.
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "panels/StatusFile.h"

class QLabel;
class TIndicator;
class TPanelButton;

constexpr int UnitSlotCount = 32;
constexpr int PolledAddressCount = 16;

enum TPanelButtonNumber { pbTitles = 1, pbAuxInput = 2, pbSettings = 3 };

struct TUnitPanel {
  QPointer<QWidget> Panel;  // owns every control below; null once destroyed
  std::array<QLabel*, 5> ChannelLabels{};
  std::array<TIndicator*, 21> Indicators{};
  std::array<uint8_t, 21> IndicatorOn{};
  std::array<uint8_t, 21> IndicatorPressed{};
  // 1 while the unit has not reported the indicator's register: shown grey, switched neither way.
  std::array<uint8_t, 21> IndicatorUnknown{};
  std::array<TPanelButton*, 4> Buttons{};
  std::array<uint8_t, 3> ButtonOn{};
  TStatusValues StatusValues{};

  int32_t& Status(TStatusPosition position) { return StatusValues[StatusIndex(position)]; }
};

extern std::array<TUnitPanel, UnitSlotCount + 1> UnitPanels;
extern std::array<int32_t, UnitSlotCount + 1> FoundUnits;
extern int FoundCount;

// Program-wide: they freeze the titles or auxiliary-input selection while titles or the input are on.
extern bool TitlesLocked;
extern bool AuxLocked;

// Tag of an indicator and of a panel button, and their decoding.
constexpr int IndicatorTag(int address, int indicator) { return address * 21 + indicator; }
constexpr int ButtonTag(int address, int button) { return address * 10 + button; }

// Back to the state at program start (tests).
void ResetUnitPanels();
