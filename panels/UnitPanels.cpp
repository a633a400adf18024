#include "panels/UnitPanels.h"


std::array<TUnitPanel, UnitSlotCount + 1> UnitPanels;
std::array<int32_t, UnitSlotCount + 1> FoundUnits{};
int FoundCount = 0;
bool TitlesLocked = false;
bool AuxLocked = false;

void ResetUnitPanels() {
  for (auto& unit : UnitPanels) delete unit.Panel.data();
  UnitPanels = {};
  FoundUnits = {};
  FoundCount = 0;
  TitlesLocked = false;
  AuxLocked = false;
}
