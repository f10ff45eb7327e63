// Register primitives, ECAM addresses, the ACPI base and the PM-timer delay.
#include "flash/hw_access.h"

#include <gtest/gtest.h>

#include "flash_rig.h"

namespace {

constexpr uint64_t kFaddrAt = kFixedBar + kFaddr;

// The memory accesses of a trace with the barriers around them, as text: a
// misplaced, missing or extra access shows in the comparison.
std::string Shape(const std::vector<SimEvent> &Trace) {
  std::string Text;
  for (const SimEvent &E : Trace) {
    switch (E.Kind) {
      case SimEventBarrier:
        Text += "B ";
        break;
      case SimEventMemoryRead:
        Text += "R" + std::to_string(E.WidthBits) + " ";
        break;
      case SimEventMemoryWrite:
        Text += "W" + std::to_string(E.WidthBits) + "=" + std::to_string(E.Value) + " ";
        break;
      default:
        Text += "P ";
    }
  }
  return Text;
}

TEST(RegisterAccess, EachAccessIsOneOfItsWidthBetweenBarriers) {
  FlashRig Rig;
  RegWrite32(kFaddrAt, 0x00302010);
  struct Case {
    const char *Name;
    std::function<uint32_t()> Run;
    std::string Expected;
    uint32_t Result;
  } Cases[] = {
      {"RegRead8", [] { return RegRead8(kFaddrAt + 1); }, "B R8 B ", 0x20},
      {"RegRead16", [] { return RegRead16(kFaddrAt); }, "B R16 B ", 0x2010},
      {"RegRead32", [] { return RegRead32(kFaddrAt); }, "B R32 B ", 0x302010},
      {"RegWrite8", [] { return RegWrite8(kFaddrAt, 0x11); }, "B W8=17 B ", 0x11},
      {"RegWrite16", [] { return RegWrite16(kFaddrAt, 0x2211); }, "B W16=8721 B ", 0x2211},
      {"RegWrite32", [] { return RegWrite32(kFaddrAt, 0x332211); }, "B W32=3351057 B ", 0x332211},
      {"RegOr8", [] { return RegOr8(kFaddrAt, 0x0C); }, "B R8 B B W8=29 B ", 0x1D},
      {"RegAnd8", [] { return RegAnd8(kFaddrAt, 0xF0); }, "B R8 B B W8=16 B ", 0x10},
      {"RegAndOr8", [] { return RegAndOr8(kFaddrAt, 0x0F, 0x40); }, "B R8 B B W8=64 B ", 0x40},
      {"RegAndOr16", [] { return RegAndOr16(kFaddrAt, 0xFF00, 0x0001); }, "B R16 B B W16=8705 B ",
       0x2201},
      {"RegOr32", [] { return RegOr32(kFaddrAt, 0x01000000); }, "B R32 B B W32=20128257 B ",
       0x1332201},
      {"RegAndOr32", [] { return RegAndOr32(kFaddrAt, 0x0000FFFF, 0x00440000); },
       "B R32 B B W32=4465153 B ", 0x442201},
  };
  for (Case &C : Cases) {
    Rig.Record();
    uint32_t Result = C.Run();
    EXPECT_EQ(Shape(Rig.Take()), C.Expected) << C.Name;
    EXPECT_EQ(Result, C.Result) << C.Name;
  }
}

TEST(RegisterAccess, ReadModifyWriteWritesEvenWhenNothingChanges) {
  FlashRig Rig;
  RegWrite32(kFaddrAt, 0x0F);
  Rig.Record();
  RegOr8(kFaddrAt, 0x03);
  EXPECT_EQ(Shape(Rig.Take()), "B R8 B B W8=15 B ");
}

TEST(PcieConfigAddress, ComputesEachTermIn32Bits) {
  EXPECT_EQ(PcieConfigAddress(0, 31, 5), 0xE00FD000u);
  EXPECT_EQ(PcieConfigAddress(0, 31, 2), 0xE00FA000u);
  EXPECT_EQ(PcieConfigAddress(1, 0, 0), 0xE0100000u);
  // 0x1000 << 20 wraps to 0 in 32 bits; the sum is 64-bit.
  EXPECT_EQ(PcieConfigAddress(0x1000, 0, 0), 0xE0000000u);
  EXPECT_EQ(PcieConfigAddress(0xFFF, 0, 0), 0x1DFF00000ull);  // no carry lost
}

TEST(GetAcpiIoBase, MasksTheLowBitsOfAbase) {
  FlashRig Rig;
  uint32_t Raw = SimMmioRead(Rig.Platform, 0xE00FA040, 16);
  ASSERT_NE(Raw & 0x3, 0u) << "the I/O space indicator reads 1";
  UINT16 Base = 0;
  EXPECT_EQ(GetAcpiIoBase(&Base), EFI_SUCCESS);
  EXPECT_EQ(Base, Raw & 0xFFFC);
  EXPECT_EQ(GetAcpiIoBase(nullptr), EFI_INVALID_PARAMETER);
}

TEST(GetAcpiIoBase, MissingPmcLeavesTheOutputAlone) {
  FlashRig Rig([](SimConfig &C) { C.NoPmc = true; });
  UINT16 Base = 0x1234;
  EXPECT_EQ(GetAcpiIoBase(&Base), EFI_UNSUPPORTED);
  EXPECT_EQ(Base, 0x1234);
}

// Follows the timer readings of a delay as they happen: the ticks elapsed at the
// last and at the next-to-last reading, counting roll-overs.
struct TimerReadings {
  uint16_t Port = 0;
  size_t Count = 0;
  bool OnlyTimerReads = true;
  uint32_t Last = 0;
  uint64_t Elapsed = 0;
  uint64_t ElapsedBefore = 0;

