#pragma once
// The switches of a unit's panel: the indicator matrix and the titles, auxiliary-input and settings
// buttons. The handlers decode the unit and the switch from the sender's Tag.
#include <Qt>
#include <cstdint>

class TIndicator;
class TPanelButton;
struct TUnitPanel;

void IndicatorMouseDown(TIndicator* Sender, Qt::MouseButton Button);
void IndicatorMouseUp(TIndicator* Sender, Qt::MouseButton Button);
void PanelButtonClick(TPanelButton* Sender);

// Writes `value` to the titles (row 4) or auxiliary-input (row 5) register of every channel selected in
// that row of the unit, each as select and write with their pacing waits; with `bareLastWrite`, the write
// to channel K4 goes out without its wait. Ends with RegisterMode clear.
void WriteSelectedChannels(TUnitPanel& unit, int row, uint8_t value, bool bareLastWrite = false);
