// PCI configuration space of the SPI controller, 0:31.5 (its device ID per
// generation is in pch_models.cpp).
#pragma once

#include <stdint.h>

constexpr uint16_t PCI_VENDOR_INTEL = 0x8086;
constexpr uint32_t SPI_CLASS_VALUE = 0x0C800031;
constexpr uint16_t SPI_COMMAND_WRITABLE = 0x0006;    // MSE and BME
constexpr uint32_t SPI_BAR0_BASE_MASK = 0xFFFFF000;  // 4 KiB memory BAR
constexpr uint32_t SPI_BAR0_DEFAULT = 0xFE010000;    // where firmware leaves it

constexpr uint32_t SPI_BIOS_CONTROL = 0xDC;
constexpr uint16_t BIOS_CONTROL_BIOSWE = 0x0001;
constexpr uint16_t BIOS_CONTROL_LE = 0x0002;
constexpr uint16_t BIOS_CONTROL_SRC_MASK = 0x000C;
constexpr uint16_t BIOS_CONTROL_SRC_DEFAULT = 0x0008;  // prefetch and cache
constexpr uint16_t BIOS_CONTROL_EISS = 0x0020;
constexpr uint16_t BIOS_CONTROL_SPI_SYNC_SS = 0x0100;
constexpr uint16_t BIOS_CONTROL_OSFH = 0x0200;  // vendor and device ID read all ones
