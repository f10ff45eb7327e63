// The flash part table, the identification of the installed chip and the set-up
// of the controller and of the BIOS window for it.
#pragma once

#include "uefi/uefi.h"

// Where the memory-mapped BIOS window lies in the flash, and what may be written.
struct BiosWindowRecord {
  UINT64 Base;
  UINT64 Size;
  INT64 FlashOffset;
  UINT32 FlashSize;
  UINT32 EraseBlockSize;
  UINT64 WritableLow;
  UINT64 WritableHigh;
  UINT32 SpiBar;
  BOOLEAN DescriptorMode;
};
extern BiosWindowRecord BiosWindow;

EFI_STATUS BiosWindowInit();
VOID DetectFlashPart();

// The row DetectFlashPart accepted, or -1 when none was.
INT32 SelectedFlashPartIndex();
