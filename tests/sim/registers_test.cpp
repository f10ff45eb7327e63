// Register behaviour of the SPI controller and PCI configuration space:
// write-one-to-clear bits, read-only fields, access widths, BAR0 decoding.
#include "sim_harness.h"

using namespace simtest;

namespace {

TEST(HsfstsCtl, StatusBitsClearOnlyWhenOneIsWritten) {
  Platform P;
  P.SpiWrite(FADDR, 0);
  P.SpiWrite(HSFSTS, (CYCLE_READ << 17) | FGO);  // ends with FDONE
  P.WaitHw();
  P.SpiWrite(FADDR, 0x1000000);
  P.SpiWrite(HSFSTS, (CYCLE_READ << 17) | FGO);  // beyond the flash: FCERR as well
  ASSERT_EQ(P.WaitHw() & (FDONE | FCERR), FDONE | FCERR);

  P.SpiWrite(HSFSTS, 0);  // zeros leave status alone
  EXPECT_EQ(P.Spi(HSFSTS) & (FDONE | FCERR), FDONE | FCERR);
  P.SpiWrite(HSFSTS, FCERR, 8);  // a byte write clears just that bit
  EXPECT_EQ(P.Spi(HSFSTS) & (FDONE | FCERR), FDONE);
  P.SpiWrite(HSFSTS, FDONE, 16);
  EXPECT_EQ(P.Spi(HSFSTS) & (FDONE | FCERR), 0u);
}

TEST(HsfstsCtl, ReadOnlyBitsIgnoreWritesAndFgoReadsZero) {
  Platform P;
  const uint32_t Before = P.Spi(HSFSTS);
  EXPECT_NE(Before & FDV, 0u);
  P.SpiWrite(HSFSTS, 0);
  EXPECT_NE(P.Spi(HSFSTS) & FDV, 0u);  // FDV stays
  P.SpiWrite(HSFSTS, SCIP);
  EXPECT_EQ(P.Spi(HSFSTS) & SCIP, 0u);  // SCIP cannot be set by software
  P.SpiWrite(HSFSTS, (CYCLE_JEDEC_ID << 17) | (2u << 24) | FGO);
  P.WaitHw();
  const uint32_t After = P.Spi(HSFSTS);
  EXPECT_EQ(After & FGO, 0u);
  EXPECT_EQ((After >> 17) & 0xF, CYCLE_JEDEC_ID);  // FCYCLE and FDBC read back
  EXPECT_EQ((After >> 24) & 0x3F, 2u);
}

TEST(HsfstsCtl, FgoByteWriteAtOffset6StartsTheCycle) {
  Platform P;
  P.SpiWrite(HSFSTS + 2, (CYCLE_JEDEC_ID << 1) | 1, 8);  // FCYCLE and FGO in byte 2
  EXPECT_EQ(P.WaitHw() & FDONE, FDONE);
  EXPECT_EQ(P.Spi(FDATA, 8), 0xEFu);
}

TEST(SsfstsCtl, StatusByteAndControlWordAtEveryWidth) {
  Platform P([](SimConfig &S) { S.NoDescriptor = true; });
  // The 16-bit control word at 0xA1 carries SSFSTS_CTL bits 23:8.
  P.SpiWrite(SSFSTS + 1, 0x3F54, 16);  // COP 5, ACS, DBC 0x3F, no DS, no SCGO
  EXPECT_EQ(P.Spi(SSFSTS) & 0x3FFF00u, 0x3F5400u);
  EXPECT_EQ(P.Spi(SSFSTS + 1, 16), 0x3F54u);
  EXPECT_EQ(P.Spi(SSFSTS + 2, 8), 0x3Fu);
  // Reserved bits 8, 15 and 31:27 read 0.
  P.SpiWrite(SSFSTS, 0xF8008100u);
  EXPECT_EQ(P.Spi(SSFSTS) & 0xF8008100u, 0u);

  // Run RDSR (firmware menu slot 3, read without address) through FDATA.
  EXPECT_EQ(P.SwCycle(3, 0, false, 1) & 0x0C, 0x04);
  EXPECT_EQ(P.Spi(SSFSTS, 8) & 0x04, 0x04u);
  P.SpiWrite(SSFSTS, 0x00, 8);  // zero leaves FDONE
  EXPECT_EQ(P.Spi(SSFSTS, 8) & 0x04, 0x04u);
  P.SpiWrite(SSFSTS, 0x04, 8);
  EXPECT_EQ(P.Spi(SSFSTS, 8) & 0x0C, 0x00u);
}

TEST(Fdata, ByteWordAndDwordAccessesReachTheSameBuffer) {
  Platform P;
  P.SpiWrite(FDATA + 0, 0x44332211);
  P.SpiWrite(FDATA + 4, 0x6655, 16);
  P.SpiWrite(FDATA + 6, 0x77, 8);
  P.SpiWrite(FDATA + 63, 0xAB, 8);
  EXPECT_EQ(P.Spi(FDATA + 1, 8), 0x22u);
  EXPECT_EQ(P.Spi(FDATA + 2, 16), 0x4433u);
  EXPECT_EQ(P.Spi(FDATA + 4) & 0xFFFFFF, 0x776655u);
  EXPECT_EQ(P.Spi(FDATA + 60) >> 24, 0xABu);
}

TEST(Faddr, HoldsTwentySevenBits) {
  Platform P;
  P.SpiWrite(FADDR, 0xFFFFFFFF);
  EXPECT_EQ(P.Spi(FADDR), 0x07FFFFFFu);
}

TEST(DescriptorRegisters, RegionsPermissionsAndBfpregAreReadOnly) {
  Platform P;
  EXPECT_EQ(P.Spi(FREG0 + 0), 0x00000000u);
  EXPECT_EQ(P.Spi(FREG0 + 4), 0x0FFF0800u);  // BIOS 0x800000-0xFFFFFF
  EXPECT_EQ(P.Spi(FREG0 + 8), 0x07FF0001u);  // ME 0x001000-0x7FFFFF
  for (uint32_t N = 3; N < 6; N++) EXPECT_EQ(P.Spi(FREG0 + 4 * N), 0x00007FFFu);
  EXPECT_EQ(P.Spi(BFPREG), 0x0FFF0800u);
  EXPECT_EQ(P.Spi(FRAP) & 0xFFFF, 0xFFFFu);
  P.SpiWrite(FREG0 + 4, 0);
  P.SpiWrite(BFPREG, 0);
  P.SpiWrite(FRAP, 0);
  EXPECT_EQ(P.Spi(FREG0 + 4), 0x0FFF0800u);
  EXPECT_EQ(P.Spi(BFPREG), 0x0FFF0800u);
  EXPECT_EQ(P.Spi(FRAP) & 0xFFFF, 0xFFFFu);
}

TEST(DescriptorRegisters, LockedDescriptorGivesProductionPermissions) {
  Platform P([](SimConfig &S) { S.LockedDescriptor = true; });
  EXPECT_EQ(P.Spi(FRAP) & 0xFFFF, 0x0A0Fu);  // read 0-3, write 1 and 3
  P.SpiWrite(FDOC, 0x3000);
  EXPECT_EQ(P.Spi(FDOD), 0x00A00F00u);
  SimLiftDescriptorLimits(P.Get());
  EXPECT_EQ(P.Spi(FRAP) & 0xFFFF, 0xFFFFu);
}

TEST(DescriptorRegisters, WithoutDescriptorRegionsAndPermissionsReadZero) {
  Platform P([](SimConfig &S) { S.NoDescriptor = true; });
  EXPECT_EQ(P.Spi(HSFSTS) & FDV, 0u);
  EXPECT_EQ(P.Spi(FRAP), 0u);
  for (uint32_t N = 0; N < 6; N++) EXPECT_EQ(P.Spi(FREG0 + 4 * N), 0u);
  EXPECT_EQ(P.Spi(BFPREG), 0u);
}

TEST(DescriptorRegisters, FdodAnswersSectionsZeroToThree) {
  Platform P;
  struct {
    uint32_t Fdoc;
    uint32_t Expected;
  } Cases[] = {
      {0x0000, 0x0FF0A55A},  // FLVALSIG
      {0x0004, 0x00040003},  // FLMAP0: FCBA 0x30, one component, FRBA 0x40
      {0x1000, 0x125C00F5},  // FLCOMP: 16 MiB, second unused, clocks
      {0x2004, 0x0FFF0800},  // FLREG1
      {0x3000, 0xFFFFFF00},  // FLMSTR1
  };
  for (const auto &C : Cases) {
    P.SpiWrite(FDOC, C.Fdoc);
    EXPECT_EQ(P.Spi(FDOD), C.Expected) << std::hex << C.Fdoc;
  }
  P.SpiWrite(FDOC, 0x0004);
  EXPECT_EQ(P.Spi(FDOD, 16), 0x0003u);
  // FDSS/FDSI only: other bits of FDOC read 0.
  P.SpiWrite(FDOC, 0xFFFFFFFF);
  EXPECT_EQ(P.Spi(FDOC), 0x00007FFCu);
}

TEST(Vscc, FirmwareValuesAreLockedByVendorComponentLock) {
  Platform P;
  // W25Q128BV: EO_4K 0x20 and EO_64K 0xD8 valid, 64-byte writes, VCL.
  EXPECT_EQ(P.Spi(LVSCC), 0x70D82004u);
  EXPECT_EQ(P.Spi(UVSCC), 0x30D82004u);
  P.SpiWrite(LVSCC, 0x2005);
  P.SpiWrite(UVSCC, 0x2005);
  EXPECT_EQ(P.Spi(LVSCC), 0x70D82004u);
  EXPECT_EQ(P.Spi(UVSCC), 0x30D82004u);
}

TEST(Vscc, UnlockedValuesAreWhatTheEraseCyclesUse) {
  Platform P([](SimConfig &S) { S.VsccUnlocked = true; });
  EXPECT_EQ(P.Spi(LVSCC), 0x30D82004u);
  P.EnableWrites();
  // 64 KiB erase cycles now send 52h, the 32 KiB block erase.
  P.SpiWrite(LVSCC, 0x30522004);
  P.SpiWrite(UVSCC, 0x30522004);
  EXPECT_EQ(P.Spi(LVSCC), 0x30522004u);
  const std::vector<uint8_t> Before = P.Flash();
  EXPECT_EQ(P.HwErase(0x900000, true) & (FDONE | FCERR), FDONE);
  const std::vector<uint8_t> After = P.Flash();
  EXPECT_EQ(After[0x907FFF], 0xFF);
  EXPECT_EQ(After[0x908000], Before[0x908000]);
  // Clearing EO_64K_VALID makes 64 KiB erases fail.
  P.SpiWrite(LVSCC, 0x10522004);
  EXPECT_NE(P.HwErase(0x910000, true) & FCERR, 0u);
}

TEST(PciConfig, SpiControllerAndPmcAnswerOthersReadAllOnes) {
  Platform P;
  EXPECT_EQ(P.Read(SPI_CFG), 0xA1248086u);
  EXPECT_EQ(P.Read(SPI_CFG + 0x10), 0xFE010000u);
  EXPECT_EQ(P.Read(SPI_CFG + 0x04, 16) & 0x2, 0x2u);
  EXPECT_EQ(P.BiosControl(), LE | 0x08);  // LE, SRC = 10b
  EXPECT_EQ(P.Read(PMC_CFG, 16), 0x8086u);
  EXPECT_EQ(P.Read(PMC_CFG + 0x40, 16), 0x1801u);
  EXPECT_EQ(P.Read(0xE00F8000), 0xA1458086u);  // 0:31.0, the LPC bridge, answers its IDs
  EXPECT_EQ(P.Read(0xE0000000), 0xFFFFFFFFu);  // 0:0.0
  P.Write(0xE00F8000, 0);
  EXPECT_EQ(P.Read(0xE00F8000), 0xA1458086u);
  P.Write(SPI_CFG, 0);
  EXPECT_EQ(P.Read(SPI_CFG), 0xA1248086u);
  P.Write(PMC_CFG + 0x40, 0xFFFF, 16);
  EXPECT_EQ(P.Read(PMC_CFG + 0x40, 16), 0xFF01u);  // bit 0 reads 1, 256-byte block
}

TEST(PciConfig, MissingFunctionsReadAllOnes) {
  Platform NoSpi([](SimConfig &S) { S.NoSpi = true; });
  EXPECT_EQ(NoSpi.Read(SPI_CFG), 0xFFFFFFFFu);
  EXPECT_EQ(NoSpi.Read(SPI_CFG + 0x10), 0xFFFFFFFFu);
  EXPECT_EQ(NoSpi.Spi(HSFSTS), 0xFFFFFFFFu);
  // A hidden PMC reads all ones, and its ACPI I/O block still decodes.
  Platform NoPmc([](SimConfig &S) { S.NoPmc = true; });
  EXPECT_EQ(NoPmc.Read(PMC_CFG, 16), 0xFFFFu);
  EXPECT_NE(NoPmc.In(PM1_TMR), 0xFFFFFFFFu);
  EXPECT_NE(NoPmc.In(SMI_EN), 0xFFFFFFFFu);
}

// Each generation decodes configuration space at its own ECAM base only, with its
// IDs at 0:31.0 and 0:31.5, ABASE at its offset where the PMC is visible, and as
// many FREG registers as its controller has.
TEST(PciConfig, EachGenerationAnswersAtItsEcamBase) {
  for (uint32_t I = 0; I < SimPchCount(); I++) {
    const SimPchModel &M = *SimPchAt(I);
    SCOPED_TRACE(M.Name);
    Platform P([I](SimConfig &S) { SimConfigPch(&S, int32_t(I)); });
    const uint64_t Device31 = M.EcamBase + (31u << 15);
    EXPECT_EQ(P.Read(Device31), 0x8086u | uint32_t(M.Lpc.DeviceId) << 16);
    const uint32_t Spi =
        M.Spi.DeviceId == 0 ? 0xFFFFFFFFu : 0x8086u | uint32_t(M.Spi.DeviceId) << 16;
    EXPECT_EQ(P.Read(Device31 + (5u << 12)), Spi);
    if (M.PmcIsPmc) {
      const uint32_t Abase = P.Read(Device31 + (2u << 12) + M.PmcAbase, 16);
      EXPECT_EQ(Abase, M.PmcHidden ? 0xFFFFu : 0x1801u);
    }
    if (M.EcamBase != 0xE0000000) {
      EXPECT_EQ(P.Read(0xE00F8000), 0xFFFFFFFFu);
    }
    if (M.SpiIsController) {
      const uint32_t Last = 0x54 + 4 * (M.RegionCount - 1);
      EXPECT_EQ(P.Spi(Last), 0x7FFFu) << "the last FREG, unused";
      if (M.RegionCount == 6) {
        EXPECT_EQ(P.Spi(Last + 4), 0u) << "no FREG6";
      }
    }
  }
}

TEST(BiosControl, LockEnableIsWriteOnceAndLocksEiss) {
  Platform P([](SimConfig &S) { S.Eiss = true; });
  P.SetBiosControl(0x08);  // try to clear LE and EISS
  EXPECT_EQ(P.BiosControl() & (LE | EISS), LE | EISS);
  Platform Q([](SimConfig &S) { S.NoBle = true; });
  Q.SetBiosControl(0x08 | EISS);
  EXPECT_EQ(Q.BiosControl() & EISS, EISS);
  Q.SetBiosControl(0x08);
  EXPECT_EQ(Q.BiosControl() & EISS, 0);
  Q.SetBiosControl(0x08 | LE);
  Q.SetBiosControl(0x08 | EISS);
  EXPECT_EQ(Q.BiosControl() & (LE | EISS), LE);
  // SRC is plain read/write.
  Q.SetBiosControl(LE | 0x04);
  EXPECT_EQ(Q.BiosControl() & 0x0C, 0x04);
}

TEST(Bar0, RegistersMoveWithBar0AndTheOldBaseDecodesNothing) {
  Platform P;
  EXPECT_NE(P.Spi(HSFSTS) & FDV, 0u);
  // Memory decoding off: the window is gone.
  P.Write(SPI_CFG + 0x04, 0x0000, 16);
  EXPECT_EQ(P.Spi(HSFSTS), 0xFFFFFFFFu);
  EXPECT_EQ(P.Counters().AccessesToStaleBar, 1u);
  P.Write(SPI_CFG + 0x10, 0xFED00000);
  P.Write(SPI_CFG + 0x04, 0x0002, 16);
  EXPECT_EQ(P.Read(SPI_CFG + 0x10), 0xFED00000u);
  EXPECT_EQ(P.Read(0xFED00000 + HSFSTS) & FDV, FDV);
  EXPECT_EQ(P.Spi(HSFSTS), 0xFFFFFFFFu);  // the old base
  P.SpiWrite(FADDR, 0x123);               // dropped
  EXPECT_EQ(P.Read(0xFED00000 + FADDR), 0u);
  EXPECT_EQ(P.Counters().AccessesToStaleBar, 3u);
  EXPECT_EQ(SimPeekBar0(P.Get()), 0xFED00000u);
}

TEST(Bar0, PowerOnBaseFromConfigurationAndNoBase) {
  Platform P([](SimConfig &S) { S.Bar0 = 0xFE020000; });
  EXPECT_EQ(P.Read(SPI_CFG + 0x10), 0xFE020000u);
  EXPECT_NE(P.Read(0xFE020000 + HSFSTS) & FDV, 0u);
  EXPECT_EQ(P.Read(DEFAULT_BAR + HSFSTS), 0xFFFFFFFFu);
  Platform Q([](SimConfig &S) { S.Bar0 = 0; });
  EXPECT_EQ(Q.Read(SPI_CFG + 0x10), 0u);
  EXPECT_EQ(Q.Read(0x0 + HSFSTS), 0xFFFFFFFFu);
}

TEST(Bar0, SizingWriteReadsBackTheFourKiBMask) {
  Platform P;
  P.Write(SPI_CFG + 0x10, 0xFFFFFFFF);
  EXPECT_EQ(P.Read(SPI_CFG + 0x10), 0xFFFFF000u);
}

TEST(OpcodeMenu, FirmwareDefaultsAndReadBack) {
  Platform P;
  EXPECT_EQ(P.Spi(PREOP, 16), 0x5006u);
  EXPECT_EQ(P.Spi(OPTYPE, 16), 0xB32Du);
  EXPECT_EQ(P.Spi(OPMENU0), 0x05030201u);
  EXPECT_EQ(P.Spi(OPMENU1), 0x0BD89F20u);
  P.SpiWrite(OPTYPE, 0xF27C, 16);
  P.SpiWrite(PREOP, 0x0606, 16);
  EXPECT_EQ(P.Spi(PREOP), 0xF27C0606u);
}

TEST(UnknownOffsets, ReadZeroInsideTheWindow) {
  Platform P;
  EXPECT_EQ(P.Spi(0x98), 0u);
  EXPECT_EQ(P.Spi(0x200), 0u);
  EXPECT_EQ(P.Spi(0xFFC), 0u);
}

}  // namespace
