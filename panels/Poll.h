#pragma once
// The bus poll: probes addresses 1 to 16, builds a panel for every unit that answers, reads its colour-bar
// and logo states from the unit and its titles and auxiliary-input state from its status file, replays
// saved titles and auxiliary input to it, and remembers the port when a unit was found.
#include <functional>
#include <string>

class QWidget;
class TForm3;
class TIndicator;
class TPanelButton;

// What the poll needs of the windows around it; the application fills this in.
struct TPanelsHost {
  QWidget* MainClient = nullptr;            // the main window's client area: the panels' parent
  std::function<void(int)> SetMainWidth;    // the main window's width
  std::function<std::string()> PortName;    // the serial port's name
  std::function<void()> SavePortName;       // rewrite "COM.ini"
  std::function<void()> ShowAddressDialog;  // the set-address dialog
  std::function<void()> ClosePortDialog;    // the port selection dialog
  std::function<void(int)> ShowSettings;    // the settings window, for the unit at this address
  std::function<void(bool)> PollActiveChanged;  // a poll was asked for, or has ended
};

void BindPanels(TForm3& form3, TPanelsHost host);
const TPanelsHost& PanelsHost();
void UnbindPanels();

// Destroys the panels of the units found by the last poll.
void DestroyPanels();
// Destroys the panels, then polls; refused while a poll is running or waiting to run. Both happen when the
// link is free; `betweenSteps`, if given, runs after the panels have gone and before the poll.
void RescanBus(std::function<void()> betweenSteps = nullptr);
// The poll itself; the caller has opened the port and destroyed the old panels.
void PollUnits();
// A poll is running or waiting for the link.
bool PollActive();

// The messages of the poll.
extern const char* const TextPolling;       // followed by the port's name
extern const char* const TextAddressNotSet;
extern const char* const TextNoUnitAnswers;
// After a poll in which some registers of a unit could not be read: the first text or the second, then the
// units as "№ 3, № 7", a full stop, and the third text.
extern const char* const TextUnitNotReadOne;
extern const char* const TextUnitsNotReadMany;
extern const char* const TextUnreadIndicators;
