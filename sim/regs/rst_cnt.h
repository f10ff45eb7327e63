// The reset-control register RST_CNT, I/O port 0xCF9 (byte accesses only).
#pragma once

#include <stdint.h>

constexpr uint16_t RST_CNT_PORT = 0xCF9;
constexpr uint8_t RST_CNT_SYS_RST = 0x02;
constexpr uint8_t RST_CNT_RST_CPU = 0x04;
constexpr uint8_t RST_CNT_FULL_RST = 0x08;
constexpr uint8_t RST_CNT_WRITABLE = 0x0E;
