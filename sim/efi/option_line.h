// The options file of pchflash-sim.efi: one line of pchflash-sim's platform and
// fault options, spelt as on the host command line ("--chip W25Q64BV --protect
// 800000:80FFFF"). Freestanding: no C library, no allocation.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sim/regs/address_map.h"
#include "sim/sim_platform.h"

constexpr uint64_t SIM_EFI_DEFAULT_MCFG_BASE = ECAM_BASE;
constexpr uint32_t SIM_EFI_MESSAGE_SIZE = 256;

struct SimEfiOptions {
  SimConfig Platform;  // InitialFlash stays null
  // The ECAM base the ACPI tables given to the application name; none: the
  // application sees no ACPI tables at all.
  bool McfgPresent;
  uint64_t McfgBase;
};

// Fills Options from the file's bytes (ASCII or UTF-8 without anything beyond
// ASCII, or UCS-2 with its byte-order mark, as the shell's own editor and echo
// write it). Blanks and line ends all separate options. On a bad option returns
// false and leaves one line in Message naming it (no line end).
bool SimEfiParseOptions(const uint8_t *Bytes, size_t Length, SimEfiOptions *Options,
                        char (&Message)[SIM_EFI_MESSAGE_SIZE]);

// The defaults: no file, or an empty one.
void SimEfiOptionDefaults(SimEfiOptions *Options);

// How pchflash-sim.efi treats each option of pchflash-sim (for the check that the
// two stay in step): taken, or refused because it belongs to the host.
enum SimEfiOptionUse : uint32_t {
  SimEfiOptionTaken,
  SimEfiOptionHostFiles,     // files and outputs of the host program
  SimEfiOptionHostFirmware,  // the host firmware model; the real shell has its own
};
// The use of an option given with its leading "--"; false for no pchflash-sim option.
bool SimEfiOptionUseOf(const char *Name, SimEfiOptionUse *Use);
