// Test harness for the simulated platform: builds a platform from a
// configuration and drives it with plain register and port accesses, the way a
// driver would, without going through src/flash.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include "sim/sim_platform.h"

namespace simtest {

// Fixed addresses of the platform.
constexpr uint64_t SPI_CFG = 0xE00FD000;  // PCI 0:31.5
constexpr uint64_t PMC_CFG = 0xE00FA000;  // PCI 0:31.2
constexpr uint64_t DEFAULT_BAR = 0xFE010000;
constexpr uint16_t ABASE = 0x1800;
constexpr uint16_t PM1_TMR = ABASE + 0x08;
constexpr uint16_t SMI_EN = ABASE + 0x30;
constexpr uint16_t RST_CNT = 0xCF9;

// SPI controller offsets and bits used by the tests.
constexpr uint32_t BFPREG = 0x00;
constexpr uint32_t HSFSTS = 0x04;
constexpr uint32_t FADDR = 0x08;
constexpr uint32_t FDATA = 0x10;
constexpr uint32_t FRAP = 0x50;
constexpr uint32_t FREG0 = 0x54;
constexpr uint32_t PR0 = 0x84;
constexpr uint32_t SSFSTS = 0xA0;
constexpr uint32_t PREOP = 0xA4;
constexpr uint32_t OPTYPE = 0xA6;
constexpr uint32_t OPMENU0 = 0xA8;
constexpr uint32_t OPMENU1 = 0xAC;
constexpr uint32_t FDOC = 0xB4;
constexpr uint32_t FDOD = 0xB8;
constexpr uint32_t LVSCC = 0xC4;
constexpr uint32_t UVSCC = 0xC8;

constexpr uint32_t FDONE = 1u << 0;
constexpr uint32_t FCERR = 1u << 1;
constexpr uint32_t AEL = 1u << 2;
constexpr uint32_t SCIP = 1u << 5;
constexpr uint32_t FDV = 1u << 14;
constexpr uint32_t FGO = 1u << 16;

constexpr uint32_t CYCLE_READ = 0x0;
constexpr uint32_t CYCLE_WRITE = 0x2;
constexpr uint32_t CYCLE_ERASE_4K = 0x3;
constexpr uint32_t CYCLE_ERASE_64K = 0x4;
constexpr uint32_t CYCLE_READ_SFDP = 0x5;
constexpr uint32_t CYCLE_JEDEC_ID = 0x6;
constexpr uint32_t CYCLE_WRITE_STATUS = 0x7;
constexpr uint32_t CYCLE_READ_STATUS = 0x8;

constexpr uint8_t BIOSWE = 0x01;
constexpr uint8_t LE = 0x02;
constexpr uint8_t EISS = 0x20;

using ConfigTweak = std::function<void(SimConfig &)>;

class Platform {
 public:
  explicit Platform(const ConfigTweak &Tweak = {}, const std::vector<uint8_t> *Flash = nullptr);
  ~Platform();
  Platform(const Platform &) = delete;
  Platform &operator=(const Platform &) = delete;

  SimPlatform *Get() const { return Sim; }
  explicit operator bool() const { return Sim != nullptr; }
  const SimCounters &Counters() const { return *SimGetCounters(Sim); }
  std::vector<uint8_t> Flash() const;
  uint64_t Now() const { return SimTimeNs(Sim); }

  // Plain accesses.
  uint32_t Read(uint64_t Address, uint32_t Width = 32) { return SimMmioRead(Sim, Address, Width); }
  void Write(uint64_t Address, uint32_t Value, uint32_t Width = 32) {
    SimMmioWrite(Sim, Address, Width, Value);
  }
  uint32_t In(uint16_t Port, uint32_t Width = 32) { return SimPortRead(Sim, Port, Width); }
  void Out(uint16_t Port, uint32_t Value, uint32_t Width = 32) {
    SimPortWrite(Sim, Port, Width, Value);
  }

  // SPI registers at the current BAR.
  uint64_t Bar = DEFAULT_BAR;
  uint32_t Spi(uint32_t Offset, uint32_t Width = 32) { return Read(Bar + Offset, Width); }
  void SpiWrite(uint32_t Offset, uint32_t Value, uint32_t Width = 32) {
    Write(Bar + Offset, Value, Width);
  }

  uint8_t BiosControl() { return static_cast<uint8_t>(Read(SPI_CFG + 0xDC, 8)); }
  void SetBiosControl(uint8_t Value) { Write(SPI_CFG + 0xDC, Value, 8); }
  // What a careful driver does before a write or erase: SMIs off, BIOSWE on.
  void EnableWrites();

  // Polls HSFSTS_CTL until SCIP clears (bounded); returns the status seen.
  uint32_t WaitHw(uint32_t MaxPolls = 10000000);
  // One hardware-sequenced cycle: clears status, writes FADDR, starts, waits.
  uint32_t HwCycle(uint32_t Cycle, uint32_t Address, uint32_t Count);
  // FDATA helpers.
  void PutData(const std::vector<uint8_t> &Data);
  std::vector<uint8_t> GetData(uint32_t Count);
  // Hardware-sequenced read / write / erase returning the final HSFSTS status.
  uint32_t HwRead(uint32_t Address, uint32_t Count, std::vector<uint8_t> *Data);
  uint32_t HwWrite(uint32_t Address, const std::vector<uint8_t> &Data);
  uint32_t HwErase(uint32_t Address, bool Block64k = false);

  // Software sequencing: slot of OPMENU, optional prefix (ACS), data bytes.
  uint8_t SwCycle(uint32_t Slot, uint32_t Address, bool Atomic, uint32_t DataBytes,
                  bool SecondPrefix = false);
  void SetMenu(const uint8_t Opcodes[8], uint16_t Types, uint16_t Prefixes);

 private:
  SimPlatform *Sim = nullptr;
};

// Fills a buffer with a byte pattern.
std::vector<uint8_t> Pattern(size_t Size, uint8_t Seed);

}  // namespace simtest
