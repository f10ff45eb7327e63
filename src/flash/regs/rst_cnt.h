// The chipset's Reset Control register, I/O port 0xCF9 (8-bit).
#pragma once

#include "uefi/uefi.h"

constexpr UINT16 RST_CNT = 0xCF9;
constexpr UINT8 RST_CNT_SYS_RST = 1u << 1;  // hard reset rather than INIT only
constexpr UINT8 RST_CNT_RST_CPU = 1u << 2;  // its change from 0 to 1 starts the reset
