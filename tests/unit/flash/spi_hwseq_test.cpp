// Hardware-sequenced cycles: initialisation, the access sequence around every
// cycle, the cycle split, the erase size, and the failure table in its order.
#include "flash/spi_hwseq.h"

#include <gtest/gtest.h>

#include <cstring>

#include "flash/hw_access.h"
#include "flash_rig.h"

namespace {

constexpr uint32_t kGblSmiEn = 0x1;
constexpr uint8_t kBioswe = 0x01;
constexpr uint8_t kSrcMask = 0x0C;

uint16_t SmiEnPort() { return static_cast<uint16_t>(SpiControllerState.AcpiIoBase + 0x30); }

// Checks the order of one SpiSendCycle's accesses: GBL_SMI_EN off before the first
// BIOS_CONTROL access and back on after the last one; BIOSWE set only while the
// cycles of a write or erase run; the saved SMI_EN and SRC written back.
void ExpectCycleDiscipline(const std::vector<SimEvent> &Trace, bool WriteOrErase,
                           uint32_t SmiEnBefore, uint8_t SrcBefore) {
  size_t SmiOff = SIZE_MAX, SmiRestored = SIZE_MAX, FirstBiosControl = SIZE_MAX,
         LastBiosControl = 0;
  bool Bioswe = false;
  for (size_t I = 0; I < Trace.size(); I++) {
    const SimEvent &E = Trace[I];
    if (E.Kind == SimEventPortWrite && E.Address == SmiEnPort()) {
      if ((E.Value & kGblSmiEn) == 0 && SmiOff == SIZE_MAX) SmiOff = I;
      if (E.Value == SmiEnBefore) SmiRestored = I;
    }
    if (IsMemory(E) && E.Address == kBiosControl) {
      FirstBiosControl = std::min(FirstBiosControl, I);
      LastBiosControl = I;
      if (E.Kind == SimEventMemoryWrite) Bioswe = (E.Value & kBioswe) != 0;
    }
    if (IsWriteTo(E, kFixedBar + kHsfstsCtl) && (E.Value & 0x10000) != 0) {
      EXPECT_EQ(Bioswe, WriteOrErase) << "BIOSWE at the cycle of event " << I;
    }
  }
  ASSERT_NE(SmiOff, SIZE_MAX) << "GBL_SMI_EN never cleared";
  ASSERT_NE(SmiRestored, SIZE_MAX) << "SMI_EN not written back";
  EXPECT_LT(SmiOff, FirstBiosControl);
  EXPECT_GT(SmiRestored, LastBiosControl);
  EXPECT_EQ(Trace.back().Kind, SimEventBarrier);
  EXPECT_FALSE(Bioswe);
  EXPECT_EQ(SimPeekSmiEn(SimBackendPlatform()), SmiEnBefore);
  EXPECT_EQ(SimPeekBiosControl(SimBackendPlatform()) & kBioswe, 0);
  EXPECT_EQ(SimPeekBiosControl(SimBackendPlatform()) & kSrcMask, SrcBefore);
}

// Every memory access of a trace sits between two barrier calls, alone.
void ExpectBracketed(const std::vector<SimEvent> &Trace) {
  for (size_t I = 0; I < Trace.size(); I++) {
    if (!IsMemory(Trace[I])) continue;
    ASSERT_TRUE(I > 0 && Trace[I - 1].Kind == SimEventBarrier) << "before event " << I;
    ASSERT_TRUE(I + 1 < Trace.size() && Trace[I + 1].Kind == SimEventBarrier)
        << "after event " << I;
  }
}

struct Snapshot {
  uint32_t SmiEn;
  uint8_t Src;
};
Snapshot Take(const FlashRig &Rig) {
  return {SimPeekSmiEn(Rig.Platform),
          static_cast<uint8_t>(SimPeekBiosControl(Rig.Platform) & kSrcMask)};
}

TEST(SpiControllerInit, LearnsTheControllerAndTheDescriptor) {
  FlashRig Rig;  // one 16 MiB W25Q128BV
  EXPECT_EQ(SpiControllerInit(), EFI_SUCCESS);
  const SpiControllerStateRecord &S = SpiControllerState;
  EXPECT_EQ(S.SpiPciConfig, kSpiConfig);
  EXPECT_EQ(S.FixedSpiBar, kFixedBar);
  EXPECT_EQ(S.AcpiIoBase, 0x1800);
  EXPECT_EQ(S.ComponentCountCode, 0);
  EXPECT_EQ(S.SecondComponentBase, 0u);
  EXPECT_EQ(S.FlashTotalSize, 16 * kMiB);
  EXPECT_EQ(S.RegionReadAccess, 0xFF);
  EXPECT_EQ(S.RegionWriteAccess, 0xFF);
  EXPECT_EQ(S.PchStrapOffset, 0x100);
  EXPECT_EQ(S.PchStrapBytes, 0x50 * 4);
  EXPECT_EQ(S.CpuStrapOffset, 0x300);
  EXPECT_EQ(S.CpuStrapBytes, 4 * 4);
  EXPECT_EQ(S.LvsccValue, SimMmioRead(Rig.Platform, kFixedBar + kLvscc, 32));
}

TEST(SpiControllerInit, TwoComponentsAddUp) {
  FlashRig Rig([](SimConfig &C) {
    C.ChipIndex = ChipNamed("W25Q64BV");
    C.Components = 2;
  });
  EXPECT_EQ(SpiControllerInit(), EFI_SUCCESS);
  EXPECT_NE(SpiControllerState.ComponentCountCode, 0);
  EXPECT_EQ(SpiControllerState.SecondComponentBase, 8 * kMiB);
  EXPECT_EQ(SpiControllerState.FlashTotalSize, 16 * kMiB);
}

TEST(SpiControllerInit, ReadsTheControllerWhereBar0DecodesWithoutMovingIt) {
  FlashRig Rig([](SimConfig &C) { C.Bar0 = 0xFD000000; });
  Rig.Record();
  EXPECT_EQ(SpiControllerInit(), EFI_SUCCESS);
  std::vector<SimEvent> Trace = Rig.Take();
  ExpectBracketed(Trace);
  for (const SimEvent &E : Trace) {
    EXPECT_FALSE(E.Kind == SimEventMemoryWrite && E.Address < kEcamEnd) << "config write";
    if (IsMemory(E) && E.Address >= kEcamEnd) {
      EXPECT_EQ(E.Address & ~0xFFFull, 0xFD000000u);
    }
  }
  EXPECT_EQ(SimPeekBar0(Rig.Platform) & 0xFFFFF000, 0xFD000000u);
  EXPECT_EQ(SpiControllerState.FlashTotalSize, 16 * kMiB);
}

TEST(SpiControllerInit, RefusesPlatformsItCannotUse) {
  struct Case {
    const char *Name;
    std::function<void(SimConfig &)> Adjust;
  } Cases[] = {
      {"no PMC", [](SimConfig &C) { C.NoPmc = true; }},
      {"no BAR0 base", [](SimConfig &C) { C.Bar0 = 0; }},
      {"no SPI controller", [](SimConfig &C) { C.NoSpi = true; }},
      {"no descriptor", [](SimConfig &C) { C.NoDescriptor = true; }},
  };
  for (const Case &C : Cases) {
    FlashRig Rig(C.Adjust);
    EXPECT_EQ(SpiControllerInit(), EFI_UNSUPPORTED) << C.Name;
    EXPECT_EQ(SimPeekBar0(Rig.Platform), Rig.Config.Bar0) << C.Name;
  }
}

TEST(SpiSendCycle, WithoutAcpiBaseOrBar0NothingIsTouched) {
  for (auto Adjust : std::vector<std::function<void(SimConfig &)>>{
           [](SimConfig &C) { C.NoPmc = true; }, [](SimConfig &C) { C.Bar0 = 0; }}) {
    FlashRig Rig(Adjust);
    SpiControllerInit();
    uint8_t Buffer[16] = {0xAA};
    Rig.Record();
    EXPECT_EQ(SpiFlashRead(6, 0, 16, Buffer), EFI_NOT_READY);
    EXPECT_EQ(SpiFlashErase(6, 0, 0x1000), EFI_NOT_READY);
    UINT32 Base, Size;
    EXPECT_EQ(SpiGetRegionRange(1, &Base, &Size), EFI_NOT_READY);
    EXPECT_TRUE(Rig.Take().empty());
    EXPECT_EQ(Buffer[0], 0xAA);
  }
}

TEST(SpiSendCycle, ReadWriteEraseKeepSmiOffAndBiosWriteEnableOnlyWhileNeeded) {
  FlashRig Rig;
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  std::vector<uint8_t> Data(300, 0x00);
  uint8_t Id[3];
  struct Case {
    const char *Name;
    bool WriteOrErase;
    std::function<EFI_STATUS()> Run;
  } Cases[] = {
      {"read", false, [&] { return SpiFlashRead(6, 0x10000, 300, Data.data()); }},
      {"erase", true, [&] { return SpiFlashErase(6, 0x10000, 0x1000); }},
      {"write", true, [&] { return SpiFlashWrite(6, 0x10000, 300, Data.data()); }},
      {"identification", false, [&] { return SpiFlashReadJedecId(0, 3, Id); }},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Snapshot Before = Take(Rig);
    Rig.Record();
    EXPECT_EQ(C.Run(), EFI_SUCCESS);
    std::vector<SimEvent> Trace = Rig.Take();
    ExpectBracketed(Trace);
    ExpectCycleDiscipline(Trace, C.WriteOrErase, Before.SmiEn, Before.Src);
  }
  EXPECT_EQ(Rig.Counters().SmiEnabledDuringWriteErase, 0u);
  EXPECT_EQ(std::memcmp(Rig.Flash() + 0x10000, Data.data(), 300), 0);
}

TEST(SpiSendCycle, EveryExitRestoresSmiEnBiosWriteEnableAndSrc) {
  // Failures after BIOSWE was set: a misaligned erase, a range past the flash, a
  // cycle that ends with FCERR.
  FlashRig Rig([](SimConfig &C) { C.FailCycle = 1; });
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  struct Case {
    const char *Name;
    std::function<EFI_STATUS()> Run;
    EFI_STATUS Expected;
  } Cases[] = {
      {"misaligned erase", [] { return SpiFlashErase(6, 0x800, 0x1000); }, EFI_INVALID_PARAMETER},
      {"past the flash", [] { return SpiFlashErase(6, 16 * kMiB - 0x1000, 0x2000); },
       EFI_INVALID_PARAMETER},
      {"FCERR", [] { return SpiFlashErase(6, 0, 0x2000); }, EFI_DEVICE_ERROR},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Snapshot Before = Take(Rig);
    Rig.Record();
    EXPECT_EQ(C.Run(), C.Expected);
    ExpectCycleDiscipline(Rig.Take(), true, Before.SmiEn, Before.Src);
  }
  // FCERR on the first cycle: the second 4 KiB was not attempted.
  EXPECT_EQ(Rig.Counters().HwCycles[SimCycleErase4k], 1u);
}

TEST(SpiSendCycle, EissRefusesWritesWithoutACycle) {
  FlashRig Rig([](SimConfig &C) { C.Eiss = true; });
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  uint8_t Byte = 0;
  Snapshot Before = Take(Rig);
  Rig.Record();
  EXPECT_EQ(SpiFlashWrite(6, 0, 1, &Byte), EFI_ACCESS_DENIED);
  ExpectCycleDiscipline(Rig.Take(), true, Before.SmiEn, Before.Src);
  EXPECT_EQ(SpiFlashErase(6, 0, 0x1000), EFI_ACCESS_DENIED);
  EXPECT_EQ(Rig.Counters().FlashModifyingCycles, 0u);
}

TEST(SpiSendCycle, SplitsAt256ByteBoundariesAnd64ByteWindows) {
  FlashRig Rig;
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  struct Case {
    uint32_t Address, Count;
    std::vector<uint32_t> Cycles;
    uint32_t DwordMoves, ByteMoves;
  } Cases[] = {
      {0x1000F0, 0x100, {16, 64, 64, 64, 48}, 64, 0},
      {0x1003, 13, {8, 5}, 2, 5},
      {0x2000, 4, {4}, 0, 4},
      {0x20FE, 3, {2, 1}, 0, 3},
  };
  for (const Case &C : Cases) {
    std::vector<uint8_t> Buffer(C.Count);
    Rig.Record();
    ASSERT_EQ(SpiFlashRead(6, C.Address, C.Count, Buffer.data()), EFI_SUCCESS);
    std::vector<SimEvent> Trace = Rig.Take();
    std::vector<uint32_t> Sizes;
    uint32_t Expected = C.Address;
    for (const HwCycle &Cycle : HwCyclesIn(Trace, kFixedBar)) {
      Sizes.push_back(Cycle.Bytes);
      EXPECT_EQ(Cycle.Address, Expected);
      Expected += Cycle.Bytes;
    }
    EXPECT_EQ(Sizes, C.Cycles) << std::hex << C.Address;
    uint32_t Dwords = 0, Bytes = 0;
    for (const SimEvent &E : Trace) {
      if (E.Kind == SimEventMemoryRead && E.Address >= kFixedBar + kFdata &&
          E.Address < kFixedBar + kFdata + 64) {
        (E.WidthBits == 32 ? Dwords : Bytes)++;
        EXPECT_TRUE(E.WidthBits == 32 || E.WidthBits == 8);
      }
    }
    EXPECT_EQ(Dwords, C.DwordMoves) << std::hex << C.Address;
    EXPECT_EQ(Bytes, C.ByteMoves) << std::hex << C.Address;
    EXPECT_EQ(std::memcmp(Buffer.data(), Rig.Flash() + C.Address, C.Count), 0);
  }
}

TEST(SpiSendCycle, WritesMoveDwordsOnlyForMultiplesOfEight) {
  FlashRig Rig;
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  ASSERT_EQ(SpiFlashErase(6, 0x30000, 0x1000), EFI_SUCCESS);
  struct Case {
    uint32_t Count, Dwords, Bytes;
  } Cases[] = {{7, 0, 7}, {8, 2, 0}, {4, 0, 4}, {64, 16, 0}};
  uint32_t Address = 0x30000;
  for (const Case &C : Cases) {
    std::vector<uint8_t> Data(C.Count);
    for (uint32_t I = 0; I < C.Count; I++) Data[I] = static_cast<uint8_t>(0x5A + 7 * I);
    Rig.Record();
    ASSERT_EQ(SpiFlashWrite(6, Address, C.Count, Data.data()), EFI_SUCCESS);
    uint32_t Dwords = 0, Bytes = 0;
    for (const SimEvent &E : Rig.Take()) {
      if (E.Kind == SimEventMemoryWrite && E.Address >= kFixedBar + kFdata &&
          E.Address < kFixedBar + kFdata + 64) {
        (E.WidthBits == 32 ? Dwords : Bytes)++;
      }
    }
    EXPECT_EQ(Dwords, C.Dwords) << C.Count;
    EXPECT_EQ(Bytes, C.Bytes) << C.Count;
    EXPECT_EQ(std::memcmp(Rig.Flash() + Address, Data.data(), C.Count), 0) << C.Count;
    Address += 0x100;
  }
}

// VSCC bit 29 as the firmware left it decides the erase size, per component.
struct EraseCase {
  const char *Name;
  uint32_t Components;
  uint32_t Lvscc29, Uvscc29;
  uint32_t Address, Count;
  uint64_t Cycles64k, Cycles4k;
};

TEST(SpiSendCycle, EraseSizeFollowsTheCapabilitiesSeenAtInitialisation) {
  const EraseCase Cases[] = {
      {"one component: LVSCC decides, UVSCC is ignored", 1, 1, 0, 0x20000, 0x20000, 2, 0},
      {"one component, bit clear", 1, 0, 1, 0x20000, 0x20000, 0, 32},
      {"never a multiple of 64 KiB", 1, 1, 1, 0x20000, 0x11000, 0, 17},
      {"start and length never both aligned", 1, 1, 1, 0x21000, 0x20000, 0, 32},
      {"below the second component: LVSCC", 2, 0, 1, 0x20000, 0x20000, 0, 32},
      {"at the second component: UVSCC", 2, 0, 1, 0x800000, 0x20000, 2, 0},
  };
  for (const EraseCase &C : Cases) {
    SCOPED_TRACE(C.Name);
    FlashRig Rig([&](SimConfig &Config) {
      Config.ChipIndex = ChipNamed("W25Q64BV");
      Config.Components = C.Components;
      Config.VsccUnlocked = true;
    });
    uint32_t Lvscc = SimMmioRead(Rig.Platform, kFixedBar + kLvscc, 32) & ~(1u << 29);
    uint32_t Uvscc = SimMmioRead(Rig.Platform, kFixedBar + kUvscc, 32) & ~(1u << 29);
    SimMmioWrite(Rig.Platform, kFixedBar + kLvscc, 32, Lvscc | C.Lvscc29 << 29);
    SimMmioWrite(Rig.Platform, kFixedBar + kUvscc, 32, Uvscc | C.Uvscc29 << 29);
    ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
    // Allowing 64 KiB erases in the registers afterwards does not change the choice.
    SimMmioWrite(Rig.Platform, kFixedBar + kLvscc, 32, Lvscc | 1u << 29);
    SimMmioWrite(Rig.Platform, kFixedBar + kUvscc, 32, Uvscc | 1u << 29);
    EXPECT_EQ(SpiFlashErase(6, C.Address, C.Count), EFI_SUCCESS);
    EXPECT_EQ(Rig.Counters().HwCycles[SimCycleErase64k], C.Cycles64k);
    EXPECT_EQ(Rig.Counters().HwCycles[SimCycleErase4k], C.Cycles4k);
    for (uint32_t I = C.Address; I < C.Address + C.Count; I += 0x1000) {
      ASSERT_EQ(Rig.Flash()[I], 0xFF);
    }
  }
}

// Each case meets the condition of its row and of every later row, so it shows
// which test comes first.
TEST(SpiSendCycle, FailureTableInItsOrder) {
  struct Case {
    const char *Name;
    std::function<void(SimConfig &)> Adjust;
    FlashRegion Region;
    UINT32 Cycle, Address, Count;
    EFI_STATUS Expected;
    std::function<void(std::vector<uint8_t> &)> Image = {};
  } Cases[] = {
      {"EISS before the region", [](SimConfig &C) { C.Eiss = true; }, 7, 2, 0x800, 1,
       EFI_ACCESS_DENIED},
      {"region above 6 before FREG", {}, 7, 0, 0, 1, EFI_INVALID_PARAMETER},
      {"unused FREG before the range", {}, 5, 0, 0, 0xFFFFFFF0, EFI_DEVICE_ERROR},
      {"range before permission", [](SimConfig &C) { C.LockedDescriptor = true; }, 6, 0, 16 * kMiB,
       1, EFI_INVALID_PARAMETER},
      // The whole flash has no permission bit of its own: a read there needs the
      // grant of each region it touches, here region 4, which the host may not read.
      {"read permission", [](SimConfig &C) { C.LockedDescriptor = true; }, 6, 0, 0x1000, 1,
       EFI_ACCESS_DENIED,
       [](std::vector<uint8_t> &Image) { SetFlashRegion(Image, 4, 0x00010001); }},
      {"write permission before erase alignment", [](SimConfig &C) { C.LockedDescriptor = true; },
       6, 2, 0x800, 1, EFI_ACCESS_DENIED},
      {"cycle type above 6", {}, 6, 7, 0, 1, EFI_INVALID_PARAMETER},
      {"erase length", {}, 6, 2, 0, 0x800, EFI_INVALID_PARAMETER},
      {"erase start", {}, 6, 2, 0x800, 0x1000, EFI_INVALID_PARAMETER},
      {"FCERR", [](SimConfig &C) { C.FailCycle = 1; }, 6, 0, 0, 16, EFI_DEVICE_ERROR},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    FlashRig Rig(C.Adjust, C.Image);
    ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
    uint8_t Buffer[64] = {};
    EXPECT_EQ(SpiSendCycle(C.Region, static_cast<SpiCycle>(C.Cycle), C.Address, C.Count, Buffer),
              C.Expected);
  }
}

TEST(SpiSendCycle, BusyControllerFailsBeforeAnyOtherCheck) {
  FlashRig Rig([](SimConfig &C) { C.StuckBusy = true; });
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  uint8_t Buffer[8];
  // The first cycle never finishes; the next call finds the controller busy and
  // fails even though its region is invalid. Each gives up after about 6 seconds.
  uint64_t Start = SimTimeNs(Rig.Platform);
  EXPECT_EQ(SpiFlashRead(6, 0, 8, Buffer), EFI_TIMEOUT);
  EXPECT_GE(SimTimeNs(Rig.Platform) - Start, 6000000000ull);
  EXPECT_EQ(SpiSendCycle(7, SpiCycleRead, 0, 8, Buffer), EFI_TIMEOUT);
  EXPECT_EQ(Rig.Counters().HwCycles[SimCycleRead], 1u);
}

TEST(SpiSendCycle, AFailedCycleSaysWhatTheControllerSaid) {
  // FCERR alone, FCERR with AEL (a protected range the driver did not know of), and a
  // cycle that never ends: each its own status, with the cycle's flash-linear address
  // and the HSFSTS_CTL value it ended with.
  struct Case {
    const char *Name;
    std::function<void(SimConfig &)> Adjust;
    EFI_STATUS Expected;
    uint32_t StatusBits;  // set in the recorded HSFSTS_CTL
  } Cases[] = {
      {"FCERR", [](SimConfig &C) { C.FailCycle = 2; }, EFI_DEVICE_ERROR, 0x2},
      {"AEL",
       [](SimConfig &C) {
         C.Protect[0] = {0x11000, 0x11FFF};
         C.ProtectCount = 1;
       },
       EFI_ACCESS_DENIED, 0x6},
      {"time-out", [](SimConfig &C) { C.StuckBusy = true; }, EFI_TIMEOUT, 0x20},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    FlashRig Rig(C.Adjust);
    ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
    SpiClearCycleFailure();
    // Two 4 KiB erases: the second one (at 0x11000) is the one that fails, except
    // for the stuck controller, whose first never ends.
    EXPECT_EQ(SpiFlashErase(6, 0x10000, 0x2000), C.Expected);
    const SpiCycleFailureRecord *Failure = SpiLastCycleFailure();
    ASSERT_TRUE(Failure->Recorded);
    EXPECT_FALSE(Failure->SoftwareSequenced);
    EXPECT_EQ(Failure->Status, C.Expected);
    EXPECT_EQ(Failure->FlashLinear, C.Expected == EFI_TIMEOUT ? 0x10000u : 0x11000u);
    EXPECT_EQ(Failure->ControllerStatus & C.StatusBits, C.StatusBits);
    // The next cycle starts clean: FCERR and AEL were cleared with FDONE.
    if (C.Expected != EFI_TIMEOUT) {
      uint8_t Byte = 0;
      EXPECT_EQ(SpiFlashRead(6, 0, 1, &Byte), EFI_SUCCESS);
    }
  }
}

TEST(SpiGetRegionRange, DecodesFreg) {
  FlashRig Rig({}, [](std::vector<uint8_t> &Image) {
    SetFlashRegion(Image, 3, 0x07FF0500);
    SetFlashRegion(Image, 4, 0x00017FFF);  // base all ones, limit not 0: used as computed
  });
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  UINT32 Base = 0, Size = 0;
  EXPECT_EQ(SpiGetRegionRange(3, &Base, &Size), EFI_SUCCESS);
  EXPECT_EQ(Base, 0x500000u);
  EXPECT_EQ(Size, 0x300000u);
  EXPECT_EQ(SpiGetRegionRange(4, &Base, &Size), EFI_SUCCESS);
  EXPECT_EQ(Base, 0x7FFF000u);
  EXPECT_EQ(Size, 0x1000u - 0x7FFF000u + 0x1000u);
  EXPECT_EQ(SpiGetRegionRange(6, &Base, &Size), EFI_SUCCESS);
  EXPECT_EQ(Size, 16 * kMiB);
  Base = Size = 0x55;
  EXPECT_EQ(SpiGetRegionRange(5, &Base, &Size), EFI_DEVICE_ERROR);
  EXPECT_EQ(Base, 0x55u);
  EXPECT_EQ(SpiGetRegionRange(7, &Base, &Size), EFI_INVALID_PARAMETER);
}

TEST(SpiSendCycle, ReadEndingAtTheRegionEndSucceeds) {
  FlashRig Rig;
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  uint8_t Buffer[9];
  EXPECT_EQ(SpiFlashRead(6, 16 * kMiB - 8, 8, Buffer), EFI_SUCCESS);
  EXPECT_EQ(SpiFlashRead(6, 16 * kMiB - 8, 9, Buffer), EFI_INVALID_PARAMETER);
}

TEST(SpiFlashReadJedecId, TwoComponentsEachSelectorReadsItsOwnChip) {
  FlashRig Rig([](SimConfig &C) {
    C.ChipIndex = ChipNamed("W25Q64BV");
    C.Chip2Index = ChipNamed("25L12805D");
    C.Components = 2;
  });
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  const struct {
    UINT8 Selector;
    uint32_t Address;
    uint8_t Id[3];
  } Cases[] = {{0, 0, {0xEF, 0x40, 0x17}}, {1, 8 * kMiB, {0xC2, 0x20, 0x18}}};
  for (const auto &C : Cases) {
    uint8_t Id[3] = {};
    Rig.Record();
    EXPECT_EQ(SpiFlashReadJedecId(C.Selector, 3, Id), EFI_SUCCESS);
    std::vector<HwCycle> Cycles = HwCyclesIn(Rig.Take(), kFixedBar);
    ASSERT_EQ(Cycles.size(), 1u);
    EXPECT_EQ(Cycles[0].Address, C.Address);
    EXPECT_EQ(std::vector<uint8_t>(Id, Id + 3), std::vector<uint8_t>(C.Id, C.Id + 3));
  }
}

TEST(SpiFlashReadJedecId, OneComponentReadsAtAddressZeroForEitherSelector) {
  FlashRig Rig;
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  for (UINT8 Selector : {0, 1}) {
    uint8_t Id[3] = {};
    Rig.Record();
    EXPECT_EQ(SpiFlashReadJedecId(Selector, 3, Id), EFI_SUCCESS);
    std::vector<HwCycle> Cycles = HwCyclesIn(Rig.Take(), kFixedBar);
    ASSERT_EQ(Cycles.size(), 1u);
    EXPECT_EQ(Cycles[0].Address, 0u);
    EXPECT_EQ(Cycles[0].Fcycle, 6u);
    EXPECT_EQ(Id[0], 0xEF);
    EXPECT_EQ(Id[1], 0x40);
    EXPECT_EQ(Id[2], 0x18);
  }
}

TEST(SpiSendCycle, UsesTheRegistersWhereFirmwarePutThemAndNeverWritesBar0) {
  FlashRig Rig([](SimConfig &C) { C.Bar0 = 0xFD000000; });
  ASSERT_EQ(SpiControllerInit(), EFI_SUCCESS);
  uint8_t Buffer[8];
  Rig.Record();
  EXPECT_EQ(SpiFlashRead(6, 0, 8, Buffer), EFI_SUCCESS);
  EXPECT_EQ(SpiFlashErase(6, 0x800000, 0x1000), EFI_SUCCESS);
  std::vector<SimEvent> Trace = Rig.Take();
  for (const SimEvent &E : Trace) {
    EXPECT_FALSE(IsWriteTo(E, kSpiCommand) || IsWriteTo(E, kSpiBar0));
  }
  EXPECT_EQ(HwCyclesIn(Trace, 0xFD000000).size(), 2u);
  EXPECT_EQ(SpiDecodingBar(), 0xFD000000u);
  EXPECT_EQ(SimPeekBar0(Rig.Platform), 0xFD000000u);
  EXPECT_EQ(Rig.Counters().AccessesToStaleBar, 0u);
}

}  // namespace
