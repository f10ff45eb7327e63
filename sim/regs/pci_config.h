// The PCI configuration header registers both PCH functions share.
#pragma once

#include <stdint.h>

constexpr uint32_t PCI_ID = 0x00;  // vendor ID (15:0), device ID (31:16)
constexpr uint32_t PCI_COMMAND = 0x04;
constexpr uint32_t PCI_CLASS_REVISION = 0x08;
constexpr uint32_t PCI_BAR0 = 0x10;

constexpr uint16_t PCI_COMMAND_MSE = 0x0002;  // memory space enable
