// The SPI NOR chip's status register (read with opcode 05h, or the controller's
// read-status cycle).
#pragma once

#include "uefi/uefi.h"

constexpr UINT8 SPI_NOR_STATUS_WIP = 1u << 0;  // a program, erase or status write runs
constexpr UINT8 SPI_NOR_STATUS_WEL = 1u << 1;  // write enable latch
// Block-protect bits BP0..BP2, and BP3 on the parts that have it: any of them set
// makes the chip ignore program and erase in the protected part of the array.
constexpr UINT8 SPI_NOR_STATUS_BP_MASK = 0x3Cu;
constexpr UINT8 SPI_NOR_STATUS_SRWD = 1u << 7;  // status register write disable
