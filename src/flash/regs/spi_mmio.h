// The SPI controller's memory-mapped registers (100-series PCH and later):
// offsets from the base that BAR0 of 0:31.5 decodes.
#pragma once

#include "uefi/uefi.h"

// Flash-linear addresses in BFPREG, FREGn, PRn and GPR0 are 4 KiB units: the
// 15-bit fields hold address bits 26:12.
constexpr UINT32 SPI_RANGE_UNIT_SHIFT = 12;
constexpr UINT32 SPI_RANGE_FIELD_MASK = 0x7FFF;
constexpr UINT32 SPI_RANGE_BASE_SHIFT = 0;          // bits 14:0
constexpr UINT32 SPI_RANGE_LIMIT_SHIFT = 16;        // bits 30:16
constexpr UINT64 SPI_RANGE_LIMIT_LOW_BITS = 0xFFF;  // a limit's address bits 11:0

// The first and the last flash-linear byte of a range register's fields.
constexpr UINT64 SpiRangeBase(UINT32 Value) {
  return static_cast<UINT64>((Value >> SPI_RANGE_BASE_SHIFT) & SPI_RANGE_FIELD_MASK)
         << SPI_RANGE_UNIT_SHIFT;
}
constexpr UINT64 SpiRangeLimit(UINT32 Value) {
  return static_cast<UINT64>((Value >> SPI_RANGE_LIMIT_SHIFT) & SPI_RANGE_FIELD_MASK)
             << SPI_RANGE_UNIT_SHIFT |
         SPI_RANGE_LIMIT_LOW_BITS;
}

// A range whose base lies above its limit marks a region not in use.
constexpr BOOLEAN SpiRangeInUse(UINT32 Value) {
  return SpiRangeBase(Value) <= (SpiRangeLimit(Value) & ~SPI_RANGE_LIMIT_LOW_BITS);
}

constexpr UINT32 BFPREG = 0x00;  // the BIOS region as FREG1 gives it; base and limit fields

constexpr UINT32 HSFSTS_CTL = 0x04;
constexpr UINT32 HSFSTS_CTL_FDONE = 1u << 0;  // write one to clear
constexpr UINT32 HSFSTS_CTL_FCERR = 1u << 1;  // write one to clear
constexpr UINT32 HSFSTS_CTL_AEL = 1u << 2;    // write one to clear
constexpr UINT32 HSFSTS_CTL_SCIP = 1u << 5;
constexpr UINT32 HSFSTS_CTL_FDV = 1u << 14;  // flash descriptor valid
constexpr UINT32 HSFSTS_CTL_FLOCKDN = 1u << 15;
constexpr UINT32 HSFSTS_CTL_FGO = 1u << 16;
constexpr UINT32 HSFSTS_CTL_FCYCLE_SHIFT = 17;
constexpr UINT32 HSFSTS_CTL_FCYCLE_MASK = 0xF;
constexpr UINT32 HSFSTS_CTL_FDBC_SHIFT = 24;  // byte count - 1
constexpr UINT32 HSFSTS_CTL_FDBC_MASK = 0x3F;

// HSFSTS_CTL FCYCLE values.
constexpr UINT32 FCYCLE_READ = 0x0;
constexpr UINT32 FCYCLE_WRITE = 0x2;
constexpr UINT32 FCYCLE_ERASE_4K = 0x3;
constexpr UINT32 FCYCLE_ERASE_64K = 0x4;
constexpr UINT32 FCYCLE_READ_SFDP = 0x5;
constexpr UINT32 FCYCLE_READ_JEDEC_ID = 0x6;
constexpr UINT32 FCYCLE_WRITE_STATUS = 0x7;
constexpr UINT32 FCYCLE_READ_STATUS = 0x8;

constexpr UINT32 FADDR = 0x08;
constexpr UINT32 FADDR_MASK = 0x07FFFFFF;  // bits 26:0

constexpr UINT32 FDATA0 = 0x10;  // FDATA0..FDATA15: byte 0 of FDATA0 is the byte at FADDR
constexpr UINT32 FDATA_BYTES = 64;

constexpr UINT32 FRAP = 0x50;
constexpr UINT32 FRAP_BRRA_SHIFT = 0;  // bit n: the host may read region n
constexpr UINT32 FRAP_BRWA_SHIFT = 8;  // bit 8 + n: the host may write and erase region n

