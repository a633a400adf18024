#pragma once
// The transmitter and the receiver of the link, bound to the main window's serial port and its three
// timers: Timer1 the reply time-out (250 ms), Timer2 the probe wait (250 ms), Timer4 the pacing wait
// (60 ms). A caller sets the request fields of LinkState, calls an operation and reads the results when
// it returns; replies are received and acted on inside the operation's wait.
#include <cstdint>
#include <functional>

#include "link/LinkState.h"

class TCustomComPort;
class TComPort;
class TTimer;

// Where a reply must reach a window, the application fills these in; the link layer knows no window.
struct TLinkHooks {
  std::function<void()> EnableStepButtons;  // the settings window's "+" and "-"
  std::function<void()> AddressAccepted;    // hide the set-address dialog, show the confirmation
  std::function<int()> NewAddress;          // the address typed in the set-address dialog
};

// Binds the link to the components and sets the port's OnRxChar and the timers' handlers.
void BindLink(TComPort& comPort1, TTimer& timer1, TTimer& timer2, TTimer& timer4, TLinkHooks hooks = {});
void UnbindLink();

// The line settings of the units: 38400 baud, 8N1, no handshake, the three events, timeouts 1/0/0.
void ApplyUnitLineSettings(TCustomComPort& port);

// Operations.
void SendCommand(uint8_t command);
void WriteFrame();
void RunCommand(uint8_t command);
void ReadRegister();
void WriteRegister();
void ProbeDevice(uint8_t address);

// Handlers.
void ComPort1RxChar(TCustomComPort* Sender, int32_t Count);
void DispatchReply();
void Timer1Timer();
void Timer2Timer();
void Timer4Timer();

// The operator's texts.
extern const char* const TextDeviceFault;     // status 0x83
extern const char* const TextNotSupported;    // status 0x84
extern const char* const TextNotConnected;    // no reply in time
extern const char* const CaptionError;
extern const char* const CaptionInformation;
