// The options file of pchflash-sim.efi: one line of pchflash-sim's platform and
// fault options, spelt as on the host command line ("--chip W25Q64BV --protect
// 800000:80FFFF"). Freestanding: no C library, no allocation.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sim/option_table.h"

constexpr uint32_t SIM_EFI_MESSAGE_SIZE = 256;

// Fills Options from the file's bytes (ASCII or UTF-8 without anything beyond
// ASCII, or UCS-2 with its byte-order mark, as the shell's own editor and echo
// write it). Blanks and line ends all separate options. On a bad option returns
// false and leaves one line in Message naming it (no line end).
bool SimEfiParseOptions(const uint8_t *Bytes, size_t Length, SimOptionSettings *Options,
                        char (&Message)[SIM_EFI_MESSAGE_SIZE]);
