// The firmware's ACPI tables, found through the system table's ACPI 2.0
// configuration table entry.
#pragma once

#include "uefi/uefi.h"

// The ECAM base that the MCFG gives for PCI segment 0, bus 0. EFI_NOT_FOUND when
// the firmware publishes no ACPI 2.0 RSDP, no XSDT, no MCFG, or no allocation
// covering that bus; EFI_NOT_FOUND too for tables too malformed to walk.
EFI_STATUS AcpiFindEcamBase(UINT64 *Base);

// The FADT's power-management blocks as system I/O ports: the PM1a event block
// and the PM timer block, each the extended member (ACPI 2.0 on) when it names a
// system I/O port, else the 32-bit one; 0 for a block the table does not give.
// EFI_NOT_FOUND without a FADT.
EFI_STATUS AcpiFindPmBlocks(UINT16 *Pm1aEvent, UINT16 *PmTimer);
