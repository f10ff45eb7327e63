// Hardware-sequenced cycles on the default platform (one W25Q128BV, valid
// descriptor granting the host every region).
#include <algorithm>

#include "sim_harness.h"

using namespace simtest;

namespace {

TEST(HwSequencing, JedecIdCycleReturnsTheChipsBytesInTheOrderSent) {
  Platform P;
  ASSERT_TRUE(P);
  const uint32_t Status = P.HwCycle(CYCLE_JEDEC_ID, 0, 3);
  EXPECT_EQ(Status & (FDONE | FCERR | SCIP), FDONE);
  EXPECT_EQ(P.Spi(FDATA) & 0xFFFFFF, 0x1840EFu);
  EXPECT_EQ(P.Counters().HwCycles[SimCycleReadJedecId], 1u);
}

TEST(HwSequencing, ReadReturnsFlashBytesAfterTheCycleEnds) {
  Platform P;
  const std::vector<uint8_t> Flash = P.Flash();
  std::vector<uint8_t> Data;
  EXPECT_EQ(P.HwRead(0x800040, 64, &Data) & (FDONE | FCERR), FDONE);
  EXPECT_EQ(Data, std::vector<uint8_t>(Flash.begin() + 0x800040, Flash.begin() + 0x800080));
}

TEST(HwSequencing, EraseThenWriteChangesOnlyTheTargetedBytes) {
  Platform P;
  const std::vector<uint8_t> Before = P.Flash();
  P.EnableWrites();
  EXPECT_EQ(P.HwErase(0x801000) & (FDONE | FCERR), FDONE);
  const std::vector<uint8_t> Data = Pattern(64, 3);
  EXPECT_EQ(P.HwWrite(0x801100, Data) & (FDONE | FCERR), FDONE);
  const std::vector<uint8_t> After = P.Flash();
  for (uint32_t A = 0; A < After.size(); A++) {
    uint8_t Expected = Before[A];
    if (A >= 0x801000 && A < 0x802000) Expected = 0xFF;
    if (A >= 0x801100 && A < 0x801140) Expected = Data[A - 0x801100];
    ASSERT_EQ(After[A], Expected) << "at " << std::hex << A;
  }
}

}  // namespace

namespace {

TEST(HwSequencing, ByteGranularityPartsGetOneProgramCommandPerByte) {
  // SST 25LF080A programs one byte per 02h; firmware leaves WG = 1 byte, so the
  // controller splits the cycle.
  Platform P([](SimConfig &S) { S.ChipIndex = SimFindChipByName("25LF080A"); });
  EXPECT_EQ(P.Spi(LVSCC) & 0x4, 0u);
  P.EnableWrites();
  EXPECT_EQ(P.HwErase(0x80000) & (FDONE | FCERR), FDONE);
  const std::vector<uint8_t> Data = Pattern(16, 9);
  EXPECT_EQ(P.HwWrite(0x80010, Data) & (FDONE | FCERR), FDONE);
  const std::vector<uint8_t> F = P.Flash();
  EXPECT_TRUE(std::equal(Data.begin(), Data.end(), F.begin() + 0x80010));
  EXPECT_EQ(SimProgrammedRangeCount(P.Get()), 16u);
}

TEST(HwSequencing, SixtyFourByteGranularityOnAByteProgramPartLosesBytes) {
  // A driver that sets WG = 64 bytes for such a part (VSCC unlocked) gets only
  // the first byte of each cycle programmed, as on a board.
  Platform P([](SimConfig &S) {
    S.ChipIndex = SimFindChipByName("25LF080A");
    S.VsccUnlocked = true;
  });
  P.SpiWrite(LVSCC, P.Spi(LVSCC) | 0x4);
  P.EnableWrites();
  P.HwErase(0x80000);
  EXPECT_EQ(P.HwWrite(0x80010, {0x11, 0x22, 0x33, 0x44}) & FDONE, FDONE);
  const std::vector<uint8_t> F = P.Flash();
  EXPECT_EQ(F[0x80010], 0x11);
  EXPECT_EQ(F[0x80011], 0xFF);
}

TEST(HwSequencing, WriteStatusCycleAndVsccStatusClearBeforeWrites) {
  Platform P([](SimConfig &S) { S.VsccUnlocked = true; });
  P.EnableWrites();
  P.SpiWrite(FDATA, 0x1C, 8);  // block-protect bits
  EXPECT_EQ(P.HwCycle(CYCLE_WRITE_STATUS, 0, 1) & FDONE, FDONE);
  EXPECT_EQ(P.HwCycle(CYCLE_READ_STATUS, 0, 1) & FDONE, FDONE);
  EXPECT_EQ(P.Spi(FDATA, 8), 0x1Cu);
  // WEWS: the controller sends 06h, 01h 00h before the erase.
  P.SpiWrite(LVSCC, P.Spi(LVSCC) | 0x10);
  EXPECT_EQ(P.HwErase(0x801000) & FDONE, FDONE);
  EXPECT_EQ(P.HwCycle(CYCLE_READ_STATUS, 0, 1) & FDONE, FDONE);
  EXPECT_EQ(P.Spi(FDATA, 8), 0x00u);
  EXPECT_EQ(P.Counters().HwCycles[SimCycleWriteStatus], 1u);
}

TEST(HwSequencing, ReadSfdpOnAModernPart) {
  Platform P;
  EXPECT_EQ(P.HwCycle(CYCLE_READ_SFDP, 0, 8) & FDONE, FDONE);
  EXPECT_EQ(P.Spi(FDATA), 0x50444653u);  // "SFDP"
  Platform Old([](SimConfig &S) { S.ChipIndex = SimFindChipByName("M25PE80"); });
  EXPECT_EQ(Old.HwCycle(CYCLE_READ_SFDP, 0, 4) & FDONE, FDONE);
  EXPECT_EQ(Old.Spi(FDATA), 0xFFFFFFFFu);
}

TEST(HwSequencing, EraseCoversTheBlockHoldingFaddr) {
  Platform P;
  P.EnableWrites();
  EXPECT_EQ(P.HwErase(0x923456, true) & FDONE, FDONE);
  EXPECT_EQ(P.HwErase(0x9A5FFF) & FDONE, FDONE);
  ASSERT_EQ(SimErasedRangeCount(P.Get()), 2u);
  EXPECT_EQ(SimErasedRange(P.Get(), 0).Base, 0x920000u);
  EXPECT_EQ(SimErasedRange(P.Get(), 0).End, 0x930000u);
  EXPECT_EQ(SimErasedRange(P.Get(), 1).Base, 0x9A5000u);
  EXPECT_EQ(SimErasedRange(P.Get(), 1).End, 0x9A6000u);
  EXPECT_EQ(P.Counters().FlashModifyingCycles, 2u);
}

}  // namespace
