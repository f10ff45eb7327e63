// Injected faults and the platform variants: failing and stuck cycles, power
// loss, two components, no descriptor, timing of a cycle, the trace.
#include "sim_harness.h"

using namespace simtest;

namespace {

TEST(FailCycle, TheNthHardwareCycleEndsWithFcerr) {
  Platform P([](SimConfig &S) { S.FailCycle = 2; });
  EXPECT_EQ(P.HwCycle(CYCLE_JEDEC_ID, 0, 3) & (FDONE | FCERR), FDONE);
  EXPECT_EQ(P.HwCycle(CYCLE_JEDEC_ID, 0, 3) & (FDONE | FCERR), FCERR);
  EXPECT_EQ(P.HwCycle(CYCLE_JEDEC_ID, 0, 3) & (FDONE | FCERR), FDONE);
  EXPECT_EQ(P.Counters().HwCyclesFailed, 1u);
  EXPECT_EQ(P.Counters().HwCycles[SimCycleReadJedecId], 3u);
}

TEST(StuckBusy, CycleNeverFinishesAndBlocksTheNext) {
  Platform P([](SimConfig &S) { S.StuckBusy = true; });
  const std::vector<uint8_t> Before = P.Flash();
  P.EnableWrites();
  EXPECT_NE(P.HwCycle(CYCLE_ERASE_4K, 0x800000, 1) & SCIP, 0u);  // still after the polls
  EXPECT_NE(P.Spi(HSFSTS) & SCIP, 0u);
  P.SpiWrite(HSFSTS, (CYCLE_READ << 17) | FGO);
  EXPECT_NE(P.Spi(HSFSTS) & FCERR, 0u);
  EXPECT_TRUE(P.Flash() == Before);
}

TEST(PowerLoss, NothingReachesTheChipAfterTheNthModifyingCycle) {
  Platform P([](SimConfig &S) { S.PowerLossAfter = 2; });
  P.EnableWrites();
  EXPECT_EQ(P.HwErase(0x800000) & FDONE, FDONE);
  EXPECT_FALSE(SimInterrupted(P.Get()));
  const std::vector<uint8_t> Data(64, 0x5A);
  EXPECT_EQ(P.HwWrite(0x800000, Data) & FDONE, FDONE);
  EXPECT_TRUE(SimInterrupted(P.Get()));
  const std::vector<uint8_t> Kept = P.Flash();
  P.HwErase(0x800000);
  P.HwWrite(0x800040, std::vector<uint8_t>(64, 0x00));
  EXPECT_TRUE(P.Flash() == Kept);
  EXPECT_EQ(Kept[0x800000], 0x5A);
  EXPECT_EQ(Kept[0x800040], 0xFF);
  EXPECT_EQ(P.Counters().FlashModifyingCycles, 2u);
  std::vector<uint8_t> Read;
  P.HwRead(0x800000, 8, &Read);
  EXPECT_EQ(Read, std::vector<uint8_t>(8, 0xFF));  // a dead chip does not drive the bus
}

TEST(PowerLoss, ReadsDoNotCountAsModifyingCycles) {
  Platform P([](SimConfig &S) { S.PowerLossAfter = 1; });
  for (int I = 0; I < 3; I++) P.HwRead(0x800000, 64, nullptr);
  P.HwCycle(CYCLE_JEDEC_ID, 0, 3);
  EXPECT_FALSE(SimInterrupted(P.Get()));
}

TEST(TwoComponents, AddressesAboveTheFirstChipGoToTheSecond) {
  Platform P([](SimConfig &S) {
    S.Components = 2;
    S.ChipIndex = SimFindChipByName("25L6405D");
  });
  ASSERT_EQ(SimFlashSize(P.Get()), 0x1000000u);
  P.SpiWrite(FDOC, 0x0004);
  EXPECT_EQ((P.Spi(FDOD) >> 8) & 3, 1u);  // NC
  P.SpiWrite(FDOC, 0x1000);
  EXPECT_EQ(P.Spi(FDOD) & 0xFF, 0x44u);  // two 8 MiB components
  EXPECT_EQ(P.HwCycle(CYCLE_JEDEC_ID, 0x800000, 3) & FDONE, FDONE);
  EXPECT_EQ(P.Spi(FDATA) & 0xFFFFFF, 0x1720C2u);
  P.EnableWrites();
  EXPECT_EQ(P.HwErase(0x810000, true) & FDONE, FDONE);
  EXPECT_EQ(P.HwWrite(0x810000, {0x12, 0x34}) & FDONE, FDONE);
  const std::vector<uint8_t> F = P.Flash();
  EXPECT_EQ(F[0x810000], 0x12);
  EXPECT_EQ(F[0x810002], 0xFF);
  ASSERT_EQ(SimErasedRangeCount(P.Get()), 1u);
  EXPECT_EQ(SimErasedRange(P.Get(), 0).Base, 0x810000u);
  EXPECT_EQ(SimErasedRange(P.Get(), 0).End, 0x820000u);
  // A read across the component boundary is refused.
  EXPECT_NE(P.HwRead(0x7FFFF8, 16, nullptr) & FCERR, 0u);
}

TEST(Timing, CycleTakesBusTimePlusChipBusyTime) {
  Platform P;
  P.EnableWrites();
  P.SpiWrite(HSFSTS, FDONE | FCERR | AEL);
  P.SpiWrite(FADDR, 0x801000);
  const uint64_t Start = P.Now();
  P.SpiWrite(HSFSTS, (CYCLE_ERASE_4K << 17) | FGO);
  uint32_t Status = P.Spi(HSFSTS);
  uint64_t LastBusy = Start;
  while (Status & SCIP) {
    LastBusy = P.Now();
    Status = P.Spi(HSFSTS);
  }
  // WREN (1 byte), erase (4 bytes), one status read (2 bytes) at 48 MHz, and 45 ms.
  const uint64_t Expected = 45000000 + 167 + 667 + 334;
  EXPECT_GE(LastBusy - Start, Expected - 1000);
  EXPECT_LE(LastBusy - Start, Expected + 1000);
  EXPECT_EQ(Status & FDONE, FDONE);
}

TEST(Timing, SixtyFourByteReadTakesItsBytesOnTheBus) {
  Platform P;
  P.SpiWrite(FADDR, 0x800000);
  const uint64_t Start = P.Now();
  P.SpiWrite(HSFSTS, (63u << 24) | (CYCLE_READ << 17) | FGO);
  // 0Bh, three address bytes, a dummy byte and 64 data bytes: 69 bytes = 11.5 us.
  while (P.Spi(HSFSTS) & SCIP) {
  }
  const uint64_t Took = P.Now() - Start;
  EXPECT_GE(Took, 11500u);
  EXPECT_LE(Took, 12500u);
}

// A page program takes its first byte's time and each further byte's, up to the
// whole-page time (W25X40 byte figures, W25Q128JV page time); SST parts program one
// byte per command.
TEST(Timing, ProgramTimeFollowsTheBytesProgrammed) {
  const SimChipModel *Paged = SimChipAt(static_cast<uint32_t>(SimFindChipByName("W25Q128BV")));
  const SimChipModel *Sst = SimChipAt(static_cast<uint32_t>(SimFindChipByName("25LF040A")));
  const struct {
    const SimChipModel *Chip;
    uint32_t Bytes;
    uint64_t Ns;
  } Cases[] = {
      {Paged, 1, 30000},    {Paged, 2, 32500},    {Paged, 64, 187500},  {Paged, 148, 397500},
      {Paged, 149, 400000}, {Paged, 256, 400000}, {Paged, 300, 400000}, {Sst, 1, 10000},
  };
  for (const auto &Case : Cases) {
    EXPECT_EQ(SimProgramNs(Case.Chip, Case.Bytes), Case.Ns) << Case.Chip->Name << " " << Case.Bytes;
  }

  // Through the controller: WREN, the program command, the chip's busy time from
  // chip select rising, and the status read that finds it ready.
  const auto Bus = [](uint64_t Bytes) { return (Bytes * 8 * 1000000000ull + 47999999) / 48000000; };
  for (const uint32_t Bytes : {1u, 64u}) {
    Platform P;
    P.EnableWrites();
    P.PutData(std::vector<uint8_t>(Bytes, 0x00));
    P.SpiWrite(HSFSTS, FDONE | FCERR | AEL);
    P.SpiWrite(FADDR, 0x800000);
    const uint64_t Start = P.Now();
    P.SpiWrite(HSFSTS, ((Bytes - 1) << 24) | (CYCLE_WRITE << 17) | FGO);
    while (P.Spi(HSFSTS) & SCIP) {
    }
    const uint64_t Took = P.Now() - Start;
    const uint64_t Expected = Bus(1) + Bus(4 + Bytes) + SimProgramNs(Paged, Bytes) + Bus(2);
    EXPECT_GE(Took, Expected) << Bytes;
    EXPECT_LE(Took, Expected + 1000) << Bytes;
  }
}

TEST(Timing, FdataHoldsOldBytesUntilTheReadCycleEnds) {
  Platform P;
  P.SpiWrite(FDATA, 0xA5A5A5A5);
  P.SpiWrite(FADDR, 0x800000);
  P.SpiWrite(HSFSTS, (63u << 24) | (CYCLE_READ << 17) | FGO);
  EXPECT_EQ(P.Spi(FDATA), 0xA5A5A5A5u);
  P.WaitHw();
  const std::vector<uint8_t> F = P.Flash();
  EXPECT_EQ(P.Spi(FDATA, 8), F[0x800000]);
}

struct Recorded {
  std::vector<SimEvent> Events;
};

void Record(void *Context, const SimEvent *Event) {
  static_cast<Recorded *>(Context)->Events.push_back(*Event);
}

TEST(Trace, EveryAccessAndBarrierWithTimeKindWidthAddressAndValue) {
  Platform P;
  Recorded R;
  SimSetTraceHook(P.Get(), &Record, &R);
  P.Read(SPI_CFG);
  P.Write(DEFAULT_BAR + FADDR, 0x1234, 16);
  SimBarrier(P.Get());
  P.In(SMI_EN);
  P.Out(RST_CNT, 0x02, 8);
  ASSERT_EQ(R.Events.size(), 5u);
  EXPECT_EQ(R.Events[0].Kind, SimEventMemoryRead);
  EXPECT_EQ(R.Events[0].Address, SPI_CFG);
  EXPECT_EQ(R.Events[0].Value, 0xA1248086u);
  EXPECT_EQ(R.Events[0].WidthBits, 32u);
  EXPECT_EQ(R.Events[1].Kind, SimEventMemoryWrite);
  EXPECT_EQ(R.Events[1].TimeNs, R.Events[0].TimeNs + 500);
  EXPECT_EQ(R.Events[1].WidthBits, 16u);
  EXPECT_EQ(R.Events[2].Kind, SimEventBarrier);
  EXPECT_EQ(R.Events[2].WidthBits, 0u);
  EXPECT_EQ(R.Events[3].Kind, SimEventPortRead);
  EXPECT_EQ(R.Events[3].Address, SMI_EN);
  EXPECT_EQ(R.Events[4].Kind, SimEventPortWrite);
  EXPECT_EQ(R.Events[4].Value, 0x02u);
  EXPECT_EQ(R.Events[4].TimeNs, R.Events[3].TimeNs + 1000);
}

TEST(Creation, InvalidConfigurationsGiveNoPlatform) {
  Platform BadChip([](SimConfig &S) { S.ChipIndex = 99; });
  EXPECT_FALSE(BadChip);
  Platform BadCount([](SimConfig &S) { S.Components = 3; });
  EXPECT_FALSE(BadCount);
  std::vector<uint8_t> Short(0x1000, 0xFF);
  Platform BadImage({}, &Short);
  EXPECT_FALSE(BadImage);
}

TEST(Creation, GivenFlashImageIsUsedAsIs) {
  std::vector<uint8_t> Image(0x1000000, 0xFF);
  Image[0x800000] = 0x42;
  Platform P({}, &Image);
  ASSERT_TRUE(P);
  EXPECT_EQ(P.Spi(HSFSTS) & FDV, 0u);  // all ones: no descriptor
  EXPECT_TRUE(P.Flash() == Image);
}

}  // namespace
