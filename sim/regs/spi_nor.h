// SPI NOR flash commands and the status register, as the chips and the
// controller's sequencers use them.
#pragma once

#include <stdint.h>

constexpr uint8_t SPI_WRSR = 0x01;
constexpr uint8_t SPI_PP = 0x02;
constexpr uint8_t SPI_READ = 0x03;
constexpr uint8_t SPI_WRDI = 0x04;
constexpr uint8_t SPI_RDSR = 0x05;
constexpr uint8_t SPI_WREN = 0x06;
constexpr uint8_t SPI_FAST_READ = 0x0B;
constexpr uint8_t SPI_EWSR = 0x50;
constexpr uint8_t SPI_RDSFDP = 0x5A;
constexpr uint8_t SPI_CHIP_ERASE_60 = 0x60;
constexpr uint8_t SPI_REMS = 0x90;
constexpr uint8_t SPI_RDID = 0x9F;
constexpr uint8_t SPI_RES = 0xAB;
constexpr uint8_t SPI_CHIP_ERASE_C7 = 0xC7;

// Status register
constexpr uint8_t SPI_SR_WIP = 0x01;
constexpr uint8_t SPI_SR_WEL = 0x02;
constexpr uint8_t SPI_SR_WRITABLE = 0xFC;  // BP bits and SRWD, kept by WRSR

constexpr uint32_t SPI_PAGE_SIZE = 256;
