#include "flash/write_protection.h"

#include "flash/bios_flash.h"
#include "flash/hw_access.h"
#include "flash/part_table.h"
#include "flash/regs/spi_nor.h"
#include "flash/spi_hwseq.h"

namespace {

// FADDR carries 27 address bits: no region reaches beyond 128 MiB.
constexpr UINT64 FlashLinearSpace = static_cast<UINT64>(FADDR_MASK) + 1;

// The names the messages give the protections: the range registers in the order
// they are read, and the descriptor's regions by number.
constexpr const CHAR8 *RangeRegisterName[PR_COUNT + 1] = {"PR0", "PR1", "PR2",
                                                          "PR3", "PR4", "GPR0"};
constexpr const CHAR8 *RegionName[FREG_MAX_COUNT] = {
    "descriptor", "BIOS",     "ME",       "GbE",      "platform data", "region 5",
    "region 6",   "region 7", "region 8", "region 9", "region 10",     "region 11"};

UINT32 RegionCount() {
  UINT32 Count = SpiControllerState.RegionCount;
  return Count == 0 || Count > FREG_MAX_COUNT ? FREG_COUNT : Count;
}

// FREGn as the controller holds it. FREG0..FREG5 through the region lookup, which
// knows the mark of an unused region; the rest directly.
EFI_STATUS ReadRegion(UINT32 Region, UINT32 *Base, UINT32 *Size) {
  if (Region < FREG_COUNT) {
    return SpiGetRegionRange(Region, Base, Size);
  }
  UINT64 Mmio = SpiDecodingBar();
  if (!SpiBarUsable(static_cast<UINT32>(Mmio))) {
    return EFI_NOT_READY;
  }
  UINT32 Freg = RegRead32(Mmio + FREG0 + FREG_STRIDE * Region);
  if (Freg == FREG_UNUSED) {
    return EFI_DEVICE_ERROR;
  }
  UINT64 RegionBase = SpiRangeBase(Freg);
  *Base = static_cast<UINT32>(RegionBase);
  *Size = static_cast<UINT32>(SpiRangeLimit(Freg) + 1 - RegionBase);
  return EFI_SUCCESS;
}

// Regions 0..7 by their FRAP write bits; nothing above can be known writable.
BOOLEAN RegionWritable(const WriteProtectionMap *Map, UINT32 Region) {
  return Region < FRAP_REGION_COUNT && (Map->RegionWriteAccess & (1U << Region)) != 0;
}

BOOLEAN Overlaps(const FlashLinearRange &Range, UINT64 Base, UINT64 Limit) {
  return Base <= Range.Limit && Range.Base <= Limit;
}

VOID ReadDescriptorRegions(WriteProtectionMap *Map) {
  for (UINT32 Region = 0; Region < RegionCount(); Region++) {
    UINT32 Base = 0;
    UINT32 Size = 0;
    if (EFI_ERROR(ReadRegion(Region, &Base, &Size)) || Size == 0) {
      continue;
    }
    // A base above the limit marks an unused region; its computed size wraps.
    if (static_cast<UINT64>(Base) + Size > FlashLinearSpace) {
      continue;
    }
    Map->RegionsInUse |= static_cast<UINT16>(1U << Region);
    Map->Region[Region].Base = Base;
    Map->Region[Region].Limit = static_cast<UINT64>(Base) + Size - 1;
  }
}

VOID Refuse(PlatformWriteCheck *Check, PlatformRefusal Refusal, EFI_STATUS Status) {
  Check->Refusal = Refusal;
  Check->Status = Status;
}

// The bits that protect blocks on the part identified in a component; without an
// identified part, BP0..BP3.
UINT8 BlockProtectBits(UINT32 Component) {
  INT32 Row = SelectedFlashPartIndexIn(Component);
  return Row < 0 ? SPI_NOR_STATUS_BP_MASK : FlashPartTable[Row].BlockProtectMask;
}

// The status register of each component: a chip that protects its own blocks
// ignores program and erase there without an error the controller could report.
// SRWD only freezes the status register, and TB or SEC alone select no blocks.
VOID CheckChipProtection(PlatformWriteCheck *Check) {
  UINT32 Components = SpiControllerState.ComponentCountCode != 0 ? 2 : 1;
  for (UINT32 Component = 0; Component < Components; Component++) {
    UINT32 At = Component == 0 ? 0 : SpiControllerState.SecondComponentBase;
    UINT8 Status = 0;
    EFI_STATUS ReadStatus = SpiFlashReadStatus(At, &Status);
    if (EFI_ERROR(ReadStatus)) {
      Refuse(Check, PlatformChipStatusUnreadable, ReadStatus);
      return;
    }
    if ((Status & BlockProtectBits(Component)) != 0) {
      Check->ChipStatus = Status;
      Refuse(Check, PlatformChipProtected, EFI_WRITE_PROTECTED);
      return;
    }
  }
}

}  // namespace

VOID CheckPlatformWritable(PlatformWriteCheck *Check) {
  *Check = {PlatformWritable, EFI_SUCCESS, 0};
  if (!BiosWindow.DescriptorMode) {
    Refuse(Check, PlatformNoDescriptor, EFI_UNSUPPORTED);
  } else if (SpiBiosWritesNeedSmm()) {
    Refuse(Check, PlatformBiosWritesNeedSmm, EFI_WRITE_PROTECTED);
  } else if (SpiCheckBiosWriteEnable() != EFI_SUCCESS) {
    Refuse(Check, PlatformBiosWriteLocked, EFI_WRITE_PROTECTED);
  } else {
    CheckChipProtection(Check);
  }
}

