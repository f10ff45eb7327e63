// The Intel flash descriptor as the SPI controller shows it through FDOC/FDOD:
// sections, dword indices and fields.
#pragma once

#include "uefi/uefi.h"

// FDOC FDSS sections and the FDSI dword index of each dword read.
constexpr UINT32 FDSS_MAP = 0;  // signature and maps
constexpr UINT32 FDSS_COMPONENT = 1;
constexpr UINT32 FDSS_REGION = 2;
constexpr UINT32 FDSS_MASTER = 3;
constexpr UINT32 FDSI_FLVALSIG = 0;
constexpr UINT32 FDSI_FLMAP0 = 1;
constexpr UINT32 FDSI_FLMAP1 = 2;
constexpr UINT32 FDSI_FLMAP2 = 3;
constexpr UINT32 FDSI_FLCOMP = 0;
constexpr UINT32 FDSI_FLMSTR1 = 0;

// The signature in the flash image, at flash-linear 0x10, and the maps after it.
constexpr UINT32 FLVALSIG_OFFSET = 0x10;
constexpr UINT32 FLMAP0_OFFSET = 0x14;
constexpr UINT32 FLVALSIG = 0x0FF0A55A;
// The descriptor occupies the first 4 KiB of the flash.
constexpr UINT32 FLASH_DESCRIPTOR_BYTES = 0x1000;

constexpr UINT32 FLMAP0_FCBA_SHIFT = 0;  // component section base
constexpr UINT32 FLMAP0_FCBA_MASK = 0xFF;
constexpr UINT32 FLMAP0_NC_SHIFT = 8;  // number of components - 1
constexpr UINT32 FLMAP0_NC_MASK = 0x3;
constexpr UINT32 FLMAP0_FRBA_SHIFT = 16;  // region section base
constexpr UINT32 FLMAP0_FRBA_MASK = 0xFF;

// Section bases count in 16 bytes, strap lengths in dwords.
constexpr UINT32 DESCRIPTOR_BASE_UNIT = 16;
constexpr UINT32 DESCRIPTOR_LENGTH_UNIT = 4;
constexpr UINT32 FLMAP1_FPSBA_SHIFT = 16;  // PCH strap base
constexpr UINT32 FLMAP1_FPSBA_MASK = 0xFF;
constexpr UINT32 FLMAP1_PSL_SHIFT = 24;  // PCH strap length
constexpr UINT32 FLMAP1_PSL_MASK = 0xFF;
constexpr UINT32 FLMAP2_FMSBA_SHIFT = 0;  // CPU strap base
constexpr UINT32 FLMAP2_FMSBA_MASK = 0xFF;
constexpr UINT32 FLMAP2_MSL_SHIFT = 8;  // CPU strap length
constexpr UINT32 FLMAP2_MSL_MASK = 0xFF;

constexpr UINT32 FLCOMP_DENSITY_SHIFT_0 = 0;  // component 0
constexpr UINT32 FLCOMP_DENSITY_SHIFT_1 = 4;  // component 1
constexpr UINT32 FLCOMP_DENSITY_MASK = 0xF;
// A density code 0..7 means 512 KiB << code; codes 8..15 are invalid.
constexpr UINT32 FLCOMP_DENSITY_UNIT = 0x80000;
constexpr UINT32 FLCOMP_DENSITY_CODE_MAX = 7;

// FLREGn, the region section's dword n, has FREGn's layout: base and limit in 4 KiB
// units; a base above the limit marks a region not in use.
constexpr UINT32 FLREG_BYTES = 4;

// FLMSTR1 write access: bit 20 + n grants the host region n.
constexpr UINT32 FLMSTR_WRITE_SHIFT = 20;
constexpr UINT32 FLMSTR1_WRITE_REGIONS_4_TO_7 = 0xFu << (FLMSTR_WRITE_SHIFT + 4);
