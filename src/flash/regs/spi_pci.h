// PCI configuration of the SPI flash controller, bus 0 device 31 function 5:
// offsets from the function's configuration space in the ECAM window.
#pragma once

#include "uefi/uefi.h"

constexpr UINT32 SPI_PCI_BUS = 0;
constexpr UINT32 SPI_PCI_DEVICE = 31;
constexpr UINT32 SPI_PCI_FUNCTION = 5;

constexpr UINT32 PCI_COMMAND = 0x04;
constexpr UINT8 PCI_COMMAND_MSE = 1u << 1;  // memory space enable

// Serial bus controller, "other": what the SPI controller answers in its class code.
constexpr UINT32 SPI_CLASS_CODE = 0x0C8000;

constexpr UINT32 SPI_BAR0 = 0x10;
constexpr UINT32 SPI_BAR0_MASK = 0xFFFFF000;  // base bits 31:12; 4 KiB of registers

constexpr UINT32 BIOS_CONTROL = 0xDC;
constexpr UINT8 BIOS_CONTROL_BIOSWE = 1u << 0;  // WPD: BIOS region writable
constexpr UINT8 BIOS_CONTROL_LE = 1u << 1;      // setting BIOSWE raises an SMI
constexpr UINT32 BIOS_CONTROL_SRC_SHIFT = 2;
constexpr UINT8 BIOS_CONTROL_SRC_MASK = 0x3u << BIOS_CONTROL_SRC_SHIFT;
constexpr UINT8 BIOS_CONTROL_SRC_NO_PREFETCH_NO_CACHE = 0x1u << BIOS_CONTROL_SRC_SHIFT;
constexpr UINT8 BIOS_CONTROL_EISS = 1u << 5;  // BIOS writes only from SMM
