#pragma once
// Telnet as a serial device server speaks it: the byte 255 (IAC) introduces commands and is doubled
// in data, options are negotiated with DO / DONT / WILL / WONT, and subnegotiations carry the
// COM-PORT-OPTION's commands. Pure byte logic, fed whatever pieces the connection delivers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Telnet {
constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t CR = 13, NUL = 0;
constexpr uint8_t OptionBinary = 0, OptionSuppressGoAhead = 3, OptionComPort = 44;
// A subnegotiation longer than this is a broken or hostile peer; it is skipped, not stored.
constexpr size_t MaxSubnegotiation = 256;

// What to send for data: 255 doubled, and outside binary mode CR as CR NUL.
void AppendData(std::vector<uint8_t>& out, const uint8_t* data, size_t count, bool binary);
// How many bytes AppendData makes of one byte.
inline size_t EncodedLength(uint8_t byte, bool binary) {
  return byte == IAC || (byte == CR && !binary) ? 2 : 1;
}
// IAC verb option.
std::vector<uint8_t> Negotiation(uint8_t verb, uint8_t option);
// IAC SB option body IAC SE, with 255 doubled inside the body too.
std::vector<uint8_t> Subnegotiation(uint8_t option, const std::vector<uint8_t>& body);
}  // namespace Telnet

// Splits what arrives into data and commands. State carries over between pieces, so a command or a
// doubled 255 split across two reads is still read whole.
class TTelnetDecoder {
 public:
  class THandler {
   public:
    virtual ~THandler() = default;
    virtual void Data(const uint8_t* bytes, size_t count) = 0;
    virtual void Negotiation(uint8_t verb, uint8_t option) = 0;
    virtual void Subnegotiation(uint8_t option, const std::vector<uint8_t>& body) = 0;
  };

  // Outside binary mode the peer sends CR as CR NUL; the NUL is dropped.
  void SetBinary(bool binary) { binary_ = binary; }
  void Feed(const uint8_t* bytes, size_t count, THandler& handler);

 private:
  enum class TState { Data, Iac, Verb, SbOption, Sb, SbIac };
  TState state_ = TState::Data;
  uint8_t verb_ = 0;
  uint8_t sbOption_ = 0;
  bool sbOverflow_ = false;
  bool afterCr_ = false;
  bool binary_ = false;
  std::vector<uint8_t> sb_;
};

// Option negotiation after RFC 1143, without the queue bits: each side of each option is off, asked for,
// or on. Options the program does not use are refused, and nothing already agreed is answered again, so
// two sides can never loop.
class TTelnetOptions {
 public:
  enum class TState { No, WantYes, Yes };

  // `local`: options this side offers to perform (WILL); `remote`: options it asks the server to (DO).
  TTelnetOptions(const std::vector<uint8_t>& local, const std::vector<uint8_t>& remote);
  // The opening offer: WILL and DO for every option wanted.
  std::vector<uint8_t> Offer();
  // A DO, DONT, WILL or WONT received: what to answer (often nothing).
  std::vector<uint8_t> Receive(uint8_t verb, uint8_t option);

  TState Local(uint8_t option) const { return local_[option]; }
  TState Remote(uint8_t option) const { return remote_[option]; }

 private:
  std::array<bool, 256> localWanted_{};
  std::array<bool, 256> remoteWanted_{};
  std::array<TState, 256> local_{};
  std::array<TState, 256> remote_{};
};
