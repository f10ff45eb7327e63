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

// What the view does with the real FADT.
enum SimEfiFadt : UINT32 {
  SimEfiFadtReal,     // lists it as it is (or none, where the firmware has none)
  SimEfiFadtPatched,  // a copy (or a new one) giving FadtBase as the ACPI I/O base
  SimEfiFadtNone,     // lists no FADT
};

// McfgPresent false: the XSDT lists no MCFG, and without a patched FADT the copy
// has no ACPI 2.0 entry at all. Stall null: the real boot services table. Allocate
// returns memory for the view (null on failure: EFI_OUT_OF_RESOURCES).
EFI_STATUS SimEfiBuildFirmwareView(const EFI_SYSTEM_TABLE *Real, BOOLEAN McfgPresent,
                                   UINT64 McfgBase, EFI_STALL Stall, VOID *(*Allocate)(UINTN Bytes),
                                   SimEfiFirmwareView *View, SimEfiFadt Fadt = SimEfiFadtReal,
                                   UINT16 FadtBase = 0);
