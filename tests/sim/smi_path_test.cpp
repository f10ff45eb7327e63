// BIOS write protection as firmware leaves it: with LE set, setting BIOSWE raises
// an SMI, and the SMM handler clears BIOSWE again whenever SMIs get through.
#include "sim_harness.h"

using namespace simtest;

namespace {

constexpr uint32_t GBL_SMI_EN = 1u << 0;
constexpr uint32_t TCO_EN = 1u << 13;
constexpr uint16_t SMI_STS = ABASE + 0x34;
constexpr uint32_t TCO_STS = 1u << 13;

TEST(SmiPath, BioswDoesNotStickWithLockEnableAndSmisOn) {
  Platform P;
  ASSERT_EQ(P.In(SMI_EN) & (GBL_SMI_EN | TCO_EN), GBL_SMI_EN | TCO_EN);
  P.SetBiosControl(P.BiosControl() | BIOSWE);
  EXPECT_EQ(P.BiosControl() & BIOSWE, 0);
  EXPECT_EQ(P.Read(SPI_CFG + 0xDC, 16) & 0x100, 0u);  // the handler cleared SPI_SYNC_SS
  // ... so a write to the BIOS region is refused.
  P.PutData(std::vector<uint8_t>(8, 0));
  EXPECT_NE(P.HwCycle(CYCLE_WRITE, 0x800000, 8) & FCERR, 0u);
}

TEST(SmiPath, BioswSticksWhileGlobalSmiEnableIsClear) {
  Platform P;
  P.Out(SMI_EN, P.In(SMI_EN) & ~GBL_SMI_EN);
  P.SetBiosControl(P.BiosControl() | BIOSWE);
  EXPECT_EQ(P.BiosControl() & BIOSWE, BIOSWE);
  // The SMI is still pending: SPI_SYNC_SS set, write-one-to-clear.
  EXPECT_EQ(P.Read(SPI_CFG + 0xDC, 16) & 0x100, 0x100u);
  EXPECT_EQ(P.In(SMI_STS) & TCO_STS, TCO_STS);
  // Turning SMIs back on delivers it, and the handler clears BIOSWE.
  P.Out(SMI_EN, P.In(SMI_EN) | GBL_SMI_EN);
  EXPECT_EQ(P.BiosControl() & BIOSWE, 0);
  EXPECT_EQ(P.Read(SPI_CFG + 0xDC, 16) & 0x100, 0u);
}

TEST(SmiPath, PendingStatusClearedBySoftwareIsNotDeliveredLater) {
  Platform P;
  P.Out(SMI_EN, P.In(SMI_EN) & ~GBL_SMI_EN);
  P.SetBiosControl(P.BiosControl() | BIOSWE);
  P.Write(SPI_CFG + 0xDD, 0x01, 8);  // SPI_SYNC_SS, bit 8: write one to clear
  EXPECT_EQ(P.Read(SPI_CFG + 0xDC, 16) & 0x100, 0u);
  P.Out(SMI_EN, P.In(SMI_EN) | GBL_SMI_EN);
  EXPECT_EQ(P.BiosControl() & BIOSWE, BIOSWE);
}

TEST(SmiPath, BioswSticksWhenTheTcoSourceIsDisabled) {
  Platform P;
  P.Out(SMI_EN, P.In(SMI_EN) & ~TCO_EN);
  P.SetBiosControl(P.BiosControl() | BIOSWE);
  EXPECT_EQ(P.BiosControl() & BIOSWE, BIOSWE);
}

TEST(SmiPath, WithoutLockEnableBioswIsPlainReadWrite) {
  Platform P([](SimConfig &S) { S.NoBle = true; });
  P.SetBiosControl(P.BiosControl() | BIOSWE);
  EXPECT_EQ(P.BiosControl() & BIOSWE, BIOSWE);
  EXPECT_EQ(P.Read(SPI_CFG + 0xDC, 16) & 0x100, 0u);
}

TEST(SmiPath, BioswNeverSticksWithSmiLock) {
  Platform P([](SimConfig &S) { S.SmiLock = true; });
  P.Out(SMI_EN, 0);  // GBL_SMI_EN and TCO_EN are locked on
  EXPECT_EQ(P.In(SMI_EN) & (GBL_SMI_EN | TCO_EN), GBL_SMI_EN | TCO_EN);
  P.SetBiosControl(P.BiosControl() | BIOSWE);
  EXPECT_EQ(P.BiosControl() & BIOSWE, 0);
  // Other SMI_EN bits stay writable.
  P.Out(SMI_EN, GBL_SMI_EN | TCO_EN);
  EXPECT_EQ(P.In(SMI_EN), GBL_SMI_EN | TCO_EN);
}

TEST(SmiCounter, CountsAccessesWhileSmisAreOnDuringAWriteOrErase) {
  // Without LE, BIOSWE sticks even with SMIs on: a driver that forgets to turn
  // SMIs off still gets its erase through, and the counter shows it.
  Platform Careless([](SimConfig &S) { S.NoBle = true; });
  Careless.SetBiosControl(Careless.BiosControl() | BIOSWE);
  EXPECT_EQ(Careless.HwErase(0x801000) & FDONE, FDONE);
  EXPECT_GT(Careless.Counters().SmiEnabledDuringWriteErase, 1000u);

  Platform Careful([](SimConfig &S) { S.NoBle = true; });
  Careful.EnableWrites();
  EXPECT_EQ(Careful.HwErase(0x801000) & FDONE, FDONE);
  Careful.Out(SMI_EN, Careful.In(SMI_EN) | GBL_SMI_EN);
  EXPECT_EQ(Careful.Counters().SmiEnabledDuringWriteErase, 0u);
  // Reads with SMIs on are not counted.
  EXPECT_EQ(Careful.HwRead(0x801000, 64, nullptr) & FDONE, FDONE);
  EXPECT_EQ(Careful.Counters().SmiEnabledDuringWriteErase, 0u);
}

}  // namespace
