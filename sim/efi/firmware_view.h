// The firmware as the application under pchflash-sim.efi sees it: a copy of the
// real system table whose ACPI 2.0 configuration-table entry leads to an MCFG
// naming the ECAM base of the simulated platform and a FADT (a patched copy of the
// real one, or a new one) naming its ACPI I/O base, and whose boot services' Stall
// waits on the simulated platform's clock (the simulated hardware knows no other
// time). Every other entry, every other ACPI table the XSDT lists and every other
// service stay the real firmware's.
#pragma once

#include "uefi/uefi.h"

struct SimEfiFirmwareView {
  EFI_SYSTEM_TABLE *SystemTable;  // the copy to hand to the application
  VOID *Memory;                   // one block holding the copy and the new tables
};

// McfgPresent false: the XSDT lists no MCFG; FadtPresent false: no FADT; both
// false: the copy has no ACPI 2.0 entry at all. Stall null: the real boot
// services table. Allocate returns memory for the view (null on failure:
// EFI_OUT_OF_RESOURCES).
EFI_STATUS SimEfiBuildFirmwareView(const EFI_SYSTEM_TABLE *Real, BOOLEAN McfgPresent,
                                   UINT64 McfgBase, EFI_STALL Stall, VOID *(*Allocate)(UINTN Bytes),
                                   SimEfiFirmwareView *View, BOOLEAN FadtPresent = FALSE,
                                   UINT16 FadtBase = 0);
