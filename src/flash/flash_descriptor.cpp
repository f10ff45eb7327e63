// Reading the flash descriptor through the controller's observability window.
#include "flash/flash_descriptor.h"

#include "flash/hw_access.h"
#include "flash/regs/descriptor.h"
#include "flash/regs/spi_mmio.h"

namespace {

UINT32 ImageDword(const UINT8 *Image, UINT32 Offset) {
  return static_cast<UINT32>(Image[Offset]) | static_cast<UINT32>(Image[Offset + 1]) << 8 |
         static_cast<UINT32>(Image[Offset + 2]) << 16 |
         static_cast<UINT32>(Image[Offset + 3]) << 24;
}

struct ImageRegion {
  BOOLEAN InUse;
  UINT64 Base;
  UINT64 Limit;  // inclusive
};

ImageRegion ImageRegionAt(const UINT8 *Image, UINT32 Frba, UINT32 Region) {
  UINT32 Offset = Frba + FLREG_BYTES * Region;
  if (Offset + FLREG_BYTES > FLASH_DESCRIPTOR_BYTES) {
    return {FALSE, 0, 0};  // past the descriptor: no such region
  }
  UINT32 Flreg = ImageDword(Image, Offset);
  return {SpiRangeInUse(Flreg), SpiRangeBase(Flreg), SpiRangeLimit(Flreg)};
}

BOOLEAN AnyRegionsOverlap(const UINT8 *Image, UINT32 Frba, UINT32 RegionCount) {
  for (UINT32 First = 0; First < RegionCount; First++) {
    ImageRegion A = ImageRegionAt(Image, Frba, First);
    for (UINT32 Second = First + 1; A.InUse && Second < RegionCount; Second++) {
      ImageRegion B = ImageRegionAt(Image, Frba, Second);
      if (B.InUse && A.Base <= B.Limit && B.Base <= A.Limit) {
        return TRUE;
      }
    }
  }
  return FALSE;
}

// The flash the image's components describe; 0 when a density code is invalid.
UINT64 ImageFlashSize(const UINT8 *Image, UINT32 Flmap0) {
  UINT32 Fcba = ((Flmap0 >> FLMAP0_FCBA_SHIFT) & FLMAP0_FCBA_MASK) * DESCRIPTOR_BASE_UNIT;
  if (Fcba + sizeof(UINT32) > FLASH_DESCRIPTOR_BYTES) {
    return 0;
  }
  UINT32 Flcomp = ImageDword(Image, Fcba);
  UINT32 First = 0;
  UINT32 Second = 0;
  if (!FlashComponentSize(Flcomp, 0, &First)) {
    return 0;
  }
  if (FlashComponentCount(Flmap0) > 1 && !FlashComponentSize(Flcomp, 1, &Second)) {
    return 0;
  }
  return static_cast<UINT64>(First) + Second;
}

}  // namespace

BOOLEAN DescriptorValid(UINT64 Mmio) {
  return (RegRead32(Mmio + HSFSTS_CTL) & HSFSTS_CTL_FDV) != 0;
}

UINT32 DescriptorReadDword(UINT64 Mmio, UINT32 Section, UINT32 Index) {
  constexpr UINT32 Selector = FDOC_FDSS_MASK << FDOC_FDSS_SHIFT | FDOC_FDSI_MASK << FDOC_FDSI_SHIFT;
  UINT32 Value = (Section & FDOC_FDSS_MASK) << FDOC_FDSS_SHIFT | (Index & FDOC_FDSI_MASK)
                                                                     << FDOC_FDSI_SHIFT;
  RegAndOr32(Mmio + FDOC, ~Selector, Value);
  return RegRead32(Mmio + FDOD);
}

UINT32 FlashComponentCount(UINT32 Flmap0) {
  return ((Flmap0 >> FLMAP0_NC_SHIFT) & FLMAP0_NC_MASK) + 1;
}

BOOLEAN FlashComponentSize(UINT32 Flcomp, UINT32 Component, UINT32 *Bytes) {
  UINT32 Shift = Component == 0 ? FLCOMP_DENSITY_SHIFT_0 : FLCOMP_DENSITY_SHIFT_1;
  UINT32 Code = (Flcomp >> Shift) & FLCOMP_DENSITY_MASK;
  if (Code > FLCOMP_DENSITY_CODE_MAX) {
    *Bytes = 0;
    return FALSE;
  }
  *Bytes = FLCOMP_DENSITY_UNIT << Code;
  return TRUE;
}

DescriptorImageFault CheckDescriptorImage(const UINT8 *Image, UINT32 ImageBytes, UINT32 RegionCount,
                                          UINT32 FlashSize) {
  if (ImageBytes < FLASH_DESCRIPTOR_BYTES || ImageDword(Image, FLVALSIG_OFFSET) != FLVALSIG) {
    return DescriptorImageNoSignature;
  }
  if (RegionCount == 0 || RegionCount > FREG_MAX_COUNT) {
    RegionCount = FREG_COUNT;
  }
  UINT32 Flmap0 = ImageDword(Image, FLMAP0_OFFSET);
  UINT32 Frba = ((Flmap0 >> FLMAP0_FRBA_SHIFT) & FLMAP0_FRBA_MASK) * DESCRIPTOR_BASE_UNIT;
  ImageRegion Bios = ImageRegionAt(Image, Frba, FREG_BIOS_REGION);
  if (!Bios.InUse) {
    return DescriptorImageNoBiosRegion;
  }
  if (Bios.Limit + 1 != ImageBytes) {
    return DescriptorImageBiosNotAtTop;
  }
  if (AnyRegionsOverlap(Image, Frba, RegionCount)) {
    return DescriptorImageRegionsOverlap;
  }
  if (ImageFlashSize(Image, Flmap0) != FlashSize) {
    return DescriptorImageSizeDiffers;
  }
  return DescriptorImageBoots;
}
