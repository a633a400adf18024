// The port over the network backend against a server played byte for byte by the test: what goes on the
// wire at open, at a change of settings and with data, how answers and refusals end, and what a server
// that goes away or never answers does to the port.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include "serial/ComPort.h"
#include "serial/platform/DispatchComPlatform.h"
#include "serial/platform/net/NetComPlatform.h"
#include "serial/platform/posix/PosixComPlatform.h"
#include "tests/serial/ScriptedServer.h"
#include "tests/serial/SerialTestSupport.h"
#include "tests/support/TestApplication.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/QtToolkit.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

Bytes Sb(Bytes body) {
  Bytes out{255, 250, 44};
  for (uint8_t b : body) {
    out.push_back(b);
    if (b == 255) out.push_back(255);
  }
  out.insert(out.end(), {255, 240});
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// What the backend offers on connecting, and ser2net's own opening.
const Bytes Offer = {255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3, 255, 251, 44};
const Bytes ServerOpening = {255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1,
                             255, 253, 0, 255, 251, 0, 255, 253, 44};
const Bytes EchoRefused = {255, 254, 1};  // the only answer to that opening
// The unit line (38400 8N1, no handshake, DTR and RTS off), and the answers of a server whose port has
// no modem lines (DTR and RTS unanswered).
const Bytes UnitLine = Join({Sb({5, 9}), Sb({5, 12}), Sb({2, 8}), Sb({3, 1}), Sb({4, 1}), Sb({5, 1}),
                             Sb({1, 0, 0, 0x96, 0})});
const Bytes UnitLineAnswers = Join({Sb({102, 8}), Sb({103, 1}), Sb({104, 1}), Sb({105, 1}),
                                    Sb({101, 0, 0, 0x96, 0})});

struct NetDevice : ::testing::Test {
  static void SetUpTestSuite() { EnsureApplication(); }

  TQtToolkit tk;
  std::unique_ptr<TTimer> tick;
  // Limits roomy enough for a busy machine; the one test that waits them out takes a few seconds.
  TNetComPlatform net{{std::chrono::milliseconds(2000), std::chrono::milliseconds(2000)}};
  TPosixComPlatform local;
  TDispatchComPlatform platform{local, net};
  std::unique_ptr<TComPort> port;
  TScriptedServer server;
  std::thread script;

  void SetUp() override {
    SetToolkit(&tk);
    tick = KeepLoopWaking(tk);
    port = std::make_unique<TComPort>(&platform);
    LoadMainWindowSettings(*port);
    port->SetEvents({});
    port->SetPort(server.Name("rfc2217"));
  }
  void TearDown() override {
    if (script.joinable()) script.join();
    port.reset();
    tick.reset();
    SetToolkit(nullptr);
  }

  // An open as ser2net serves it; what the port sent is checked byte for byte.
  void AgreedOpen() {
    Bytes offer, settings;
    script = std::thread([&] {
      if (!server.Accept()) return;
      offer = server.Receive(Offer.size());
      server.Send(ServerOpening);
      settings = server.Receive(EchoRefused.size() + UnitLine.size());
      server.Send(UnitLineAnswers);
    });
    port->Open();
    script.join();
    ASSERT_EQ(offer, Offer);
    ASSERT_EQ(settings, Join({EchoRefused, UnitLine}));
  }

  bool RunUntil(const std::function<bool()>& done, double seconds = 10.0) {
    return RunLoopUntil(tk, done, seconds);
  }
};

TEST_F(NetDevice, OpeningAgreesTheOptionsAndSetsTheUnitLineAndDataTravelsWithIacDoubled) {
  AgreedOpen();
  ASSERT_TRUE(port->Connected());
  // Nothing answers the server's acknowledgements or its echo being refused twice over.
  server.Send({255, 253, 44, 255, 254, 1});
  EXPECT_EQ(server.ReceiveFor(100ms), (Bytes{}));

  // A frame carries 255 at offset 4: doubled on the wire, one byte for the port.
  const Bytes frame = {0xE2, 0xE4, 0x05, 0x03, 0xFF, 0x00, 0x09, 0x00, 0x00, 0x44, 0xCA};
  EXPECT_EQ(port->Write(frame.data(), int32_t(frame.size())), 11);
  EXPECT_EQ(server.Receive(12), (Bytes{0xE2, 0xE4, 0x05, 0x03, 0xFF, 0xFF, 0x00, 0x09, 0x00, 0x00, 0x44, 0xCA}));

  // A reply whose doubled 255 is split between two reads of the port.
  server.Send({0xE2, 0xE4, 0xFF});
  uint8_t got[4] = {};
  ASSERT_EQ(port->Read(got, 2), 2);
  EXPECT_EQ(got[0], 0xE2);
  EXPECT_EQ(got[1], 0xE4);
  EXPECT_EQ(port->PendingInputCount(), 0);  // the 255 alone is not data yet
  server.Send({0xFF, 0x05, 0xFF, 0xFF});
  ASSERT_EQ(port->Read(got, 3), 3);
  EXPECT_EQ(got[0], 0xFF);
  EXPECT_EQ(got[1], 0x05);
  EXPECT_EQ(got[2], 0xFF);

  // The server's modem lines, as it reports them.
  EXPECT_EQ(port->ModemSignals(), TComSignals{});
  server.Send(Sb({107, 0x90}));
  ASSERT_TRUE(RunUntil([&] {
    port->PendingInputCount();  // takes in what has arrived
    return port->ModemSignals().Bits != 0;
  }));
  EXPECT_TRUE(port->ModemSignals().CTS());
  EXPECT_TRUE(port->ModemSignals().RLSD());
  EXPECT_FALSE(port->ModemSignals().DSR());
}

TEST_F(NetDevice, OptionsTheProgramDoesNotUseAreRefused) {
  // Echo, terminal type and the server performing the COM-PORT-OPTION itself are refused; 44 agreed.
  Bytes offer, replies, settings;
  script = std::thread([&] {
    if (!server.Accept()) return;
    offer = server.Receive(Offer.size());
    server.Send({255, 251, 1, 255, 253, 24, 255, 251, 44, 255, 253, 44});
    replies = server.Receive(9);
    settings = server.Receive(UnitLine.size());
    server.Send(UnitLineAnswers);
  });
  port->Open();
  script.join();
  EXPECT_EQ(offer, Offer);
  EXPECT_EQ(replies, (Bytes{255, 254, 1, 255, 252, 24, 255, 254, 44}));
  EXPECT_EQ(settings, UnitLine);
  EXPECT_TRUE(port->Connected());

  // Binary mode was never answered either way: bytes pass as they are, CR NUL included.
  const Bytes crNul = {0x0D, 0x00, 0x0D, 0x0A};
  EXPECT_EQ(port->Write(crNul.data(), 4), 4);
  EXPECT_EQ(server.Receive(4), crNul);
  server.Send(crNul);
  uint8_t got[4] = {};
  ASSERT_EQ(port->Read(got, 4), 4);
  EXPECT_EQ(Bytes(got, got + 4), crNul);
}

TEST_F(NetDevice, AServerThatRefusesBinaryModeHasCrSentAndReadAsCrNul) {
  Bytes settings;
  script = std::thread([&] {
    if (!server.Accept()) return;
    server.Receive(Offer.size());
    server.Send({255, 252, 0, 255, 254, 0, 255, 253, 44});  // WONT and DONT binary, DO the option
    settings = server.Receive(UnitLine.size());
    server.Send(UnitLineAnswers);
  });
  port->Open();
  script.join();
  EXPECT_EQ(settings, UnitLine);  // refusals of our own requests are not answered
  const Bytes data = {0x0D, 0x00, 0x41, 0x0D, 0x0A};
  EXPECT_EQ(port->Write(data.data(), 5), 5);
  EXPECT_EQ(server.Receive(7), (Bytes{0x0D, 0x00, 0x00, 0x41, 0x0D, 0x00, 0x0A}));
  server.Send({0x0D, 0x00, 0x00, 0x41, 0x0D, 0x0A});
  uint8_t got[5] = {};
  ASSERT_EQ(port->Read(got, 5), 5);
  EXPECT_EQ(Bytes(got, got + 5), data);
}

TEST_F(NetDevice, ASettingTheServerRefusesOrChangesIsTheSettingsError) {
  struct TCase {
    const char* Name;
    Bytes Opening;
    std::function<Bytes(const Bytes&)> Answers;
    int Code;
    int OsError;
  };
  const std::vector<TCase> cases = {
      {"another baud rate", ServerOpening,
       [](const Bytes&) {
         return Join({Sb({102, 8}), Sb({103, 1}), Sb({104, 1}), Sb({105, 1}), Sb({101, 0, 0, 0x4B, 0})});
       },
       7, EINVAL},
      // A setting passed over in silence (ser2net's way with one its port cannot make) is known as soon
      // as the baud rate's answer comes.
      {"stop size passed over", ServerOpening,
       [](const Bytes&) { return Join({Sb({102, 8}), Sb({103, 1}), Sb({105, 1}), Sb({101, 0, 0, 0x96, 0})}); },
       7, EINVAL},
      {"no answers at all", ServerOpening, [](const Bytes&) { return Bytes{}; }, 7, ETIMEDOUT},
      {"COM-PORT-OPTION refused", {255, 254, 44}, nullptr, 7, EOPNOTSUPP},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TScriptedServer own;
    port->SetPort(own.Name("rfc2217"));
    Bytes offer, settings;
    script = std::thread([&] {
      if (!own.Accept()) return;
      offer = own.Receive(Offer.size());
      own.Send(c.Opening);
      if (!c.Answers) return;
      settings = own.Receive(EchoRefused.size() + UnitLine.size());
      own.Send(c.Answers(settings));
    });
    EComPort e = Raised([&] { port->Open(); });
    script.join();
    EXPECT_EQ(e.Code, c.Code);
    EXPECT_EQ(e.OsError, c.OsError);
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(offer, Offer);
    if (c.Answers) {
      EXPECT_EQ(settings, Join({EchoRefused, UnitLine}));
    }
    // The failed open closed the connection.
    own.ReceiveFor(2000ms);
  }
}

TEST_F(NetDevice, ChangedSettingsOnAnOpenPortGoToTheServerAndARefusalKeepsThePortOpen) {
  AgreedOpen();
  const Bytes line115200 =
      Join({Sb({5, 9}), Sb({5, 12}), Sb({2, 8}), Sb({3, 1}), Sb({4, 1}), Sb({5, 1}), Sb({1, 0, 1, 0xC2, 0})});
  Bytes asked;
  script = std::thread([&] {
    asked = server.Receive(line115200.size());
    server.Send(Join({Sb({105, 9}), Sb({105, 12}), Sb({102, 8}), Sb({103, 1}), Sb({104, 1}), Sb({105, 1}),
                      Sb({101, 0, 1, 0xC2, 0})}));
  });
  port->SetBaudRate(br115200);
  script.join();
  EXPECT_EQ(asked, line115200);

  // Asked for 57600, the server stays at 115200.
  script = std::thread([&] {
    asked = server.Receive(line115200.size());
    server.Send(Join({Sb({102, 8}), Sb({103, 1}), Sb({104, 1}), Sb({105, 1}), Sb({101, 0, 1, 0xC2, 0})}));
  });
  EComPort e = Raised([&] { port->SetBaudRate(br57600); });
  script.join();
  EXPECT_EQ(e.Code, 7);
  EXPECT_EQ(e.OsError, EINVAL);
  EXPECT_TRUE(port->Connected());
  EXPECT_EQ(asked[asked.size() - 4], 0xE1);  // 57600 is 0x0000E100

  // A rate with 255 in it: doubled inside the subnegotiation both ways. (Setting the custom rate first
  // re-applies the line at 57600, which the server now takes.)
  script = std::thread([&] {
    server.Receive(line115200.size());
    server.Send(Join({Sb({102, 8}), Sb({103, 1}), Sb({104, 1}), Sb({105, 1}), Sb({101, 0, 0, 0xE1, 0})}));
    asked = server.Receive(line115200.size() + 1);
    server.Send(Join({Sb({102, 8}), Sb({103, 1}), Sb({104, 1}), Sb({105, 1}), Sb({101, 0, 0, 0xFF, 0})}));
  });
  port->SetCustomBaudRate(0xFF00);
  port->SetBaudRate(brCustom);
  script.join();
  EXPECT_EQ(Bytes(asked.end() - 8, asked.end()), (Bytes{1, 0, 0, 0xFF, 0xFF, 0, 255, 240}));
}

TEST_F(NetDevice, RawTcpCarriesTheBytesAloneAndTakesSettingsAsTheyAre) {
  port->SetPort(server.Name("tcp"));
  script = std::thread([&] { server.Accept(); });
  port->Open();
  script.join();
  port->SetBaudRate(br115200);
  port->FlowControl().SetFlowControl(fcHardware);
  const Bytes frame = {0xE2, 0xE4, 0x05, 0x03, 0xFF, 0x00};
  EXPECT_EQ(port->Write(frame.data(), 6), 6);
  EXPECT_EQ(server.ReceiveFor(200ms), frame);
  server.Send({0xFF, 0xFD, 0x2C});
  uint8_t got[3] = {};
  ASSERT_EQ(port->Read(got, 3), 3);
  EXPECT_EQ(Bytes(got, got + 3), (Bytes{0xFF, 0xFD, 0x2C}));
  port->Close();
  EXPECT_EQ(server.ReceiveFor(200ms), Bytes{});
}

// Ends the connection the way `end` says, as a vanished adapter ends: with the event thread running, the
// thread ends by itself, the port closes itself and the process stays idle; once the server is back the
// port opens again. Without the thread, the transfer that meets the loss fails with the reason.
void ExpectVanishedServer(NetDevice& t, const std::function<void()>& end) {
  t.port->SetEvents(TComEvents{1 | 2 | 4});  // the main window's events
  t.AgreedOpen();
  ASSERT_TRUE(t.port->EventWorkerRunning());
  end();
  ASSERT_TRUE(t.RunUntil([&] { return !t.port->Connected(); }));
  EXPECT_TRUE(t.port->DeviceLost());
  const double before = CpuSeconds();
  const auto stop = std::chrono::steady_clock::now() + 1s;
  t.RunUntil([&] { return std::chrono::steady_clock::now() >= stop; });
  const double used = CpuSeconds() - before;
  std::printf("CPU time over one second after the loss: %.3f s\n", used);
  EXPECT_LT(used, 0.2);

  // Reconnecting is opening again; the thread's last purge reaches the server before the connection ends.
  t.AgreedOpen();
  EXPECT_TRUE(t.port->EventWorkerRunning());
  t.port->Close();
  EXPECT_EQ(t.server.ReceiveFor(1000ms), Sb({12, 3}));

  t.port->SetEvents({});
  t.AgreedOpen();
  end();
  char byte = 0;
  EComPort read = Raised([&] { t.port->Read(&byte, 1); });
  EXPECT_EQ(read.Code, 3);
  EXPECT_EQ(read.OsError, ECONNRESET);
  EXPECT_FALSE(t.port->Connected());

  t.AgreedOpen();
  end();
  // The system may take a write or two before it learns of the loss.
  EComPort write(0);
  for (int i = 0; i < 100 && write.Code == 0; ++i) {
    try {
      t.port->Write(&byte, 1);
      std::this_thread::sleep_for(20ms);
    } catch (const EComPort& e) {
      write = e;
    }
  }
  EXPECT_EQ(write.Code, 2);
  EXPECT_TRUE(write.OsError == ECONNRESET || write.OsError == EPIPE) << write.OsError;
  EXPECT_FALSE(t.port->Connected());
}

TEST_F(NetDevice, AServerThatEndsTheConnectionIsAVanishedAdapter) {
  ExpectVanishedServer(*this, [&] { server.Close(); });
}

TEST_F(NetDevice, AServerThatResetsTheConnectionIsAVanishedAdapter) {
  ExpectVanishedServer(*this, [&] { server.Reset(); });
}

TEST_F(NetDevice, OpenFailuresCarryTheSystemsReason) {
  port->SetPort("tcp://127.0.0.1:" + std::to_string(UnusedLoopbackPort()));
  EComPort refused = Raised([&] { port->Open(); });
  EXPECT_EQ(refused.Code, 1);
  EXPECT_EQ(refused.OsError, ECONNREFUSED);
  for (const char* bad : {"tcp://127.0.0.1", "rfc2217://[::1]:99999", "tcp://host name:40"}) {
    port->SetPort(bad);
    EComPort e = Raised([&] { port->Open(); });
    EXPECT_EQ(e.Code, 1) << bad;
    EXPECT_EQ(e.OsError, EINVAL) << bad;
  }
  EXPECT_FALSE(port->Connected());
}

// A server that never takes the connection: the open gives up at its limit, and meanwhile the loop keeps
// running timers and painting, while no second open can start inside the first.
TEST_F(NetDevice, ConnectingHasATimeLimitAndTheWindowKeepsPaintingMeanwhile) {
  THangingListener hanging;
  port->SetPort("rfc2217://127.0.0.1:" + std::to_string(hanging.Port()));
  struct TPaintCounter : QWidget {
    int Paints = 0;
    void paintEvent(QPaintEvent*) override { ++Paints; }
  } window;
  window.resize(100, 100);
  window.show();
  bool opening = false;
  int ticksDuringOpen = 0;
  EComPort nested(0);
  auto timer = tk.CreateTimer();
  timer->SetInterval(20);
  timer->OnTimer = [&] {
    if (!opening) return;
    window.update();
    if (++ticksDuringOpen == 3) {
      TComPort second(&platform);
      second.SetEvents({});
      second.SetPort("/dev/null");
      nested = Raised([&] { second.Open(); });
    }
  };
  timer->SetEnabled(true);
  RunUntil([&] { return window.Paints > 0; }, 5.0);

  opening = true;
  const int paintsBefore = window.Paints;
  EComPort e = Raised([&] { port->Open(); });
  const int paintsDuringOpen = window.Paints - paintsBefore;
  opening = false;
  EXPECT_EQ(e.Code, 1);
  EXPECT_EQ(e.OsError, ETIMEDOUT);
  EXPECT_GE(ticksDuringOpen, 3);
  EXPECT_GE(paintsDuringOpen, 2);
  EXPECT_EQ(nested.Code, 1);
  EXPECT_EQ(nested.OsError, EBUSY);
}

}  // namespace
