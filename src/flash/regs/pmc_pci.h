// PCI configuration of the power-management controller (PMC), bus 0 device 31
// function 2: offsets from the function's configuration space in the ECAM window.
#pragma once

#include "uefi/uefi.h"

constexpr UINT32 PMC_PCI_BUS = 0;
constexpr UINT32 PMC_PCI_DEVICE = 31;
constexpr UINT32 PMC_PCI_FUNCTION = 2;

constexpr UINT32 PMC_VENDOR_ID = 0x00;
constexpr UINT16 PMC_VENDOR_ID_ABSENT = 0xFFFF;  // no function answers

constexpr UINT32 PMC_ABASE = 0x40;             // 100/200-series and C620
constexpr UINT32 PMC_ABASE_300_SERIES = 0x20;  // from the 300-series on
constexpr UINT16 PMC_ABASE_MASK = 0xFFFC;      // I/O base in bits 15:2
