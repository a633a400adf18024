#pragma once
// The COM-PORT-OPTION of Telnet (RFC 2217): the line settings of the server's serial port as
// subnegotiations. The client sends a command and its value; the server answers with the command's code
// plus 100 and the value it actually set, or, as some servers do with a setting their port cannot make,
// not at all.
#include <cstdint>
#include <vector>

#include "serial/platform/ComPlatform.h"

namespace ComPortOption {
constexpr uint8_t Signature = 0, SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4,
                  SetControl = 5, NotifyLineState = 6, NotifyModemState = 7, FlowControlSuspend = 8,
                  FlowControlResume = 9, SetLineStateMask = 10, SetModemStateMask = 11, PurgeData = 12;
constexpr uint8_t ServerOffset = 100;
// SET-CONTROL values.
constexpr uint8_t FlowNone = 1, FlowXonXoff = 2, FlowHardware = 3, DtrOn = 8, DtrOff = 9, RtsOn = 11,
                  RtsOff = 12;
// PURGE-DATA values.
constexpr uint8_t PurgeReceive = 1, PurgeTransmit = 2, PurgeBoth = 3;
}  // namespace ComPortOption

struct TComPortRequest {
  uint8_t Command = 0;
  std::vector<uint8_t> Value;
  // A server whose port has no modem lines leaves DTR and RTS unanswered, as a terminal without them
  // refuses them quietly; everything else must be answered.
  bool AnswerRequired = true;
  bool operator==(const TComPortRequest&) const = default;
};

// The requests that carry a device control block to the server, in the order they go: the modem lines
// first and the baud rate last, so that its answer shows the server has dealt with all the others.
// False when the block asks for something the option cannot say (DSR or DTR handshake, RTS toggling,
// hardware and software flow control at once, a baud rate of 0, which would only ask for the current one).
bool ComPortRequestsForDcb(const TDcb& dcb, std::vector<TComPortRequest>& requests);

// One batch of requests and the answers to it.
class TComPortExchange {
 public:
  enum class TOutcome { Waiting, Accepted, Refused };

  explicit TComPortExchange(std::vector<TComPortRequest> requests);
  // All requests, each one subnegotiation, in order.
  std::vector<uint8_t> Encoded() const;
  // An answer from the server: the command (its code less 100) and the value. False when it belongs
  // to none of the requests still open (a late answer to an earlier batch, say).
  bool Answer(uint8_t command, const std::vector<uint8_t>& value);
  // Refused as soon as an answer differs from the request or a required request was passed over;
  // accepted once the last request is answered and nothing was refused.
  TOutcome Outcome() const;

 private:
  enum class TStatus { Open, Matched, Differs, Skipped };
  std::vector<TComPortRequest> requests_;
  std::vector<TStatus> status_;
};
