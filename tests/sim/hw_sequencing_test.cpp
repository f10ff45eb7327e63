// Hardware-sequenced cycles on the default platform (one W25Q128BV, valid
// descriptor granting the host every region).
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
