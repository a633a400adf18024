#include "serial/platform/net/ComPortOption.h"

#include "serial/platform/net/Telnet.h"

using namespace ComPortOption;

namespace {
using namespace DcbFlag;

// SET-CONTROL values fall into groups, each answered within its own group.
int ControlGroup(uint8_t value) {
  if (value <= 3 || value == 17 || value == 19) return 0;  // outbound flow control
  if (value <= 6) return 1;                                 // break
  if (value <= 9) return 2;                                 // DTR
  if (value <= 12) return 3;                                // RTS
  return 4;                                                 // inbound flow control
}

bool SameKind(const TComPortRequest& request, uint8_t command, const std::vector<uint8_t>& value) {
  if (request.Command != command) return false;
  if (command != SetControl) return true;
  return !value.empty() && !request.Value.empty() && ControlGroup(value[0]) == ControlGroup(request.Value[0]);
}
}  // namespace

bool ComPortRequestsForDcb(const TDcb& dcb, std::vector<TComPortRequest>& requests) {
  const uint32_t dtr = DtrControl(dcb), rts = RtsControl(dcb);
  const bool hardware = (dcb.Flags & fOutxCtsFlow) || rts == ControlHandshake;
  const bool software = dcb.Flags & (fOutX | fInX);
  if ((dcb.Flags & (fOutxDsrFlow | fDsrSensitivity)) || dtr > ControlEnable || rts > ControlHandshake ||
      (hardware && software) || dcb.BaudRate == 0)
    return false;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2) return false;

  static constexpr uint8_t StopSizes[] = {1, 3, 2};  // one, one and a half, two
  requests.clear();
  requests.push_back({SetControl, {dtr == ControlEnable ? DtrOn : DtrOff}, false});
  // Under hardware flow control the server's port moves RTS itself.
  if (!hardware) requests.push_back({SetControl, {rts == ControlEnable ? RtsOn : RtsOff}, false});
  requests.push_back({SetDataSize, {dcb.ByteSize}, true});
  requests.push_back({SetParity, {uint8_t(dcb.Parity + 1)}, true});
  requests.push_back({SetStopSize, {StopSizes[dcb.StopBits]}, true});
  requests.push_back({SetControl, {hardware ? FlowHardware : software ? FlowXonXoff : FlowNone}, true});
  const uint32_t rate = dcb.BaudRate;
  requests.push_back(
      {SetBaudRate, {uint8_t(rate >> 24), uint8_t(rate >> 16), uint8_t(rate >> 8), uint8_t(rate)}, true});
  return true;
}

TComPortExchange::TComPortExchange(std::vector<TComPortRequest> requests)
    : requests_(std::move(requests)), status_(requests_.size(), TStatus::Open) {}

std::vector<uint8_t> TComPortExchange::Encoded() const {
  std::vector<uint8_t> out;
  for (const TComPortRequest& request : requests_) {
    std::vector<uint8_t> body{request.Command};
    body.insert(body.end(), request.Value.begin(), request.Value.end());
    const std::vector<uint8_t> sub = Telnet::Subnegotiation(Telnet::OptionComPort, body);
    out.insert(out.end(), sub.begin(), sub.end());
  }
  return out;
}

bool TComPortExchange::Answer(uint8_t command, const std::vector<uint8_t>& value) {
  for (size_t i = 0; i < requests_.size(); ++i) {
    if (status_[i] != TStatus::Open || !SameKind(requests_[i], command, value)) continue;
    status_[i] = value == requests_[i].Value ? TStatus::Matched : TStatus::Differs;
    // A server answers in order: whatever it has not answered before this one it has passed over.
    for (size_t j = 0; j < i; ++j)
      if (status_[j] == TStatus::Open) status_[j] = TStatus::Skipped;
    return true;
  }
  return false;
}

TComPortExchange::TOutcome TComPortExchange::Outcome() const {
  for (size_t i = 0; i < requests_.size(); ++i) {
    if (status_[i] == TStatus::Differs) return TOutcome::Refused;
    if (status_[i] == TStatus::Skipped && requests_[i].AnswerRequired) return TOutcome::Refused;
  }
  for (TStatus status : status_)
    if (status == TStatus::Open) return TOutcome::Waiting;
  return TOutcome::Accepted;
}
