#pragma once
// Enumerations and sets of the serial port, in member order.
#include <cstdint>
#include <initializer_list>

enum TBaudRate {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400, br56000,
  br57600, br115200, br128000, br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };

// A set of TComEvent: bit n for member n.
struct TComEvents {
  uint16_t Bits = 0;
  static constexpr TComEvents All() { return TComEvents{0x3FF}; }
  constexpr bool Has(TComEvent e) const { return (Bits >> e) & 1; }
  constexpr TComEvents& Include(TComEvent e) {
    Bits |= uint16_t(1u << e);
    return *this;
  }
  constexpr bool Empty() const { return Bits == 0; }
  constexpr bool operator==(const TComEvents&) const = default;
};
constexpr TComEvents MakeEvents(std::initializer_list<TComEvent> events) {
  TComEvents set;
  for (auto e : events) set.Include(e);
  return set;
}

// Line errors passed to OnError: bit 0 framing, 1 parity, 2 overrun, 3 break, 4 I/O, 5 mode,
// 6 input overflow, 7 output full.
struct TComErrors {
  uint8_t Bits = 0;
  constexpr bool Empty() const { return Bits == 0; }
  constexpr bool operator==(const TComErrors&) const = default;
};

// Modem lines from ModemSignals: bit 0 CTS, 1 DSR, 2 ring, 3 RLSD.
struct TComSignals {
  uint8_t Bits = 0;
  constexpr bool CTS() const { return Bits & 1; }
  constexpr bool DSR() const { return Bits & 2; }
  constexpr bool Ring() const { return Bits & 4; }
  constexpr bool RLSD() const { return Bits & 8; }
  constexpr bool operator==(const TComSignals&) const = default;
};