constexpr UINT32 FREG0 = 0x54;  // FREGn at FREG0 + 4 n; base and limit fields
constexpr UINT32 FREG_STRIDE = 4;
constexpr UINT32 FREG_BIOS_REGION = 1;  // FREG1: the BIOS region
constexpr UINT32 FREG_COUNT = 6;        // FREG0..FREG5 on every controller
constexpr UINT32 FREG_MAX_COUNT = 12;   // FREG6..FREG11 follow on controllers with 12 regions
// FRAP's BRRA and BRWA cover regions 0..7; the host's access to the regions above
// cannot be read from the controller.
constexpr UINT32 FRAP_REGION_COUNT = 8;
constexpr UINT32 FREG_UNUSED = 0x00007FFF;  // base all ones, limit 0

constexpr UINT32 PR0 = 0x84;  // PRn at PR0 + 4 n; base and limit fields
constexpr UINT32 PR_STRIDE = 4;
constexpr UINT32 PR_COUNT = 5;
constexpr UINT32 PR_RPE = 1u << 15;  // read protection enable
constexpr UINT32 PR_WPE = 1u << 31;  // write protection enable

constexpr UINT32 GPR0 = 0x98;  // the global protected range, laid out as PRn

constexpr UINT32 SSFSTS_CTL = 0xA0;
constexpr UINT32 SSFSTS_CTL_SCIP = 1u << 0;
constexpr UINT32 SSFSTS_CTL_FDONE = 1u << 2;  // write one to clear
constexpr UINT32 SSFSTS_CTL_FCERR = 1u << 3;  // write one to clear
constexpr UINT32 SSFSTS_CTL_AEL = 1u << 4;
constexpr UINT32 SSFSTS_CTL_SCGO = 1u << 9;
constexpr UINT32 SSFSTS_CTL_ACS = 1u << 10;   // atomic: prefix, opcode, status poll
constexpr UINT32 SSFSTS_CTL_SPOP = 1u << 11;  // prefix opcode 1 rather than 0
constexpr UINT32 SSFSTS_CTL_COP_SHIFT = 12;   // opcode menu slot
constexpr UINT32 SSFSTS_CTL_COP_MASK = 0x7;
constexpr UINT32 SSFSTS_CTL_DBC_SHIFT = 16;  // data byte count - 1
constexpr UINT32 SSFSTS_CTL_DBC_MASK = 0x3F;
constexpr UINT32 SSFSTS_CTL_DS = 1u << 22;  // the cycle has a data phase
constexpr UINT32 SSFSTS_CTL_SME = 1u << 23;
constexpr UINT32 SSFSTS_CTL_RESERVED = (1u << 8) | (1u << 15);

constexpr UINT32 PREOP = 0xA4;  // prefix opcode 0 in bits 7:0, 1 in bits 15:8
constexpr UINT32 OPTYPE = 0xA6;
constexpr UINT32 OPMENU_LOW = 0xA8;   // menu slots 0..3, slot 0 in bits 7:0
constexpr UINT32 OPMENU_HIGH = 0xAC;  // menu slots 4..7

constexpr UINT32 FDOC = 0xB4;
constexpr UINT32 FDOC_FDSI_SHIFT = 2;  // dword index within the section
constexpr UINT32 FDOC_FDSI_MASK = 0x3FF;
constexpr UINT32 FDOC_FDSS_SHIFT = 12;  // descriptor section
constexpr UINT32 FDOC_FDSS_MASK = 0x7;
constexpr UINT32 FDOD = 0xB8;  // the descriptor dword FDOC selects

constexpr UINT32 LVSCC = 0xC4;         // component 0 (and the only one's erase size, see UVSCC)
constexpr UINT32 UVSCC = 0xC8;         // component 1
constexpr UINT32 VSCC_WG = 1u << 2;    // 64-byte write granularity
constexpr UINT32 VSCC_WSR = 1u << 3;   // write status (0x50 enable) before writes and erases
constexpr UINT32 VSCC_WEWS = 1u << 4;  // write status (0x06 enable) before writes and erases
constexpr UINT32 VSCC_EO_4K_SHIFT = 8;
constexpr UINT32 VSCC_EO_64K_SHIFT = 16;
constexpr UINT32 VSCC_EO_MASK = 0xFF;
constexpr UINT32 VSCC_EO_4K_VALID = 1u << 28;
constexpr UINT32 VSCC_EO_64K_VALID = 1u << 29;
constexpr UINT32 VSCC_VCL = 1u << 30;  // vendor component lock (LVSCC): both are read-only
