// The firmware's ACPI tables, found through the system table's ACPI 2.0
// configuration table entry.
#pragma once

#include "uefi/uefi.h"

// The ECAM base that the MCFG gives for PCI segment 0, bus 0. EFI_NOT_FOUND when
// the firmware publishes no ACPI 2.0 RSDP, no XSDT, no MCFG, or no allocation
// covering that bus; EFI_NOT_FOUND too for tables too malformed to walk.
EFI_STATUS AcpiFindEcamBase(UINT64 *Base);
