// The PMC's ACPI I/O registers, offsets from ABASE.
#pragma once

#include <stdint.h>

constexpr uint32_t ACPI_PM1_STS_EN = 0x00;  // PM1_STS (bits 15:0), PM1_EN (bits 31:16)
constexpr uint32_t ACPI_PM1_CNT = 0x04;
constexpr uint32_t ACPI_PM1_TMR = 0x08;

// PM1_TMR: a free-running 24-bit up-counter.
constexpr uint64_t PM1_TMR_HZ = 3579545;
constexpr uint32_t PM1_TMR_MASK = 0xFFFFFF;

constexpr uint32_t ACPI_SMI_EN = 0x30;
constexpr uint32_t SMI_EN_GBL_SMI_EN = 0x00000001;
constexpr uint32_t SMI_EN_APMC_EN = 0x00000020;
constexpr uint32_t SMI_EN_TCO_EN = 0x00002000;

constexpr uint32_t ACPI_SMI_STS = 0x34;
constexpr uint32_t SMI_STS_TCO_STS = 0x00002000;
