// The one reader of the flash descriptor: a dword through FDOC/FDOD, and the
// decoding of the component count and sizes that every user of the descriptor
// shares.
#pragma once

#include "uefi/uefi.h"

// TRUE when the controller at Mmio found a valid descriptor (HSFSTS_CTL FDV).
BOOLEAN DescriptorValid(UINT64 Mmio);

// Selects the dword Index of descriptor section Section in FDOC, keeping FDOC's
// bits outside FDSS and FDSI, and reads it from FDOD.
UINT32 DescriptorReadDword(UINT64 Mmio, UINT32 Section, UINT32 Index);

// Number of flash components from FLMAP0 NC: 1..4. Only 1 and 2 are defined;
// any count above 1 means a second component is wired.
UINT32 FlashComponentCount(UINT32 Flmap0);

// Bytes of component 0 or 1 from FLCOMP; FALSE (and 0 bytes) for an invalid
// density code, so no caller shifts by one.
BOOLEAN FlashComponentSize(UINT32 Flcomp, UINT32 Component, UINT32 *Bytes);

// What keeps the descriptor at the start of a whole-flash image from booting a
// board: the processor starts at the top of the BIOS region, which must be the
// top of the image, the controller cannot serve two regions at one address, and
// the components' densities must describe the flash the image is written to.
enum DescriptorImageFault : UINT32 {
  DescriptorImageBoots,
  DescriptorImageNoSignature,
  DescriptorImageNoBiosRegion,
  DescriptorImageBiosNotAtTop,
  DescriptorImageRegionsOverlap,
  DescriptorImageSizeDiffers,
};

// Checks the descriptor in the first 4 KiB of a whole-flash image of ImageBytes
// bytes, of which the controller reads RegionCount regions, for a flash of
// FlashSize bytes.
DescriptorImageFault CheckDescriptorImage(const UINT8 *Image, UINT32 ImageBytes, UINT32 RegionCount,
                                          UINT32 FlashSize);
