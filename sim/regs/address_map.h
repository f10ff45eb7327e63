// Where the simulated platform decodes its devices: PCI configuration space
// through ECAM, the PCH's functions on bus 0 device 31, and the sizes of the
// register windows behind BAR0 and ABASE.
#pragma once

#include <stdint.h>

constexpr uint64_t ECAM_BASE = 0xE0000000;  // segment 0, buses 0-255 (100- to 400-series)
constexpr uint64_t ECAM_SIZE = 0x10000000;
constexpr uint32_t ECAM_FUNCTION_SIZE = 0x1000;  // configuration space of one function

constexpr uint32_t PCH_DEVICE = 31;
constexpr uint32_t PCH_FUNCTION_LPC = 0;
constexpr uint32_t PCH_FUNCTION_PMC = 2;
constexpr uint32_t PCH_FUNCTION_SPI = 5;

constexpr uint32_t SPI_MMIO_SIZE = 0x1000;  // the window BAR0 decodes
constexpr uint32_t ACPI_IO_SIZE = 0x100;    // the I/O block ABASE decodes
