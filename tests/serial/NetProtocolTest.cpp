// The bytes of Telnet and the COM-PORT-OPTION, both ways, and the names of serial device servers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/platform/net/ComPortOption.h"
#include "serial/platform/net/NetPortName.h"
#include "serial/platform/net/Telnet.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Everything the decoder reports, in order, as text: data bytes in hex, then the commands.
struct TRecorder : TTelnetDecoder::THandler {
  std::vector<std::string> Seen;
  Bytes DataSoFar;
  void Data(const uint8_t* bytes, size_t count) override {
    DataSoFar.insert(DataSoFar.end(), bytes, bytes + count);
    std::string text = "data";
    for (size_t i = 0; i < count; ++i) text += " " + std::to_string(bytes[i]);
    Seen.push_back(text);
  }
  void Negotiation(uint8_t verb, uint8_t option) override {
    Seen.push_back("verb " + std::to_string(verb) + " " + std::to_string(option));
  }
  void Subnegotiation(uint8_t option, const Bytes& body) override {
    std::string text = "sb " + std::to_string(option) + ":";
    for (uint8_t b : body) text += " " + std::to_string(b);
    Seen.push_back(text);
  }
};

// Feeds `stream` in pieces cut at `cuts`.
TRecorder Decode(const Bytes& stream, std::vector<size_t> cuts, bool binary = true) {
  TTelnetDecoder decoder;
  decoder.SetBinary(binary);
  TRecorder recorder;
  size_t from = 0;
  cuts.push_back(stream.size());
  for (size_t to : cuts) {
    decoder.Feed(stream.data() + from, to - from, recorder);
    from = to;
  }
  return recorder;
}

TEST(NetPortName, ServerNamesAndWhatIsRefused) {
  TNetAddress a;
  ASSERT_TRUE(ParseNetPortName("rfc2217://192.168.1.20:4001", a));
  EXPECT_EQ(a.Protocol, TNetProtocol::Rfc2217);
  EXPECT_EQ(a.Host, "192.168.1.20");
  EXPECT_EQ(a.Port, 4001);
  ASSERT_TRUE(ParseNetPortName("\\\\.\\tcp://serial-box.local:65535", a));  // as the port forms the path
  EXPECT_EQ(a.Protocol, TNetProtocol::Raw);
  EXPECT_EQ(a.Host, "serial-box.local");
  EXPECT_EQ(a.Port, 65535);
  ASSERT_TRUE(ParseNetPortName("RFC2217://[fe80::1%eth0]:7", a));
  EXPECT_EQ(a.Host, "fe80::1%eth0");
  EXPECT_EQ(a.Port, 7);

  EXPECT_TRUE(IsNetPortName("Tcp://x"));  // meant for a server, even though malformed
  EXPECT_FALSE(IsNetPortName("COM1"));
  EXPECT_FALSE(IsNetPortName("/dev/ttyUSB0"));
  for (const char* bad :
       {"tcp://", "tcp://host", "tcp://host:", "tcp://:4001", "tcp://host:0", "tcp://host:65536", "tcp://host:040",
        "tcp://host:+40", "tcp://host:40/path", "tcp://a:b:40", "tcp://::1:40", "tcp://[::1]40", "tcp://[host]:40",
        "tcp://[::1:40", "tcp://host name:40", "telnet://host:40"}) {
    EXPECT_FALSE(ParseNetPortName(bad, a)) << bad;
  }
  EXPECT_FALSE(ParseNetPortName(std::string("tcp://host\0evil:40", 19), a));
}

TEST(TelnetDecoding, DoubledIacIsOneDataByteWhereverTheReadsAreCut) {
  const Bytes stream = {0xE2, 0xE4, 0x05, 0x03, 0xFF, 0xFF, 0x00, 0xFF, 0xFF};
  const Bytes data = {0xE2, 0xE4, 0x05, 0x03, 0xFF, 0x00, 0xFF};
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    EXPECT_EQ(Decode(stream, {cut}).DataSoFar, data) << "cut at " << cut;
  }
  // One byte per read.
  std::vector<size_t> everyByte;
  for (size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
  EXPECT_EQ(Decode(stream, everyByte).DataSoFar, data);
}

TEST(TelnetDecoding, CommandsAndSubnegotiationsAmongData) {
  // Data, a negotiation, an answer to SET-BAUDRATE whose value holds a 255 (doubled inside), data, a
  // stray NOP, and a subnegotiation interrupted by a command.
  const Bytes stream = {0x41, 0xFF, 0xFD, 0x03, 0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0xFF, 0xFF, 0x00,
                        0xFF, 0xF0, 0x42, 0xFF, 0xF1, 0x43, 0xFF, 0xFA, 0x2C, 0x66, 0xFF, 0xFB, 0x01, 0x44};
  const std::vector<std::string> expected = {
      "data 65", "verb 253 3", "sb 44: 101 0 0 255 0", "data 66", "data 67", "verb 251 1", "data 68"};
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    // A cut only splits runs of data, never what is reported otherwise.
    TRecorder r = Decode(stream, {cut});
    std::vector<std::string> commands, expectedCommands;
    for (auto& s : r.Seen)
      if (s.rfind("data", 0) != 0) commands.push_back(s);
    for (auto& s : expected)
      if (s.rfind("data", 0) != 0) expectedCommands.push_back(s);
    EXPECT_EQ(commands, expectedCommands) << "cut at " << cut;
    EXPECT_EQ(r.DataSoFar, (Bytes{0x41, 0x42, 0x43, 0x44})) << "cut at " << cut;
  }
  EXPECT_EQ(Decode(stream, {}).Seen, expected);
}

