// The sizes every layer shares: the flash's erase units, the BIOS window the
// chipset maps just below 4 GiB, and the whole flash of a 16 MiB board laid out
// so that it ends at 4 GiB.
#pragma once

#include "uefi/uefi.h"

constexpr UINT64 FOUR_GIB = 0x100000000ULL;

// The smallest erase (and the unit of the range registers).
constexpr UINT32 FLASH_SECTOR_4K = 0x1000;
// The large erase; the write command compares, erases and programs in these blocks.
constexpr UINT32 FLASH_BLOCK_64K = 0x10000;

constexpr UINT64 BIOS_WINDOW_SIZE = 0x800000;
constexpr UINT64 BIOS_WINDOW_BASE = FOUR_GIB - BIOS_WINDOW_SIZE;

constexpr UINT64 WHOLE_FLASH_SIZE = 0x1000000;
constexpr UINT64 WHOLE_FLASH_WINDOW_BASE = FOUR_GIB - WHOLE_FLASH_SIZE;
