#include <gtest/gtest.h>

#include "UnitSimTestSupport.h"
#include "unitsim/SimUnit.h"

namespace {

TWireFrame Request(const std::vector<uint8_t>& bytes, int64_t endUs = 1000) {
  TWireFrame f;
  f.Bytes = bytes;
  f.EndUs = endUs;
  ParseWireFrame(f);
  return f;
}

struct SimUnitTest : ::testing::Test {
  TSimUnit unit{3};
  std::vector<TUnitChange> changes;
  std::vector<uint8_t> Ask(const std::vector<uint8_t>& bytes) { return unit.Answer(Request(bytes), changes).Bytes; }
};

TEST_F(SimUnitTest, ReadsTheRegisterAtThePointerAndTheDescriptorOneCodeHigher) {
  unit.SetRegister(0x42, 0x03);
  unit.SetRegister(0x43, 0x77);  // hidden behind the descriptor
  unit.SetRegister(0x44, 0x90);
  EXPECT_EQ(Ask(Select(3, 0x42)), BuildFrame(3, cmdSelect, {}));
  EXPECT_EQ(unit.Pointer(), 0x42);
  EXPECT_EQ(Ask(Read(3, 1)), BuildFrame(3, cmdRead, {0x03}));
  // Four bytes from a value's own code are the registers that follow it...
  EXPECT_EQ(Ask(Read(3, 4)), BuildFrame(3, cmdRead, {0x03, 0x77, 0x90, unit.Register(0x45)}));
  // ...but at code + 1 they are its descriptor.
  Ask(Select(3, 0x43));
  EXPECT_EQ(Ask(Read(3, 4)), BuildFrame(3, cmdRead, {0, 255, 128, 1}));
  unit.SetDescriptor(0x0C, {0, 248, 16, 8});
  Ask(Select(3, 0x0D));
  EXPECT_EQ(Ask(Read(3, 4)), BuildFrame(3, cmdRead, {0, 248, 16, 8}));
}

TEST_F(SimUnitTest, WriteChangesTheRegisterAndIsRecordedButDescriptorsAreReadOnly) {
  Ask(Select(3, 0x6C));
  const uint8_t before = unit.Register(0x6C);
  EXPECT_EQ(Ask(Write(3, 0x03)), BuildFrame(3, cmdWrite, {}));
  EXPECT_EQ(unit.Register(0x6C), 0x03);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], (TUnitChange{1000, 3, false, 0x6C, before, 0x03}));

  Ask(Select(3, 0x63));
  EXPECT_EQ(Ask(Write(3, 0x10)), BuildFrame(3, cmdWrite, {}, statusNotSupported));
  EXPECT_EQ(unit.Descriptor(0x62), (TSimDescriptor{0, 255, 128, 1}));
  EXPECT_EQ(changes.size(), 1u);
}

TEST_F(SimUnitTest, MalformedAndUnknownCommandsAreRefusedWithNotSupported) {
  EXPECT_EQ(Ask(BuildFrame(3, cmdSelect, {})), BuildFrame(3, cmdSelect, {}, statusNotSupported));
  EXPECT_EQ(Ask(BuildFrame(3, cmdRead, {})), BuildFrame(3, cmdRead, {}, statusNotSupported));
  EXPECT_EQ(Ask(BuildFrame(3, 0x22, {1})), BuildFrame(3, 0x22, {}, statusNotSupported));
  EXPECT_EQ(Ask(Identify(3)), BuildFrame(3, cmdIdentify, {}));
}

TEST_F(SimUnitTest, HearsOnlyCompleteFramesToItsAddressWithACorrectChecksum) {
  EXPECT_TRUE(unit.Hears(Request(Identify(3))));
  EXPECT_FALSE(unit.Hears(Request(Identify(4))));
  auto bad = Identify(3);
  bad.back() ^= 1;
  EXPECT_FALSE(unit.Hears(Request(bad)));
  EXPECT_FALSE(unit.Hears(Request({0xE2, 0xE4, 0x05, 0x03, 0xFF, 0x00, 0x09, 0x00, 0x00, 0x44})));
}

