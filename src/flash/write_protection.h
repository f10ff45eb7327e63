// Which flash blocks the write command may rewrite: checked against the
// protections of the SPI controller before the first erase, so a protected
// block never stops an update half-way.
#pragma once

#include "flash/regs/spi_mmio.h"
#include "uefi/uefi.h"

struct FlashLinearRange {  // inclusive bounds
  UINT64 Base;
  UINT64 Limit;
};

// The protections in force, read once from the controller.
struct WriteProtectionMap {
  BOOLEAN CheckRegions;     // descriptor mode: FRAP BRWA governs the regions
  UINT8 RegionWriteAccess;  // FRAP BRWA as the controller holds it now
  UINT8 RegionsInUse;       // bit n: FREGn describes a region
  FlashLinearRange Region[FREG_COUNT];
  UINT32 ProtectedCount;  // PRn with WPE set
  FlashLinearRange Protected[PR_COUNT];
};

VOID ReadWriteProtection(WriteProtectionMap *Map);

// Reads FRAP and the writable range again, for a platform whose firmware has
// just lifted the descriptor's limits (the full-flash preparation).
VOID ReadFlashAccessAgain();

// TRUE when Length bytes at Address may be erased and programmed: inside the
// window and the writable range, in no region without write access and in no
// write-protected range.
BOOLEAN FlashRangeWritable(const WriteProtectionMap *Map, UINT64 Address, UINT64 Length);
