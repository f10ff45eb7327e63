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
  UINT8 RegionReadAccess;   // FRAP BRRA as the controller holds it now
  UINT8 RegionWriteAccess;  // FRAP BRWA as the controller holds it now
  UINT16 RegionsInUse;      // bit n: FREGn describes a region
  FlashLinearRange Region[FREG_MAX_COUNT];
  UINT32 ProtectedCount;  // PRn and GPR0 with WPE set
  FlashLinearRange Protected[PR_COUNT + 1];
  const CHAR8 *ProtectedBy[PR_COUNT + 1];  // "PR0".."PR4", "GPR0"
};

// Why a range may not be written: its first byte, flash-linear, and what protects
// it: the register ("PR0".."PR4", "GPR0") or the descriptor region ("descriptor",
// "BIOS", "ME", "GbE", "platform data", "region N"). A region above 7 in use
// protects its blocks: FRAP says nothing of the host's access to it.
struct WriteProtectionCause {
  UINT64 FlashLinear;
  const CHAR8 *Protector;
};

// What keeps a platform from taking flash writes at all, checked before the first
// erase; PlatformWritable when nothing does.
enum PlatformRefusal : UINT32 {
  PlatformWritable,
  PlatformNoDescriptor,          // the hardware-sequenced path needs a valid descriptor
  PlatformBiosWritesNeedSmm,     // BIOS_CONTROL.EISS
  PlatformBiosWriteLocked,       // BIOSWE does not stay set
  PlatformChipProtected,         // a block-protect bit of the part set in its status
  PlatformChipStatusUnreadable,  // the read-status cycle failed
};

struct PlatformWriteCheck {
  PlatformRefusal Refusal;
  EFI_STATUS Status;  // the status to report for the refusal
  UINT8 ChipStatus;   // with PlatformChipProtected
};

VOID CheckPlatformWritable(PlatformWriteCheck *Check);

// TRUE when the controller has a valid erase opcode (LVSCC/UVSCC) for every erase
// cycle of Length bytes at BIOS address Address.
BOOLEAN FlashRangeErasable(UINT64 Address, UINT64 Length);

VOID ReadWriteProtection(WriteProtectionMap *Map);

// Reads FRAP and the writable range again, for a platform whose firmware has
// just lifted the descriptor's limits (the full-flash preparation).
VOID ReadFlashAccessAgain();

// The first region in use that Length bytes at BIOS address Address reach into and
// that the host may not read (FRAP BRRA clear; nothing above region 7 is known to be
// readable): its number and the first flash-linear byte of the range inside it.
// FALSE when every region the range reaches is readable.
BOOLEAN FindUnreadableRegion(const WriteProtectionMap *Map, UINT64 Address, UINT64 Length,
                             UINT32 *Region, UINT64 *FlashLinear);

// TRUE when Length bytes at Address may be erased and programmed: inside the
// window and the writable range, in no region without write access and in no
// write-protected range. Otherwise *Cause says what protects the range.
BOOLEAN FlashRangeWritable(const WriteProtectionMap *Map, UINT64 Address, UINT64 Length,
                           WriteProtectionCause *Cause);
