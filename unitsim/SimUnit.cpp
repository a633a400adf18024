#include "unitsim/SimUnit.h"

#include "link/Frame.h"

namespace {
bool Refusing(uint8_t status) { return status == statusDeviceFault || status == statusNotSupported; }
}  // namespace

TSimUnit::TSimUnit(uint8_t address) : Address(address) { LoadFactoryDefaults(); }

std::optional<TSimDescriptor> TSimUnit::Descriptor(uint8_t valueCode) const {
  auto it = descriptors_.find(valueCode);
  if (it == descriptors_.end()) return std::nullopt;
  return it->second;
}

void TSimUnit::SetDescriptor(uint8_t valueCode, const TSimDescriptor& descriptor) {
  descriptors_[valueCode] = descriptor;
}

bool TSimUnit::IsDescriptorCode(uint8_t code) const {
  return code > 0 && descriptors_.count(uint8_t(code - 1)) > 0;
}

void TSimUnit::LoadFactoryDefaults() {
  registers_.fill(0);
  descriptors_.clear();
  pointer_ = 0;
  auto value = [&](uint8_t code, TSimDescriptor d) {
    descriptors_[code] = d;
    registers_[code] = d.Default;
  };
  value(0x08, {0, 7, 0, 1});      // logo 1 choice
  value(0x0A, {0, 7, 1, 1});      // logo 2 choice
  value(0x0C, {0, 248, 16, 8});   // logo 1 position, horizontal
  value(0x0E, {0, 240, 16, 4});   // logo 1 position, vertical
  value(0x10, {0, 248, 232, 8});  // logo 2 position, horizontal
  value(0x12, {0, 240, 16, 4});   // logo 2 position, vertical
  value(0x14, {0, 31, 8, 1});     // line delay
  for (uint8_t base : ChannelBases) {
    value(base + 0x00, {0, 7, 3, 1});      // luma/chroma delay
    value(base + 0x02, {0, 255, 128, 1});  // brightness
    value(base + 0x04, {0, 255, 128, 1});  // contrast
    value(base + 0x06, {0, 255, 128, 1});  // saturation
    registers_[base + 0x08] = 1;           // AGC on
    registers_[base + 0x0A] = 0;           // VTR off
    registers_[base + 0x10] = 1;           // substitution on
    registers_[base + 0x12] = 0;           // auxiliary input off
    registers_[base + 0x14] = 0;           // titles off
  }
  // Logo and colour-bar switches as delivered; the high bits are the unit's own and must survive a switch.
  registers_[0x4C] = 0x01;
  registers_[0x6C] = 0x02;
  registers_[0x8C] = 0x00;
  registers_[0xAC] = 0x03;
  registers_[0x4E] = 0x00;
  registers_[0x6E] = 0x00;
  registers_[0x8E] = 0x01;
  registers_[0xAE] = 0x80;
}

bool TSimUnit::Hears(const TWireFrame& request) const {
  return request.Kind == TTraceKind::tkFrame && request.CrcOk && request.Address == Address;
}

std::vector<uint8_t> TSimUnit::Execute(const TWireFrame& request, uint8_t status,
                                       std::vector<TUnitChange>& changes) {
  const uint8_t address = request.Address;
  const auto& data = request.Data;
  if (Refusing(status)) return BuildFrame(address, request.Command, {}, status);
  auto refuse = [&] { return BuildFrame(address, request.Command, {}, statusNotSupported); };
  switch (request.Command) {
    case cmdSelect:
      if (data.empty()) return refuse();
      pointer_ = data[0];
      return BuildFrame(address, request.Command, {}, status);
    case cmdWrite: {
      for (size_t i = 0; i < data.size(); ++i)
        if (IsDescriptorCode(uint8_t(pointer_ + i))) return refuse();
      for (size_t i = 0; i < data.size(); ++i) {
        const uint8_t code = uint8_t(pointer_ + i);
        TUnitChange change;
        change.TimeUs = request.EndUs;
        change.Unit = Address;
        change.Register = code;
        change.Old = registers_[code];
        change.New = data[i];
        registers_[code] = data[i];
        changes.push_back(change);
      }
      return BuildFrame(address, request.Command, {}, status);
    }
    case cmdRead: {
      if (data.empty()) return refuse();
      const size_t count = data[0];
      std::vector<uint8_t> reply(count);
      auto descriptor = IsDescriptorCode(pointer_) ? Descriptor(uint8_t(pointer_ - 1)) : std::nullopt;
      for (size_t i = 0; i < count; ++i) {
        if (descriptor && i < 4) {
          const uint8_t fields[4] = {descriptor->Minimum, descriptor->Maximum, descriptor->Default,
                                     descriptor->Step};
          reply[i] = fields[i];
        } else {
          reply[i] = registers_[uint8_t(pointer_ + i)];
        }
      }
      return BuildFrame(address, request.Command, reply, status);
    }
    case cmdIdentify: return BuildFrame(address, request.Command, {}, status);
    case cmdSetAddress: {
      if (data.empty()) return refuse();
      TUnitChange change;
      change.TimeUs = request.EndUs;
      change.Unit = Address;
      change.AddressChange = true;
      change.Old = Address;
      change.New = data[0];
      Address = data[0];
      changes.push_back(change);
      return BuildFrame(address, request.Command, {}, status);
    }
    default: return refuse();
  }
}

TReplyPlan TSimUnit::Answer(const TWireFrame& request, std::vector<TUnitChange>& changes) {
  std::vector<TSimFault> active;
  for (auto& f : faults_)
    if (f.Applies(request.Command)) {
      active.push_back(f);
      if (f.Remaining > 0) --f.Remaining;
    }
  std::erase_if(faults_, [](const TSimFault& f) { return f.Remaining == 0; });

  TReplyPlan plan;
  for (const auto& f : active)
    if (f.Kind == TFaultKind::fkSilent) return plan;

  uint8_t status = ReplyStatus;
  for (const auto& f : active)
    if (f.Kind == TFaultKind::fkStatus) status = f.Status;
  plan.DelayUs = ReplyDelayUs;
  plan.Bytes = Execute(request, status, changes);
  for (const auto& f : active)
    if (f.Kind == TFaultKind::fkOversize) {
      std::vector<uint8_t> data(plan.Bytes.begin() + FrameDataOffset, plan.Bytes.end() - 2);
      data.resize(f.Length, 0x00);
      plan.Bytes = BuildFrame(plan.Bytes[3], plan.Bytes[6], data, plan.Bytes[FrameStatusOffset]);
    }
  ShapeReply(active, plan);
  return plan;
}