  static void Hook(void *Context, const SimEvent *E) {
    auto *R = static_cast<TimerReadings *>(Context);
    if (E->Kind != SimEventPortRead || E->Address != R->Port || E->WidthBits != 32) {
      R->OnlyTimerReads = false;
      return;
    }
    uint32_t Value = E->Value & 0xFFFFFF;
    if (R->Count > 0) {
      R->ElapsedBefore = R->Elapsed;
      R->Elapsed += (Value - R->Last) & 0xFFFFFF;
    }
    R->Last = Value;
    R->Count++;
  }
};

TimerReadings DelayReadings(FlashRig &Rig, UINT16 Base, uint64_t Microseconds) {
  TimerReadings Readings;
  Readings.Port = static_cast<uint16_t>(Base + 8);
  SimSetTraceHook(Rig.Platform, &TimerReadings::Hook, &Readings);
  PmTimerDelay(Base, Microseconds);
  SimSetTraceHook(Rig.Platform, nullptr, nullptr);
  EXPECT_TRUE(Readings.OnlyTimerReads);
  return Readings;
}

TEST(PmTimerDelay, ZeroMicrosecondsTouchesNothing) {
  FlashRig Rig;
  UINT16 Base = 0;
  ASSERT_EQ(GetAcpiIoBase(&Base), EFI_SUCCESS);
  EXPECT_EQ(DelayReadings(Rig, Base, 0).Count, 0u);
}

TEST(PmTimerDelay, EndsAtTheFirstReadingPastTheTicks) {
  FlashRig Rig;
  UINT16 Base = 0;
  ASSERT_EQ(GetAcpiIoBase(&Base), EFI_SUCCESS);
  // 10 us is 35 ticks: the wait ends at the first reading at or past start + 36.
  // Each 10 us delay starts elsewhere in the counter's period.
  for (uint64_t Microseconds : {10ull, 100ull, 1000ull}) {
    TimerReadings R = DelayReadings(Rig, Base, Microseconds);
    uint64_t Needed = Microseconds * 358 / 100 + 1;
    ASSERT_GE(R.Count, 2u);
    EXPECT_GE(R.Elapsed, Needed) << Microseconds;
    EXPECT_LT(R.ElapsedBefore, Needed) << Microseconds;
  }
}

TEST(PmTimerDelay, LongerThanOnePeriodCountsRollOvers) {
  FlashRig Rig;
  UINT16 Base = 0;
  ASSERT_EQ(GetAcpiIoBase(&Base), EFI_SUCCESS);
  // 5 s is more than one period of the 24-bit counter (about 4.69 s).
  uint64_t Start = SimTimeNs(Rig.Platform);
  TimerReadings R = DelayReadings(Rig, Base, 5000000);
  uint64_t Needed = 5000000ull * 358 / 100 + 1;
  EXPECT_GE(R.Elapsed, Needed);
  EXPECT_LT(R.ElapsedBefore, Needed);
  EXPECT_GE(SimTimeNs(Rig.Platform) - Start, 4990000000ull);
}

}  // namespace