TEST_F(SimUnitTest, AnUnaddressedUnitTakesItsAddressAndThenAnswersOnlyThere) {
  TSimUnit fresh;
  EXPECT_TRUE(fresh.Hears(Request(Identify(0))));
  const auto reply = fresh.Answer(Request(BuildFrame(0, cmdSetAddress, {5})), changes);
  EXPECT_EQ(reply.Bytes, BuildFrame(0, cmdSetAddress, {}));
  EXPECT_EQ(fresh.Address, 5);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(changes[0].AddressChange);
  EXPECT_EQ(changes[0].New, 5);
  EXPECT_FALSE(fresh.Hears(Request(Identify(0))));
  EXPECT_TRUE(fresh.Hears(Request(Identify(5))));
}

TEST_F(SimUnitTest, AFaultStatusRefusesTheCommandAndItsCountRunsOut) {
  unit.AddFault(TSimFault::WithStatus(statusDeviceFault).For(cmdWrite).Times(1));
  Ask(Select(3, 0x54));
  EXPECT_EQ(Ask(Write(3, 1)), BuildFrame(3, cmdWrite, {}, statusDeviceFault));
  EXPECT_EQ(unit.Register(0x54), 0);
  EXPECT_TRUE(unit.Faults().empty());
  EXPECT_EQ(Ask(Write(3, 1)), BuildFrame(3, cmdWrite, {}));
  EXPECT_EQ(unit.Register(0x54), 1);

  TSimUnit fresh;
  fresh.AddFault(TSimFault::WithStatus(statusNotSupported));
  EXPECT_EQ(fresh.Answer(Request(BuildFrame(0, cmdSetAddress, {5})), changes).Bytes,
            BuildFrame(0, cmdSetAddress, {}, statusNotSupported));
  EXPECT_EQ(fresh.Address, 0);
}

TEST_F(SimUnitTest, ASilentUnitNeitherAnswersNorActs) {
  unit.AddFault(TSimFault::Silent().Times(1));
  EXPECT_TRUE(unit.Answer(Request(Select(3, 0x10)), changes).Silent());
  EXPECT_EQ(unit.Pointer(), 0);
  EXPECT_FALSE(unit.Answer(Request(Select(3, 0x10)), changes).Silent());
}

TEST(SimUnitDefaults, EveryAdjustableValueHasASensibleDescriptorAndSwitchesAreOnOff) {
  TSimUnit unit(1);
  std::vector<uint8_t> values = {0x08, 0x0A, 0x0C, 0x0E, 0x10, 0x12, 0x14};
  for (uint8_t base : TSimUnit::ChannelBases)
    for (uint8_t offset : {0x00, 0x02, 0x04, 0x06}) values.push_back(uint8_t(base + offset));
  for (uint8_t code : values) {
    SCOPED_TRACE(code);
    auto d = unit.Descriptor(code);
    ASSERT_TRUE(d);
    EXPECT_LT(d->Minimum, d->Maximum);
    EXPECT_GE(d->Step, 1);
    EXPECT_EQ((d->Default - d->Minimum) % d->Step, 0);
    EXPECT_EQ((d->Maximum - d->Minimum) % d->Step, 0);
    EXPECT_EQ(unit.Register(code), d->Default);
  }
  EXPECT_EQ(unit.Descriptor(0x42), (TSimDescriptor{0, 255, 128, 1}));
  EXPECT_GT(unit.Descriptor(0x0C)->Step, 1);
  EXPECT_EQ(unit.Descriptor(0x08), (TSimDescriptor{0, 7, 0, 1}));
  int bitsSet = 0;
  for (uint8_t base : TSimUnit::ChannelBases) {
    for (uint8_t offset : {0x08, 0x0A, 0x10, 0x12, 0x14}) EXPECT_LE(unit.Register(uint8_t(base + offset)), 1);
    bitsSet += unit.Register(uint8_t(base + 0x0C)) != 0;
    bitsSet += unit.Register(uint8_t(base + 0x0E)) != 0;
  }
  EXPECT_GE(bitsSet, 3);
}

}  // namespace
