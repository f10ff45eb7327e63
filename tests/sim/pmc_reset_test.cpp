// The PM timer, simulated time per access, and the reset-control port 0xCF9.
#include "sim/sim_internal.h"  // SimAdvance: moving the clock without accesses
#include "sim_harness.h"

using namespace simtest;

namespace {

uint32_t ExpectedTicks(uint64_t Ns) {
  return static_cast<uint32_t>(
      static_cast<uint64_t>(static_cast<unsigned __int128>(Ns) * 3579545 / 1000000000) & 0xFFFFFF);
}

TEST(PmTimer, CountsAt3579545HzOfSimulatedTime) {
  Platform P;
  const uint64_t T0 = P.Now();
  const uint32_t Start = P.In(PM1_TMR);
  EXPECT_EQ(Start, ExpectedTicks(T0));
  for (int I = 0; I < 9999; I++) P.In(PM1_TMR);  // port accesses take 1 us each
  const uint64_t T1 = P.Now();
  const uint32_t End = P.In(PM1_TMR);
  EXPECT_EQ(T1 - T0, 10000u * 1000u);  // the first read and 9999 more
  EXPECT_EQ(End, ExpectedTicks(T1));
  EXPECT_NEAR(static_cast<double>(End - Start), 10e-3 * 3579545, 1.0);
  EXPECT_EQ(P.In(PM1_TMR) & 0xFF000000u, 0u);  // 24 bits
}

TEST(PmTimer, WrapsAfterTwoToTheTwentyFourTicks) {
  Platform P;
  // 2^24 ticks at 3.579545 MHz are about 4.687 s; stop 1 ms short of that.
  SimAdvance(P.Get(), 4686902000ull - P.Now());
  const uint32_t Before = P.In(PM1_TMR);
  EXPECT_GT(Before, 0xFFFFFFu - 3600);
  SimAdvance(P.Get(), 2000000);  // 2 ms later the counter has rolled over
  const uint64_t Now = P.Now();
  const uint32_t After = P.In(PM1_TMR);
  EXPECT_EQ(After, ExpectedTicks(Now));
  EXPECT_LT(After, 7200u);
}

TEST(PmTimer, AdvancesWhileAChipEraseRuns) {
  // A chip erase with ACS (the controller waits for the chip) takes 8 x 150 ms
  // on a 512 KiB part; polling the cycle costs time, and the timer follows it.
  Platform P([](SimConfig &S) {
    S.NoDescriptor = true;
    S.ChipIndex = SimFindChipByName("25LF040");
  });
  const uint8_t Menu[8] = {0xC7, 0x05, 0, 0, 0, 0, 0, 0};
  P.SetMenu(Menu, 0x0001, 0x0006);
  const uint32_t Before = P.In(PM1_TMR);
  ASSERT_EQ(P.SwCycle(0, 0, true, 0) & 0x0C, 0x04);
  EXPECT_GT(P.Now(), 1200000000ull);
  const uint32_t After = P.In(PM1_TMR);
  EXPECT_NEAR(static_cast<double>(After - Before), 1.2 * 3579545, 0.001 * 3579545);
  EXPECT_EQ(P.Flash()[0x12345], 0xFF);
}

TEST(AccessCost, MemoryHalfAMicrosecondPortOneMicrosecond) {
  Platform P;
  const uint64_t T0 = P.Now();
  P.Read(SPI_CFG);
  EXPECT_EQ(P.Now() - T0, 500u);
  P.In(SMI_EN);
  EXPECT_EQ(P.Now() - T0, 1500u);
  SimBarrier(P.Get());
  EXPECT_EQ(P.Now() - T0, 1500u);
}

TEST(ResetControl, HardResetOnRstCpuRiseWithSysRst) {
  Platform P;
  P.Out(RST_CNT, 0x02, 8);
  EXPECT_EQ(SimGetReset(P.Get()), SimResetNone);
  EXPECT_EQ(P.In(RST_CNT, 8), 0x02u);
  P.Out(RST_CNT, 0x06, 8);
  EXPECT_EQ(SimGetReset(P.Get()), SimResetHard);
}

TEST(ResetControl, FullResetWithFullRst) {
  Platform P;
  P.Out(RST_CNT, 0x00, 8);
  P.Out(RST_CNT, 0x0E, 8);
  EXPECT_EQ(SimGetReset(P.Get()), SimResetFull);
}

TEST(ResetControl, NoResetWithoutARiseOfRstCpuOrWithoutSysRst) {
  Platform P;
  P.Out(RST_CNT, 0x04, 8);  // soft reset: not a platform reset
  EXPECT_EQ(SimGetReset(P.Get()), SimResetNone);
  P.Out(RST_CNT, 0x06, 8);  // RST_CPU already set: no rise
  EXPECT_EQ(SimGetReset(P.Get()), SimResetNone);
  P.Out(RST_CNT - 1, 0x06060606, 32);  // a dword at 0xCF8 is not RST_CNT
  P.Out(RST_CNT, 0x02, 8);
  P.Out(RST_CNT, 0x06, 16);
  EXPECT_EQ(SimGetReset(P.Get()), SimResetNone);
}

TEST(ResetControl, EveryAccessAfterAResetIsCountedAndIgnored) {
  Platform P;
  P.EnableWrites();
  P.Out(RST_CNT, 0x06, 8);
  const std::vector<uint8_t> Before = P.Flash();
  const uint64_t Time = P.Now();
  EXPECT_EQ(P.Read(SPI_CFG), 0xFFFFFFFFu);
  EXPECT_EQ(P.In(PM1_TMR), 0xFFFFFFFFu);
  P.SpiWrite(FADDR, 0x800000);
  P.SpiWrite(HSFSTS, (CYCLE_ERASE_4K << 17) | FGO);
  EXPECT_EQ(P.Spi(HSFSTS), 0xFFFFFFFFu);
  EXPECT_EQ(P.Counters().AccessesAfterReset, 5u);
  EXPECT_EQ(P.Counters().HwCycles[SimCycleErase4k], 0u);
  EXPECT_TRUE(P.Flash() == Before);
  EXPECT_EQ(P.Now(), Time);
}

}  // namespace
