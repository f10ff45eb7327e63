// PCI configuration space of the PMC, 0:31.2 (100-series PCH-H; the IDs of the
// other generations are in pch_models.cpp).
#pragma once

#include <stdint.h>

constexpr uint32_t PMC_CLASS_VALUE = 0x05800031;
constexpr uint16_t PMC_COMMAND_WRITABLE = 0x0007;

constexpr uint32_t PMC_ABASE = 0x40;              // 100/200-series and C620
constexpr uint32_t PMC_ABASE_300 = 0x20;          // from the 300-series on
constexpr uint32_t ABASE_IO_SPACE = 0x00000001;   // read-only: an I/O BAR
constexpr uint32_t ABASE_BASE_MASK = 0x0000FF00;  // 256-byte block
constexpr uint32_t ABASE_DEFAULT = 0x1800;

constexpr uint32_t PMC_ACPI_CNT = 0x44;
constexpr uint32_t ACPI_CNT_ACPI_EN = 0x00000080;
constexpr uint32_t ACPI_CNT_WRITABLE = 0x000001FF;

constexpr uint32_t PMC_GEN_PMCON_A = 0xA0;
constexpr uint32_t GEN_PMCON_A_SMI_LOCK = 0x00000010;  // write-once; keeps GBL_SMI_EN set
