#include "serial/platform/net/Telnet.h"

namespace Telnet {
void AppendData(std::vector<uint8_t>& out, const uint8_t* data, size_t count, bool binary) {
  for (size_t i = 0; i < count; ++i) {
    out.push_back(data[i]);
    if (data[i] == IAC) out.push_back(IAC);
    if (data[i] == CR && !binary) out.push_back(NUL);
  }
}

std::vector<uint8_t> Negotiation(uint8_t verb, uint8_t option) { return {IAC, verb, option}; }

std::vector<uint8_t> Subnegotiation(uint8_t option, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out{IAC, SB, option};
  AppendData(out, body.data(), body.size(), true);
  out.push_back(IAC);
  out.push_back(SE);
  return out;
}
}  // namespace Telnet

using namespace Telnet;

void TTelnetDecoder::Feed(const uint8_t* bytes, size_t count, THandler& handler) {
  // Runs of plain data go to the handler in one piece.
  size_t runStart = 0, runLength = 0;
  auto flush = [&] {
    if (runLength) handler.Data(bytes + runStart, runLength);
    runLength = 0;
  };
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    switch (state_) {
      case TState::Data:
        if (b == IAC) {
          flush();
          state_ = TState::Iac;
          break;
        }
        if (afterCr_ && b == NUL && !binary_) {
          flush();
          afterCr_ = false;
          break;
        }
        afterCr_ = b == CR;
        if (runLength == 0) runStart = i;
        ++runLength;
        break;
      case TState::Iac:
        afterCr_ = false;
        if (b == IAC) {
          static const uint8_t iac = IAC;
          handler.Data(&iac, 1);
          state_ = TState::Data;
        } else if (b >= WILL) {
          verb_ = b;
          state_ = TState::Verb;
        } else if (b == SB) {
          state_ = TState::SbOption;
        } else {
          state_ = TState::Data;  // NOP, data mark, go ahead and the like mean nothing on this line
        }
        break;
      case TState::Verb:
        state_ = TState::Data;
        handler.Negotiation(verb_, b);
        break;
      case TState::SbOption:
        sbOption_ = b;
        sb_.clear();
        sbOverflow_ = false;
        state_ = TState::Sb;
        break;
      case TState::Sb:
        if (b == IAC) {
          state_ = TState::SbIac;
        } else if (sb_.size() < MaxSubnegotiation) {
          sb_.push_back(b);
        } else {
          sbOverflow_ = true;
        }
        break;
      case TState::SbIac:
        if (b == IAC) {
          if (sb_.size() < MaxSubnegotiation)
            sb_.push_back(IAC);
          else
            sbOverflow_ = true;
          state_ = TState::Sb;
        } else if (b == SE) {
          state_ = TState::Data;
          if (!sbOverflow_) handler.Subnegotiation(sbOption_, sb_);
        } else {
          // A command inside a subnegotiation ends it unfinished; the command itself still counts.
          state_ = TState::Iac;
          --i;
        }
        break;
    }
  }
  flush();
}

TTelnetOptions::TTelnetOptions(const std::vector<uint8_t>& local, const std::vector<uint8_t>& remote) {
  local_.fill(TState::No);
  remote_.fill(TState::No);
  for (uint8_t option : local) localWanted_[option] = true;
  for (uint8_t option : remote) remoteWanted_[option] = true;
}

std::vector<uint8_t> TTelnetOptions::Offer() {
  std::vector<uint8_t> out;
  for (int option = 0; option < 256; ++option) {
    if (localWanted_[option] && local_[option] == TState::No) {
      local_[option] = TState::WantYes;
      out.insert(out.end(), {IAC, WILL, uint8_t(option)});
    }
    if (remoteWanted_[option] && remote_[option] == TState::No) {
      remote_[option] = TState::WantYes;
      out.insert(out.end(), {IAC, DO, uint8_t(option)});
    }
  }
  return out;
}

std::vector<uint8_t> TTelnetOptions::Receive(uint8_t verb, uint8_t option) {
  // DO / DONT are about this side performing the option, WILL / WONT about the server.
  const bool aboutUs = verb == DO || verb == DONT;
  const bool enable = verb == DO || verb == WILL;
  TState& state = aboutUs ? local_[option] : remote_[option];
  const bool wanted = aboutUs ? localWanted_[option] : remoteWanted_[option];
  const uint8_t agree = aboutUs ? WILL : DO, refuse = aboutUs ? WONT : DONT;
  if (enable) {
    switch (state) {
      case TState::No:
        if (!wanted) return Negotiation(refuse, option);
        state = TState::Yes;
        return Negotiation(agree, option);
      case TState::WantYes:
        state = TState::Yes;  // the answer to our own request
        return {};
      case TState::Yes:
        return {};
    }
  }
  switch (state) {
    case TState::Yes:
      state = TState::No;
      return Negotiation(refuse, option);
    case TState::WantYes:
      state = TState::No;  // our request was refused
      return {};
    case TState::No:
      return {};
  }
  return {};
}