TEST(TelnetDecoding, AnOverlongSubnegotiationIsSkippedAndOutsideBinaryCrNulIsCr) {
  Bytes stream = {0xFF, 0xFA, 0x2C};
  stream.insert(stream.end(), Telnet::MaxSubnegotiation + 10, 0x11);
  stream.insert(stream.end(), {0xFF, 0xF0, 0x0D, 0x00, 0x0D, 0x0A});
  TRecorder binary = Decode(stream, {});
  EXPECT_EQ(binary.Seen, (std::vector<std::string>{"data 13 0 13 10"}));
  TRecorder text = Decode(stream, {stream.size() - 3}, false);  // the NUL after CR in the next read
  EXPECT_EQ(text.DataSoFar, (Bytes{0x0D, 0x0D, 0x0A}));
}

TEST(TelnetEncoding, DataAndSubnegotiationsDoubleIac) {
  const Bytes frame = {0xE2, 0xE4, 0x05, 0x03, 0xFF, 0x00, 0x09, 0x00, 0x00, 0x44, 0xCA};
  Bytes out;
  Telnet::AppendData(out, frame.data(), frame.size(), true);
  EXPECT_EQ(out, (Bytes{0xE2, 0xE4, 0x05, 0x03, 0xFF, 0xFF, 0x00, 0x09, 0x00, 0x00, 0x44, 0xCA}));
  out.clear();
  const Bytes crlf = {0x0D, 0x0A, 0x0D};
  Telnet::AppendData(out, crlf.data(), crlf.size(), false);
  EXPECT_EQ(out, (Bytes{0x0D, 0x00, 0x0A, 0x0D, 0x00}));
  EXPECT_EQ(Telnet::Subnegotiation(44, {1, 0, 0, 0xFF, 0}),
            (Bytes{0xFF, 0xFA, 44, 1, 0, 0, 0xFF, 0xFF, 0, 0xFF, 0xF0}));
}

TEST(TelnetOptions, WhatIsWantedIsAgreedOnceAndEverythingElseRefused) {
  TTelnetOptions o({0, 3, 44}, {0, 3});
  EXPECT_EQ(o.Offer(), (Bytes{255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3, 255, 251, 44}));
  EXPECT_TRUE(o.Offer().empty());  // nothing asked twice
  using S = TTelnetOptions::TState;
  EXPECT_EQ(o.Local(44), S::WantYes);
  // The server's own opening (as ser2net sends it), crossing ours: acknowledgements are not answered.
  EXPECT_EQ(o.Receive(Telnet::WILL, 3), Bytes{});
  EXPECT_EQ(o.Receive(Telnet::DO, 3), Bytes{});
  EXPECT_EQ(o.Receive(Telnet::WILL, 1), (Bytes{255, 254, 1}));  // echo: refused
  EXPECT_EQ(o.Receive(Telnet::DONT, 1), Bytes{});               // never on, nothing to say
  EXPECT_EQ(o.Receive(Telnet::DO, 0), Bytes{});
  EXPECT_EQ(o.Receive(Telnet::WILL, 0), Bytes{});
  EXPECT_EQ(o.Receive(Telnet::DO, 44), Bytes{});
  EXPECT_EQ(o.Local(44), S::Yes);
  EXPECT_EQ(o.Remote(0), S::Yes);
  // Repeats of what is agreed get no answer, so the two sides cannot loop.
  EXPECT_EQ(o.Receive(Telnet::DO, 44), Bytes{});
  EXPECT_EQ(o.Receive(Telnet::DO, 3), Bytes{});
  EXPECT_EQ(o.Receive(Telnet::DO, 24), (Bytes{255, 252, 24}));   // terminal type: we won't
  EXPECT_EQ(o.Receive(Telnet::WILL, 44), (Bytes{255, 254, 44}));  // the server's side of 44 is not used
  // Switched off by the server: acknowledged once.
  EXPECT_EQ(o.Receive(Telnet::WONT, 0), (Bytes{255, 254, 0}));
  EXPECT_EQ(o.Remote(0), S::No);
  EXPECT_EQ(o.Receive(Telnet::WONT, 0), Bytes{});
  // A refusal of our own request ends it without an answer.
  TTelnetOptions refused({44}, {});
  refused.Offer();
  EXPECT_EQ(refused.Receive(Telnet::DONT, 44), Bytes{});
  EXPECT_EQ(refused.Local(44), S::No);
}

