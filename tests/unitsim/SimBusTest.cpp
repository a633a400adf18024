#include <gtest/gtest.h>

#include <algorithm>

#include "UnitSimTestSupport.h"
#include "unitsim/FrameAssembler.h"

namespace {

struct SimBusTest : ::testing::Test {
  TBusBench bench;
  TSimUnit& unit = bench.Bus.AddUnit(3);

  // The times the host got its bytes, from `first` on.
  std::vector<int64_t> Times(size_t first = 0, size_t count = SIZE_MAX) {
    std::vector<int64_t> t;
    for (size_t i = first; i < bench.Host.Received.size() && t.size() < count; ++i)
      t.push_back(bench.Host.Received[i].TimeUs);
    return t;
  }
  static std::vector<int64_t> Burst(int64_t startUs, int count) {
    std::vector<int64_t> t;
    for (int k = 0; k < count; ++k) t.push_back(ByteEndUs(startUs, k));
    return t;
  }
};

TEST_F(SimBusTest, RequestAndReplyRunAtTheLineRateWithTheReplyDelay) {
  bench.Send(Select(3, 0x4E));
  bench.RunFor(50'000);
  const auto requests = bench.Bus.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].StartUs, 0);
  EXPECT_EQ(requests[0].EndUs, 3906);  // 15 bytes x 260.4 us
  EXPECT_EQ(bench.Host.TxEmpty, (std::vector<int64_t>{3906}));
  EXPECT_EQ(bench.Host.Bytes(), BuildFrame(3, cmdSelect, {}));
  EXPECT_EQ(Times(), Burst(4906, 11));
  const auto replies = bench.Bus.Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].StartUs, 4906);
  EXPECT_EQ(replies[0].EndUs, 7771);
  EXPECT_TRUE(replies[0].CrcOk);
  EXPECT_TRUE(replies[0].Pieces.empty());
}

