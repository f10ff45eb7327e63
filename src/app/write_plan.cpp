#include "app/write_plan.h"

#include "flash/hw_access.h"
#include "flash/part_table.h"
#include "flash/spi_hwseq.h"

namespace {

// SPI controller MMIO: offsets from the base BAR0 decodes.
constexpr UINT64 SPI_MMIO_FRAP = 0x50;
constexpr UINT32 FRAP_BRWA_SHIFT = 8;
constexpr UINT64 SPI_MMIO_PR0 = 0x84;
constexpr UINT64 SPI_MMIO_PR_STRIDE = 4;
constexpr UINT32 PR_BASE_MASK = 0x7FFF;  // bits 14:0, address bits 26:12
constexpr UINT32 PR_LIMIT_SHIFT = 16;    // bits 30:16, address bits 26:12
constexpr UINT32 PR_LIMIT_MASK = 0x7FFF;
constexpr UINT32 PR_WPE = 1U << 31;
constexpr UINT32 PR_UNIT_SHIFT = 12;
constexpr UINT64 PR_LIMIT_LOW_BITS = 0xFFF;

// FADDR carries 27 address bits: no region reaches beyond 128 MiB.
constexpr UINT64 FlashLinearSpace = 1ULL << 27;

BOOLEAN Overlaps(const FlashLinearRange &Range, UINT64 Base, UINT64 Limit) {
  return Base <= Range.Limit && Range.Base <= Limit;
}

VOID ReadDescriptorRegions(WriteProtectionMap *Map) {
  for (UINT32 Region = 0; Region < FlashDescriptorRegionCount; Region++) {
    UINT32 Base = 0;
    UINT32 Size = 0;
    if (EFI_ERROR(SpiGetRegionRange(Region, &Base, &Size)) || Size == 0) {
      continue;
    }
    // A base above the limit marks an unused region; its computed size wraps.
    if (static_cast<UINT64>(Base) + Size > FlashLinearSpace) {
      continue;
    }
    Map->RegionsInUse |= static_cast<UINT8>(1U << Region);
    Map->Region[Region].Base = Base;
    Map->Region[Region].Limit = static_cast<UINT64>(Base) + Size - 1;
  }
}

}  // namespace

// The one conversion of the BIOS-address operations: the window lies at
// FlashOffset in the flash, and addresses below it reach the flash below.
BOOLEAN BiosAddressToFlashLinear(UINT64 Address, UINT64 *Linear) {
  UINT64 Low = BiosWindow.Base - static_cast<UINT64>(BiosWindow.FlashOffset);
  UINT64 High = BiosWindow.Base + BiosWindow.Size - 1;
  if (Address < Low || Address > High) {
    return FALSE;
  }
  *Linear = static_cast<UINT64>(BiosWindow.FlashOffset) + (Address - BiosWindow.Base);
  return TRUE;
}

VOID ReadWriteProtection(WriteProtectionMap *Map) {
  *Map = {};
  Map->CheckRegions = BiosWindow.DescriptorMode;
  if (Map->CheckRegions) {
    ReadDescriptorRegions(Map);
  }

  // Read after the region lookups, which may have moved BAR0 to the fixed base.
  UINT64 Mmio = SpiBarNow();
  if (Mmio == 0) {
    // No register base: nothing can be known to be writable.
    Map->RegionWriteAccess = 0;
    Map->RegionsInUse = 0;
    Map->ProtectedCount = 1;
    Map->Protected[0] = {0, ~0ULL};
    return;
  }
  // The live FRAP, not the one seen at start-up: the platform's full-flash
  // preparation may have lifted the descriptor's limits since.
  Map->RegionWriteAccess = static_cast<UINT8>(RegRead16(Mmio + SPI_MMIO_FRAP) >> FRAP_BRWA_SHIFT);

  for (UINT32 Index = 0; Index < FlashProtectedRangeCount; Index++) {
    UINT32 Value = RegRead32(Mmio + SPI_MMIO_PR0 + SPI_MMIO_PR_STRIDE * Index);
    if ((Value & PR_WPE) == 0) {
      continue;
    }
    UINT64 Base = static_cast<UINT64>(Value & PR_BASE_MASK) << PR_UNIT_SHIFT;
    UINT64 Limit =
        (static_cast<UINT64>((Value >> PR_LIMIT_SHIFT) & PR_LIMIT_MASK) << PR_UNIT_SHIFT) |
        PR_LIMIT_LOW_BITS;
    Map->Protected[Map->ProtectedCount++] = {Base, Limit};
  }
}

BOOLEAN FlashRangeWritable(const WriteProtectionMap *Map, UINT64 Address, UINT64 Length) {
  if (Length == 0) {
    return TRUE;
  }
  UINT64 Base = 0;
  UINT64 Last = 0;
  if (!BiosAddressToFlashLinear(Address, &Base) ||
      !BiosAddressToFlashLinear(Address + Length - 1, &Last)) {
    return FALSE;
  }
  UINT64 Limit = Base + Length - 1;
  if (Last != Limit || Base < BiosWindow.WritableLow || Limit > BiosWindow.WritableHigh) {
    return FALSE;
  }
  if (Map->CheckRegions) {
    for (UINT32 Region = 0; Region < FlashDescriptorRegionCount; Region++) {
      BOOLEAN InUse = (Map->RegionsInUse & (1U << Region)) != 0;
      BOOLEAN Writable = (Map->RegionWriteAccess & (1U << Region)) != 0;
      if (InUse && !Writable && Overlaps(Map->Region[Region], Base, Limit)) {
        return FALSE;
      }
    }
  }
  for (UINT32 Index = 0; Index < Map->ProtectedCount; Index++) {
    if (Overlaps(Map->Protected[Index], Base, Limit)) {
      return FALSE;
    }
  }
  return TRUE;
}