BOOLEAN FlashRangeErasable(UINT64 Address, UINT64 Length) {
  UINT64 Linear = 0;
  if (Length == 0 || !BiosAddressToFlashLinear(Address, &Linear)) {
    return FALSE;
  }
  return SpiEraseSupported(static_cast<UINT32>(Linear), static_cast<UINT32>(Length));
}

VOID ReadFlashAccessAgain() {
  SpiReadRegionAccess();
  BiosWindowReadWritableRange();
}

VOID ReadWriteProtection(WriteProtectionMap *Map) {
  *Map = {};
  Map->CheckRegions = BiosWindow.DescriptorMode;
  if (Map->CheckRegions) {
    ReadDescriptorRegions(Map);
  }

  // Read after the region lookups, which may have moved BAR0 to the fixed base.
  UINT64 Mmio = SpiDecodingBar();
  if (Mmio == 0) {
    // No register base: nothing can be known to be writable.
    Map->RegionReadAccess = 0;
    Map->RegionWriteAccess = 0;
    Map->RegionsInUse = 0;
    Map->ProtectedCount = 1;
    Map->Protected[0] = {0, ~0ULL};
    Map->ProtectedBy[0] = "no SPI register base";
    return;
  }
  // The live FRAP, not the one seen at start-up: the platform's full-flash
  // preparation may have lifted the descriptor's limits since.
  UINT16 Frap = RegRead16(Mmio + FRAP);
  Map->RegionReadAccess = static_cast<UINT8>(Frap >> FRAP_BRRA_SHIFT);
  Map->RegionWriteAccess = static_cast<UINT8>(Frap >> FRAP_BRWA_SHIFT);

  for (UINT32 Index = 0; Index <= PR_COUNT; Index++) {
    // PR0..PR4, then GPR0 in the same layout.
    UINT64 Register = Index < PR_COUNT ? PR0 + PR_STRIDE * Index : GPR0;
    UINT32 Value = RegRead32(Mmio + Register);
    if ((Value & PR_WPE) != 0) {
      Map->ProtectedBy[Map->ProtectedCount] = RangeRegisterName[Index];
      Map->Protected[Map->ProtectedCount++] = {SpiRangeBase(Value), SpiRangeLimit(Value)};
    }
  }
}

BOOLEAN FindUnreadableRegion(const WriteProtectionMap *Map, UINT64 Address, UINT64 Length,
                             UINT32 *Region, UINT64 *FlashLinear) {
  UINT64 First = 0;
  UINT64 Last = 0;
  if (!Map->CheckRegions || Length == 0 || !BiosAddressToFlashLinear(Address, &First) ||
      !BiosAddressToFlashLinear(Address + Length - 1, &Last)) {
    return FALSE;
  }
  for (UINT32 Index = 0; Index < FREG_MAX_COUNT; Index++) {
    BOOLEAN InUse = (Map->RegionsInUse & (1U << Index)) != 0;
    BOOLEAN Readable = Index < FRAP_REGION_COUNT && (Map->RegionReadAccess & (1U << Index)) != 0;
    if (InUse && !Readable && Overlaps(Map->Region[Index], First, Last)) {
      *Region = Index;
      *FlashLinear = Map->Region[Index].Base > First ? Map->Region[Index].Base : First;
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN FlashRangeWritable(const WriteProtectionMap *Map, UINT64 Address, UINT64 Length,
                           WriteProtectionCause *Cause) {
  if (Length == 0) {
    return TRUE;
  }
  UINT64 Base = 0;
  UINT64 Last = 0;
  *Cause = {0, "outside the flash"};
  if (!BiosAddressToFlashLinear(Address, &Base) ||
      !BiosAddressToFlashLinear(Address + Length - 1, &Last)) {
    return FALSE;
  }
  Cause->FlashLinear = Base;
  UINT64 Limit = Base + Length - 1;
  if (Last != Limit) {
    return FALSE;
  }
  for (UINT32 Index = 0; Index < Map->ProtectedCount; Index++) {
    if (Overlaps(Map->Protected[Index], Base, Limit)) {
      Cause->Protector = Map->ProtectedBy[Index];
      return FALSE;
    }
  }
  if (Map->CheckRegions) {
    for (UINT32 Region = 0; Region < FREG_MAX_COUNT; Region++) {
      BOOLEAN InUse = (Map->RegionsInUse & (1U << Region)) != 0;
      if (InUse && !RegionWritable(Map, Region) && Overlaps(Map->Region[Region], Base, Limit)) {
        Cause->Protector = RegionName[Region];
        return FALSE;
      }
    }
  }
  if (Base < BiosWindow.WritableLow || Limit > BiosWindow.WritableHigh) {
    // The descriptor gives the host no writes beyond the BIOS region: the region
    // the range reaches into is what keeps it.
    Cause->Protector = RegionName[FREG_BIOS_REGION];
    for (UINT32 Region = 0; Region < FREG_MAX_COUNT; Region++) {
      BOOLEAN InUse = (Map->RegionsInUse & (1U << Region)) != 0;
      if (InUse && Region != FREG_BIOS_REGION && Overlaps(Map->Region[Region], Base, Limit)) {
        Cause->Protector = RegionName[Region];
        break;
      }
    }
    return FALSE;
  }
  return TRUE;
}
