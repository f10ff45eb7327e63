// Reading the flash descriptor through the controller's observability window.
#include "flash/flash_descriptor.h"

#include "flash/hw_access.h"
#include "flash/regs/descriptor.h"
#include "flash/regs/spi_mmio.h"

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
