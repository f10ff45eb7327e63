// The PCI configuration header every function of the PCH starts with, and where
// the PCH's functions sit on bus 0: offsets from a function's configuration space.
#pragma once

#include "uefi/uefi.h"

constexpr UINT32 PCI_ID = 0x00;  // vendor ID in bits 15:0, device ID in bits 31:16
constexpr UINT32 PCI_DEVICE_ID_SHIFT = 16;
constexpr UINT16 PCI_VENDOR_ID_INTEL = 0x8086;
constexpr UINT16 PCI_ID_ABSENT = 0xFFFF;            // nothing answers, or the IDs are hidden
constexpr UINT32 PCI_REGISTER_ABSENT = 0xFFFFFFFF;  // what a function that is not there reads

constexpr UINT32 PCI_CLASS_REVISION = 0x08;  // class code in bits 31:8
constexpr UINT32 PCI_CLASS_CODE_SHIFT = 8;

constexpr UINT32 PCI_BAR_IO_SPACE = 1u << 0;  // an I/O BAR, not a memory BAR

// The LPC/eSPI bridge, 0:31.0: stays visible, and its device ID names the PCH.
constexpr UINT32 LPC_PCI_BUS = 0;
constexpr UINT32 LPC_PCI_DEVICE = 31;
constexpr UINT32 LPC_PCI_FUNCTION = 0;