TEST_F(SimBusTest, BytesWrittenWhileTheLineIsBusyJoinTheBurstAndALongBurstDoesNotDrift) {
  auto frame = Read(3, 0xFF);  // a 266-byte reply
  bench.Send({frame.begin(), frame.begin() + 5});
  bench.RunUntil(500);
  bench.Send({frame.begin() + 5, frame.end()});
  bench.RunFor(100'000);
  ASSERT_EQ(bench.Bus.Requests().size(), 1u);
  EXPECT_EQ(bench.Bus.Requests()[0].EndUs, 3125);  // 12 bytes, one burst from 0
  ASSERT_EQ(bench.Host.Received.size(), 266u);
  EXPECT_EQ(Times().back(), 4125 + 69271);  // 266 x 10 bits at 38400 baud, rounded once

  // A unit with a longer delay, and a request after the line was idle: a new burst from that moment.
  unit.ReplyDelayUs = 3500;
  bench.RunUntil(200'000);
  bench.Send(Identify(3));
  bench.RunFor(50'000);
  EXPECT_EQ(bench.Bus.Requests()[1].EndUs, 202'865);
  EXPECT_EQ(Times(266), Burst(206'365, 11));
}

TEST_F(SimBusTest, RegisterChangesAreRecordedAtTheEndOfTheirRequest) {
  bench.Send(Select(3, 0x8E));
  bench.RunFor(60'000);
  bench.Send(Write(3, 0x01));
  bench.RunFor(60'000);
  EXPECT_EQ(unit.Register(0x8E), 0x01);
  const auto changes = bench.Bus.RegisterChanges();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].TimeUs, 60'000 + 3125);
  EXPECT_EQ(changes[0].Register, 0x8E);
}

TEST_F(SimBusTest, GarbageBeforeAFrameIsSkippedAndRecorded) {
  bench.Send({0x00, 0xE2, 0x17, 0xE2});
  bench.Send(Identify(3));  // E2 E2 E4 ...: the frame starts at the second E2
  bench.RunFor(50'000);
  const auto trace = bench.Bus.Trace();
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace[0].Kind, TTraceKind::tkGarbage);
  EXPECT_EQ(trace[0].Bytes, (std::vector<uint8_t>{0x00, 0xE2, 0x17, 0xE2}));
  EXPECT_EQ(trace[0].EndUs, ByteEndUs(0, 3));
  EXPECT_EQ(trace[1].Kind, TTraceKind::tkFrame);
  EXPECT_EQ(trace[1].StartUs, ByteEndUs(0, 3));
  EXPECT_EQ(bench.Host.Bytes(), Identify(3));
}

TEST_F(SimBusTest, APartialFrameIsDroppedAfterMoreThanTenMillisecondsOfSilence) {
  auto frame = Select(3, 0x42);
  bench.Send({frame.begin(), frame.begin() + 6});
  bench.RunUntil(1563 + 10'000);  // the sixth byte ends at 1563: exactly 10 ms of silence keeps it
  bench.Send({frame.begin() + 6, frame.end()});
  bench.RunFor(50'000);
  ASSERT_EQ(bench.Bus.Requests().size(), 1u);
  EXPECT_EQ(bench.Bus.Requests()[0].StartUs, 0);
  EXPECT_EQ(unit.Pointer(), 0x42);

  const int64_t t0 = bench.Clock.Now;
  bench.Send({frame.begin(), frame.begin() + 6});
  bench.RunUntil(t0 + 1563 + 10'001);
  bench.Send(Select(3, 0x60));
  bench.RunFor(50'000);
  const auto trace = bench.Bus.Trace();
  auto partial = std::find_if(trace.begin(), trace.end(), [](auto& f) { return f.Kind == TTraceKind::tkPartial; });
  ASSERT_NE(partial, trace.end());
  EXPECT_EQ(partial->Bytes.size(), 6u);
  EXPECT_EQ(partial->EndUs, t0 + 1563);
  EXPECT_EQ(bench.Bus.Requests().size(), 2u);
  EXPECT_EQ(unit.Pointer(), 0x60);
}

TEST_F(SimBusTest, AFrameThatCameInBurstsKeepsThemAndAStricterGapDropsIt) {
  auto frame = Select(3, 0x42);
  bench.Send({frame.begin(), frame.begin() + 6});
  bench.RunUntil(1563 + 2'000);
  bench.Send({frame.begin() + 6, frame.end()});
  bench.RunFor(50'000);
  auto requests = bench.Bus.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Pieces, (std::vector<TTracePiece>{{0, 1563, 6}, {3563, 3563 + 2344, 9}}));
  EXPECT_NE(WireFrameJson(requests[0]).find("\"pieces\":"), std::string::npos);

  // Written whole, a frame has no pieces at all.
  bench.Bus.ClearTrace();
  bench.Send(frame);
  bench.RunFor(50'000);
  ASSERT_EQ(bench.Bus.Requests().size(), 1u);
  EXPECT_TRUE(bench.Bus.Requests()[0].Pieces.empty());

  // With 1 ms allowed, the same 2 ms pause drops the frame's start; its rest is no frame either.
  bench.Bus.ClearTrace();
  bench.Bus.SetDropGapUs(1'000);
  const int64_t t0 = bench.Clock.Now;
  bench.Send({frame.begin(), frame.begin() + 6});
  bench.RunUntil(t0 + 1563 + 2'000);
  bench.Send({frame.begin() + 6, frame.end()});
  bench.RunFor(50'000);
  EXPECT_TRUE(bench.Bus.Requests().empty());
  const auto trace = bench.Bus.Trace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0].Kind, TTraceKind::tkPartial);
  EXPECT_EQ(trace[1].Kind, TTraceKind::tkGarbage);
  EXPECT_EQ(unit.Pointer(), 0x42);  // still where the first frame left it
}

TEST_F(SimBusTest, WrongLineSettingsAndBadChecksumsGetNoAnswer) {
  const auto frame = Identify(3);
  bench.Bus.HostWrite(frame.data(), frame.size(), true);
  auto bad = Identify(3);
  bad[9] ^= 0xFF;
  bench.RunFor(20'000);
  bench.Send(bad);
  bench.RunFor(50'000);
  EXPECT_TRUE(bench.Host.Received.empty());
  const auto trace = bench.Bus.Trace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0].Kind, TTraceKind::tkGarbage);
  EXPECT_TRUE(trace[0].Garbled);
  EXPECT_EQ(trace[1].Kind, TTraceKind::tkFrame);
  EXPECT_FALSE(trace[1].CrcOk);
}

TEST_F(SimBusTest, SplitReplyPausesBetweenItsPieces) {
  unit.AddFault(TSimFault::Split(3, 20'000));
  bench.Send(Identify(3));
  bench.RunFor(100'000);
  EXPECT_EQ(bench.Host.Bytes(), Identify(3));
  EXPECT_EQ(Times(0, 3), Burst(3865, 3));
  const int64_t resume = ByteEndUs(3865, 2) + 20'000;
  EXPECT_EQ(Times(3), Burst(resume, 8));
  const auto reply = bench.Bus.Replies().at(0);
  ASSERT_EQ(reply.Pieces.size(), 2u);
  EXPECT_EQ(reply.Pieces[0], (TTracePiece{3865, ByteEndUs(3865, 2), 3}));
  EXPECT_EQ(reply.Pieces[1], (TTracePiece{resume, ByteEndUs(resume, 7), 8}));
  EXPECT_EQ(reply.Kind, TTraceKind::tkFrame);
}

TEST_F(SimBusTest, StrayBytesGoJustBeforeOrAGapAfterTheReply) {
  unit.AddFault(TSimFault::StrayBefore({0x55}).Times(1));
  unit.AddFault(TSimFault::StrayAfter({0xAA, 0xBB}, 5'000).Times(1));
  bench.Send(Identify(3));
  bench.RunFor(100'000);
  auto expected = Identify(3);
  expected.insert(expected.begin(), 0x55);
  expected.insert(expected.end(), {0xAA, 0xBB});
  EXPECT_EQ(bench.Host.Bytes(), expected);
  EXPECT_EQ(Times(0, 12), Burst(3865, 12));  // stray byte and reply in one burst
  const int64_t after = ByteEndUs(3865, 11) + 5'000;
  EXPECT_EQ(Times(12), Burst(after, 2));
  const auto trace = bench.Bus.Trace();
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(trace[1].Kind, TTraceKind::tkStray);
  EXPECT_EQ(trace[2].Kind, TTraceKind::tkFrame);
  EXPECT_EQ(trace[3].Kind, TTraceKind::tkStray);
  EXPECT_EQ(trace[3].StartUs, after);
  EXPECT_EQ(bench.Bus.Replies().size(), 1u);
}

TEST_F(SimBusTest, OversizeBadChecksumAndSingleByteReplies) {
  unit.SetRegister(0x4E, 0x5A);
  bench.Send(Select(3, 0x4E));
  bench.RunFor(60'000);
  unit.AddFault(TSimFault::Oversize(70).Times(1));
  bench.Send(Read(3, 1));
  bench.RunFor(60'000);
  auto reply = bench.Bus.Replies().back();
  EXPECT_EQ(reply.Bytes.size(), 81u);
  EXPECT_EQ(reply.Length, 70);
  EXPECT_EQ(reply.Data[0], 0x5A);
  EXPECT_TRUE(reply.CrcOk);

  unit.AddFault(TSimFault::BadChecksum().Times(1));
  bench.Send(Read(3, 1));
  bench.RunFor(60'000);
  reply = bench.Bus.Replies().back();
  const auto good = BuildFrame(3, cmdRead, {0x5A});
  EXPECT_FALSE(reply.CrcOk);
  EXPECT_EQ(std::vector<uint8_t>(reply.Bytes.begin(), reply.Bytes.end() - 2),
            std::vector<uint8_t>(good.begin(), good.end() - 2));
  EXPECT_NE(reply.Bytes, good);

  unit.AddFault(TSimFault::SingleByte().Times(1));
  const size_t before = bench.Host.Received.size();
  bench.Send(Read(3, 1));
  bench.RunFor(60'000);
  reply = bench.Bus.Replies().back();
  EXPECT_EQ(reply.Kind, TTraceKind::tkPartial);
  EXPECT_EQ(reply.Bytes, (std::vector<uint8_t>{0xE2}));
  EXPECT_EQ(bench.Host.Received.size(), before + 1);
}

TEST_F(SimBusTest, ALateReadReplyAndAFaultThatSpoilsOnlyOneCommand) {
  unit.AddFault(TSimFault::Delay(100'000).For(cmdRead).Times(1));
  bench.Send(Select(3, 0x42));
  bench.RunFor(60'000);
  EXPECT_EQ(bench.Bus.Replies().size(), 1u);  // the select is answered as usual
  bench.Send(Read(3, 1));
  bench.RunFor(200'000);
  auto replies = bench.Bus.Replies();
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[1].StartUs, 60'000 + 3125 + 1'000 + 100'000);
  bench.Send(Read(3, 1));
  bench.RunFor(60'000);
  EXPECT_EQ(bench.Bus.Replies()[2].StartUs, 260'000 + 3125 + 1'000);
}

TEST_F(SimBusTest, AScriptAnswersInsteadOfTheUnits) {
  std::vector<TWireFrame> seen;
  bench.Bus.Script = [&](const TWireFrame& request) -> std::optional<TReplyPlan> {
    seen.push_back(request);
    if (request.Command != cmdWrite) return std::nullopt;
    TReplyPlan plan;
    plan.DelayUs = 250;
    plan.Bytes = {0x01, 0x02, 0x03};
    plan.Splits = {{1, 700}};
    return plan;
  };
  bench.Send(Select(3, 0x54));
  bench.RunFor(60'000);
  bench.Send(Write(3, 1));
  bench.RunFor(60'000);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].Data, (std::vector<uint8_t>{1}));
  EXPECT_EQ(unit.Register(0x54), 0);  // the unit never took the write
  const auto reply = bench.Bus.Replies().back();
  EXPECT_EQ(reply.Bytes, (std::vector<uint8_t>{1, 2, 3}));
  const int64_t start = 60'000 + 3125 + 250;
  EXPECT_EQ(reply.Pieces[0].StartUs, start);
  EXPECT_EQ(reply.Pieces[1].StartUs, ByteEndUs(start, 0) + 700);
}

TEST(FrameAssembler, ALoneLeadByteAtTheEndBecomesGarbageOnSilence) {
  TFrameAssembler a;
  EXPECT_TRUE(a.Feed(0xE2, 0, 260).empty());
  EXPECT_EQ(a.DeadlineUs(), 10'260);
  EXPECT_TRUE(a.Expire(10'260).empty());
  auto out = a.Expire(INT64_MAX);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Kind, TTraceKind::tkGarbage);
  EXPECT_EQ(out[0].Bytes, (std::vector<uint8_t>{0xE2}));
  EXPECT_EQ(a.DeadlineUs(), -1);
}

TEST(WireTrace, JsonLineCarriesTheParsedFrame) {
  TWireFrame f;
  f.StartUs = 4906;
  f.EndUs = 7771;
  f.Direction = TTraceDirection::tdUnitsToHost;
  f.Bytes = BuildFrame(3, cmdRead, {0x80}, statusDeviceFault);
  ParseWireFrame(f);
  EXPECT_EQ(WireFrameJson(f),
            "{\"start_us\":4906,\"end_us\":7771,\"from\":\"units\",\"kind\":\"frame\",\"bytes\":\"" + f.Hex() +
                "\",\"address\":3,\"command\":6,\"status\":131,\"n\":1,\"data\":\"80\",\"crc_ok\":true}");
  EXPECT_EQ(ParseHexBytes("e2E4 05"), (std::vector<uint8_t>{0xE2, 0xE4, 0x05}));
  EXPECT_THROW(ParseHexBytes("E2 4"), std::invalid_argument);
  EXPECT_THROW(ParseHexBytes("G0"), std::invalid_argument);
}

}  // namespace
