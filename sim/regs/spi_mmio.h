// The SPI controller's memory-mapped registers, offsets from the base BAR0
// decodes (100-series layout), and their fields.
#pragma once

#include <stdint.h>

constexpr uint32_t SPI_BFPREG = 0x00;
constexpr uint32_t SPI_HSFSTS_CTL = 0x04;
constexpr uint32_t SPI_FADDR = 0x08;
constexpr uint32_t SPI_DLOCK = 0x0C;
constexpr uint32_t SPI_FDATA0 = 0x10;
constexpr uint32_t SPI_FRAP = 0x50;
constexpr uint32_t SPI_FREG0 = 0x54;
constexpr uint32_t SPI_PR0 = 0x84;
constexpr uint32_t SPI_GPR0 = 0x98;
constexpr uint32_t SPI_SSFSTS_CTL = 0xA0;
constexpr uint32_t SPI_PREOP_OPTYPE = 0xA4;
constexpr uint32_t SPI_OPMENU0 = 0xA8;
constexpr uint32_t SPI_OPMENU1 = 0xAC;
constexpr uint32_t SPI_FDOC = 0xB4;
constexpr uint32_t SPI_FDOD = 0xB8;
constexpr uint32_t SPI_LVSCC = 0xC4;
constexpr uint32_t SPI_UVSCC = 0xC8;

// HSFSTS_CTL
constexpr uint32_t HSFSTS_CTL_FDONE = 1u << 0;
constexpr uint32_t HSFSTS_CTL_FCERR = 1u << 1;
constexpr uint32_t HSFSTS_CTL_AEL = 1u << 2;
constexpr uint32_t HSFSTS_CTL_W1C = HSFSTS_CTL_FDONE | HSFSTS_CTL_FCERR | HSFSTS_CTL_AEL;
constexpr uint32_t HSFSTS_CTL_SCIP = 1u << 5;
constexpr uint32_t HSFSTS_CTL_WRSDIS = 1u << 11;
constexpr uint32_t HSFSTS_CTL_PRR34_LOCKDN = 1u << 12;
constexpr uint32_t HSFSTS_CTL_FDOPSS = 1u << 13;
constexpr uint32_t HSFSTS_CTL_FDV = 1u << 14;
constexpr uint32_t HSFSTS_CTL_FLOCKDN = 1u << 15;
constexpr uint32_t HSFSTS_CTL_FGO = 1u << 16;
constexpr uint32_t HSFSTS_CTL_FCYCLE_SHIFT = 17;
constexpr uint32_t HSFSTS_CTL_FCYCLE_MASK = 0xFu << HSFSTS_CTL_FCYCLE_SHIFT;
constexpr uint32_t HSFSTS_CTL_WET = 1u << 21;
constexpr uint32_t HSFSTS_CTL_FDBC_SHIFT = 24;
constexpr uint32_t HSFSTS_CTL_FDBC_MASK = 0x3Fu << HSFSTS_CTL_FDBC_SHIFT;
constexpr uint32_t HSFSTS_CTL_FSMIE = 1u << 31;
constexpr uint32_t HSFSTS_CTL_CONTROL =
    HSFSTS_CTL_FCYCLE_MASK | HSFSTS_CTL_WET | HSFSTS_CTL_FDBC_MASK | HSFSTS_CTL_FSMIE;

// FCYCLE codes
constexpr uint32_t FCYCLE_READ = 0x0;
constexpr uint32_t FCYCLE_WRITE = 0x2;
constexpr uint32_t FCYCLE_ERASE_4K = 0x3;
constexpr uint32_t FCYCLE_ERASE_64K = 0x4;
constexpr uint32_t FCYCLE_READ_SFDP = 0x5;
constexpr uint32_t FCYCLE_READ_JEDEC_ID = 0x6;
constexpr uint32_t FCYCLE_WRITE_STATUS = 0x7;
constexpr uint32_t FCYCLE_READ_STATUS = 0x8;

constexpr uint32_t FADDR_MASK = 0x07FFFFFF;     // 27 bits
constexpr uint32_t SW_FADDR_MASK = 0x00FFFFFF;  // software sequencing sends 24 address bits

// SSFSTS_CTL: status byte (7:0) and control (31:8)
constexpr uint32_t SSFSTS_CTL_SCIP = 1u << 0;
constexpr uint32_t SSFSTS_CTL_FDONE = 1u << 2;
constexpr uint32_t SSFSTS_CTL_FCERR = 1u << 3;
constexpr uint32_t SSFSTS_CTL_AEL = 1u << 4;
constexpr uint32_t SSFSTS_CTL_W1C = SSFSTS_CTL_FDONE | SSFSTS_CTL_FCERR;
constexpr uint32_t SSFSTS_CTL_SCGO = 1u << 9;
constexpr uint32_t SSFSTS_CTL_ACS = 1u << 10;
constexpr uint32_t SSFSTS_CTL_SPOP = 1u << 11;
constexpr uint32_t SSFSTS_CTL_COP_SHIFT = 12;
constexpr uint32_t SSFSTS_CTL_DBC_SHIFT = 16;
constexpr uint32_t SSFSTS_CTL_DS = 1u << 22;
constexpr uint32_t SSFSTS_CTL_CONTROL = 0x07FF7C00;  // ACS SPOP COP DBC DS SME SCF

// OPTYPE per menu slot
constexpr uint32_t OPTYPE_WRITE = 0x1;
constexpr uint32_t OPTYPE_ADDRESS = 0x2;

// FRAP
constexpr uint32_t FRAP_BRRA_BRWA = 0x0000FFFF;  // read-only, from the descriptor
constexpr uint32_t FRAP_BRWA_SHIFT = 8;
constexpr uint32_t FRAP_REGION_COUNT = 8;  // BRRA/BRWA cover regions 0..7

// FLMSTRn of the descriptor (100-series layout): read access to region n at bit
// 8 + n, write access at bit 20 + n, regions 0..11.
constexpr uint32_t FLMSTR_READ_SHIFT = 8;
constexpr uint32_t FLMSTR_WRITE_SHIFT = 20;

// PRn / FREGn fields
constexpr uint32_t PR_RPE = 1u << 15;
constexpr uint32_t PR_WPE = 1u << 31;
constexpr uint32_t FIELD_4K_MASK = 0x7FFF;

// DLOCK: PR0..PR4 lock-down bits 12:8; the writable lock bits
constexpr uint32_t DLOCK_PR0_LOCKDN_SHIFT = 8;
constexpr uint32_t DLOCK_WRITABLE = 0x00011F0F;

// FDOC
constexpr uint32_t FDOC_WRITABLE = 0x00007FFC;
constexpr uint32_t FDOC_FDSS_SHIFT = 12;
constexpr uint32_t FDOC_FDSI_SHIFT = 2;
constexpr uint32_t FDOC_FDSI_MASK = 0x3FF;

// LVSCC/UVSCC, 100-series layout
constexpr uint32_t VSCC_WG_64 = 1u << 2;
constexpr uint32_t VSCC_WSR = 1u << 3;
constexpr uint32_t VSCC_WEWS = 1u << 4;
constexpr uint32_t VSCC_EO_4K_SHIFT = 8;
constexpr uint32_t VSCC_EO_64K_SHIFT = 16;
constexpr uint32_t VSCC_EO_4K_VALID = 1u << 28;
constexpr uint32_t VSCC_EO_64K_VALID = 1u << 29;
constexpr uint32_t VSCC_VCL = 1u << 30;
constexpr uint32_t VSCC_WRITABLE = 0xFFFFFFFC;
