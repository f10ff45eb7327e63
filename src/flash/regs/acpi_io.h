// The PMC's ACPI I/O registers: offsets from the ACPI I/O base (ABASE).
#pragma once

#include "uefi/uefi.h"

constexpr UINT16 ACPI_PM1_TMR = 0x08;
constexpr UINT32 ACPI_PM1_TMR_MASK = 0xFFFFFF;  // a 24-bit up-counter in bits 23:0
constexpr UINT32 ACPI_PM1_TMR_WIDTH = 24;
// 3.579545 MHz, as whole ticks per 100 microseconds.
constexpr UINT64 ACPI_PM1_TMR_TICKS_PER_100US = 358;

constexpr UINT16 ACPI_SMI_EN = 0x30;
constexpr UINT32 SMI_EN_GBL_SMI_EN = 1u << 0;