// The main window's line: 38400 8N1, no handshake, DTR and RTS off.
TDcb UnitLine() {
  TDcb dcb;
  dcb.BaudRate = 38400;
  dcb.Flags = 0x0001;
  dcb.ByteSize = 8;
  return dcb;
}

TEST(ComPortRequests, TheUnitLineAsTheServerIsAskedForIt) {
  std::vector<TComPortRequest> r;
  ASSERT_TRUE(ComPortRequestsForDcb(UnitLine(), r));
  EXPECT_EQ(TComPortExchange(r).Encoded(),
            (Bytes{255, 250, 44, 5, 9, 255, 240,            // DTR off
                   255, 250, 44, 5, 12, 255, 240,           // RTS off
                   255, 250, 44, 2, 8, 255, 240,            // 8 data bits
                   255, 250, 44, 3, 1, 255, 240,            // no parity
                   255, 250, 44, 4, 1, 255, 240,            // one stop bit
                   255, 250, 44, 5, 1, 255, 240,            // no flow control
                   255, 250, 44, 1, 0, 0, 0x96, 0, 255, 240}));  // 38400 baud, last
  EXPECT_FALSE(r[0].AnswerRequired);
  EXPECT_FALSE(r[1].AnswerRequired);

  TDcb other = UnitLine();
  other.BaudRate = 0x1234FF;  // a 255 inside the rate is doubled
  other.Parity = 4;           // space
  other.StopBits = 1;         // one and a half
  other.Flags |= 0x0010 | 0x2000 | 0x0004;  // DTR on, RTS handshake with CTS: hardware flow
  ASSERT_TRUE(ComPortRequestsForDcb(other, r));
  EXPECT_EQ(TComPortExchange(r).Encoded(),
            (Bytes{255, 250, 44, 5, 8, 255, 240, 255, 250, 44, 2, 8, 255, 240, 255, 250, 44, 3, 5, 255, 240,
                   255, 250, 44, 4, 3, 255, 240, 255, 250, 44, 5, 3, 255, 240,
                   255, 250, 44, 1, 0, 0x12, 0x34, 255, 255, 255, 240}));

  // What the option cannot say is refused before anything is sent.
  for (uint32_t flags : {0x0008u, 0x0040u, 0x0020u, 0x3000u, 0x0004u | 0x0100u}) {
    TDcb bad = UnitLine();
    bad.Flags |= flags;
    EXPECT_FALSE(ComPortRequestsForDcb(bad, r)) << std::hex << flags;
  }
  TDcb zero = UnitLine();
  zero.BaudRate = 0;
  EXPECT_FALSE(ComPortRequestsForDcb(zero, r));
}

TEST(ComPortRequests, AnswersAreCheckedInOrder) {
  std::vector<TComPortRequest> r;
  ASSERT_TRUE(ComPortRequestsForDcb(UnitLine(), r));
  using O = TComPortExchange::TOutcome;
  auto answerAll = [](TComPortExchange& e, const std::vector<std::pair<uint8_t, Bytes>>& answers) {
    for (auto& [command, value] : answers) e.Answer(command, value);
    return e.Outcome();
  };
  const std::vector<std::pair<uint8_t, Bytes>> dataParityStopFlow = {{2, {8}}, {3, {1}}, {4, {1}}, {5, {1}}};

  // ser2net on a pseudo-terminal: DTR and RTS unanswered, the rest as asked.
  TComPortExchange quiet(r);
  EXPECT_EQ(answerAll(quiet, dataParityStopFlow), O::Waiting);
  EXPECT_EQ(answerAll(quiet, {{1, {0, 0, 0x96, 0}}}), O::Accepted);

  // A real port answers DTR and RTS too; an answer for another group of SET-CONTROL does not count.
  TComPortExchange full(r);
  EXPECT_FALSE(full.Answer(5, {14}));  // inbound flow control was not asked for
  EXPECT_EQ(answerAll(full, {{5, {9}}, {5, {12}}}), O::Waiting);
  EXPECT_EQ(answerAll(full, dataParityStopFlow), O::Waiting);
  EXPECT_EQ(answerAll(full, {{1, {0, 0, 0x96, 0}}}), O::Accepted);
  EXPECT_FALSE(full.Answer(1, {0, 0, 0x96, 0}));  // a late repeat belongs to nothing

  // A server that sets another rate.
  TComPortExchange changed(r);
  EXPECT_EQ(answerAll(changed, dataParityStopFlow), O::Waiting);
  EXPECT_EQ(answerAll(changed, {{1, {0, 0, 0x4B, 0}}}), O::Refused);

  // A server that passes over a setting it cannot make: refused as soon as a later answer shows it.
  TComPortExchange skipped(r);
  EXPECT_EQ(answerAll(skipped, {{2, {8}}, {3, {1}}, {5, {1}}}), O::Refused);

  // DTR answered the other way.
  TComPortExchange dtr(r);
  EXPECT_EQ(answerAll(dtr, {{5, {8}}}), O::Refused);
}

}  // namespace
