#pragma once
// A simulated unit: a bus address, a 256-byte register file with a register pointer, the descriptors of its
// adjustable values, and the faults it is told to show. It acts on the requests addressed to it and says
// what it puts back on the line.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "unitsim/SimFault.h"
#include "unitsim/SimTrace.h"

// Lowest, highest and default value and the step of an adjustable value; a four-byte read at the value's
// code + 1 returns them in this order.
struct TSimDescriptor {
  uint8_t Minimum = 0;
  uint8_t Maximum = 0;
  uint8_t Default = 0;
  uint8_t Step = 1;
  bool operator==(const TSimDescriptor&) const = default;
};

// A register or the address that a unit changed, for tests and the state file.
struct TUnitChange {
  int64_t TimeUs = 0;
  uint8_t Unit = 0;           // the unit's address when it took the request
  bool AddressChange = false;  // Register is unused; Old and New are addresses
  uint8_t Register = 0;
  uint8_t Old = 0;
  uint8_t New = 0;
  bool operator==(const TUnitChange&) const = default;
};

class TSimUnit {
 public:
  static constexpr int64_t DefaultReplyDelayUs = 1000;
  static constexpr uint8_t ChannelBases[4] = {0x40, 0x60, 0x80, 0xA0};

  // A fresh unit as it leaves the factory; address 0 means it has not yet been given one.
  explicit TSimUnit(uint8_t address = 0);

  uint8_t Address;
  uint8_t ReplyStatus = 0;  // byte 7 of its replies; 0x83 or 0x84 refuses every command
  int64_t ReplyDelayUs = DefaultReplyDelayUs;

  uint8_t Register(uint8_t code) const { return registers_[code]; }
  void SetRegister(uint8_t code, uint8_t value) { registers_[code] = value; }
  const std::array<uint8_t, 256>& Registers() const { return registers_; }
  uint8_t Pointer() const { return pointer_; }

  // Descriptors are keyed by the value's own code; they are read at code + 1.
  std::optional<TSimDescriptor> Descriptor(uint8_t valueCode) const;
  void SetDescriptor(uint8_t valueCode, const TSimDescriptor& descriptor);
  const std::map<uint8_t, TSimDescriptor>& Descriptors() const { return descriptors_; }
  // True when `code` is where a descriptor is read (read-only).
  bool IsDescriptorCode(uint8_t code) const;

  // Every adjustable value of the register map at its default, with its descriptor; the switches as a
  // unit is usually delivered.
  void LoadFactoryDefaults();

  void AddFault(const TSimFault& fault) { faults_.push_back(fault); }
  void ClearFaults() { faults_.clear(); }
  const std::vector<TSimFault>& Faults() const { return faults_; }

  // Addressed to this unit, complete and with a correct checksum.
  bool Hears(const TWireFrame& request) const;

  // Acts on a request the unit hears, with its faults, and returns what goes on the line. The changes it
  // makes are appended to `changes`, stamped with the request's end.
  TReplyPlan Answer(const TWireFrame& request, std::vector<TUnitChange>& changes);

  // The command alone, without faults: carries it out (unless `status` refuses it) and returns the reply
  // frame. Scripts use it to build on the normal reply.
  std::vector<uint8_t> Execute(const TWireFrame& request, uint8_t status, std::vector<TUnitChange>& changes);

 private:
  std::array<uint8_t, 256> registers_{};
  std::map<uint8_t, TSimDescriptor> descriptors_;
  uint8_t pointer_ = 0;
  std::vector<TSimFault> faults_;
};
