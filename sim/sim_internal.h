// State of the simulated platform shared by the sim/ sources. Not part of the
// contract: host code and tests use sim_platform.h only.
#pragma once

#include "sim/sim_platform.h"

// ---- Access costs and clock -------------------------------------------------------
constexpr uint64_t SIM_MMIO_ACCESS_NS = 500;   // one memory-mapped register access
constexpr uint64_t SIM_PORT_ACCESS_NS = 1000;  // one I/O port access
constexpr uint32_t SIM_DEFAULT_SPI_CLOCK_HZ = 48000000;
constexpr uint32_t SIM_PM_TIMER_STOPPED_VALUE = 0x3C5A1E;  // what a stopped PM1_TMR holds
// The longest step of the clock at one PM1_TMR read while the processor waits: a wait
// then ends at most a step after it meant to, and a loop that gives up after so many
// short waits still gives up in about its time.
constexpr uint64_t SIM_TIMER_WAIT_STEP_MAX_NS = 10000;

// Chip busy times that are the same for every part (typical datasheet figures).
constexpr uint64_t SIM_ERASE_32K_NS = 120000000;
constexpr uint64_t SIM_ERASE_64K_NS = 150000000;
constexpr uint64_t SIM_WRITE_STATUS_NS = 10000000;  // non-volatile status write

// ---- Chip state ------------------------------------------------------------------------
struct SimChip {
  const SimChipModel *Model;
  uint8_t *Array;           // Model->Size bytes inside the platform's flash buffer
  uint32_t FlashBase;       // flash-linear address of the chip's first byte
  uint8_t Status;           // WEL and the non-volatile bits; WIP is derived from BusyUntilNs
  bool StatusWriteEnabled;  // EWSR seen: the next WRSR needs no WEL
  uint64_t BusyUntilNs;
};

// What one chip transaction (chip select low .. high) did to the array.
struct SimChipResult {
  bool Modified;  // a program, erase or status write was executed
};

// ---- Controller state ------------------------------------------------------------------
constexpr uint32_t SIM_DESCRIPTOR_SIZE = 0x1000;
constexpr uint32_t SIM_FDATA_SIZE = 64;
constexpr uint32_t SIM_MAX_STALE_BASES = 8;

enum SimCycleOwner : uint32_t { SimCycleNone, SimCycleHw, SimCycleSw };

struct SimDescriptorView {
  bool Valid;  // FLVALSIG at 0x10
  uint32_t Flmap0, Flmap1, Flmap2;
  uint32_t Flcomp;
  uint32_t Flmstr1;
  uint32_t Fcba, Frba, Fmba, Fpsba;  // section byte offsets
  uint32_t Component0Size;           // from FLCOMP
  uint32_t TotalSize;                // sum of the components the descriptor lists
  bool TwoComponents;
  bool FastRead;  // FLCOMP bit 20: reads use 0Bh
};

struct SimSpiController {
  // Registers, as stored (bits the hardware computes on read are added there).
  uint32_t Hsfsts;  // W1C status bits, WRSDIS, PRR34_LOCKDN, FLOCKDN, and the control half
  uint32_t Faddr;
  uint8_t Fdata[SIM_FDATA_SIZE];
  uint32_t Frap;
  uint32_t Freg[SIM_MAX_REGIONS];
  uint32_t FregCount;  // FREG registers this generation's controller has
  uint32_t Bfpreg;
  uint32_t Pr[SIM_MAX_PROTECTED_RANGES];
  uint32_t Gpr0;
  uint32_t Dlock;
  uint32_t Ssfsts;  // FDONE/FCERR and the control bytes (SCIP and AEL are derived)
  uint16_t Preop;
  uint16_t Optype;
  uint32_t Opmenu[2];
  uint32_t Fdoc;
  uint32_t Lvscc;
  uint32_t Uvscc;

  // The running cycle (one at a time, hardware- or software-sequenced).
  SimCycleOwner Owner;
  bool WriteOrErase;  // the running hardware cycle programs or erases
  bool Stuck;         // never completes
  bool EndWithError;  // FCERR at the end instead of FDONE
  uint64_t EndNs;
  uint32_t ReadLength;  // bytes to move into FDATA at the end
  uint8_t ReadData[SIM_FDATA_SIZE];

  uint32_t HwCycleNumber;  // hardware cycles started so far (fault injection counts these)

  SimDescriptorView Descriptor;
  uint8_t DescriptorCopy[SIM_DESCRIPTOR_SIZE];  // what FDOD answers from
};

// ---- PCI configuration, PMC and reset ---------------------------------------------------
struct SimPciState {
  uint16_t SpiCommand;
  uint32_t SpiBar0;
  uint16_t BiosControl;  // 16 bits used
  uint16_t PmcCommand;
  uint32_t Abase;  // bit 0 reads 1
  uint32_t AcpiCnt;
  uint32_t GenPmconA;
};

struct SimPmcState {
  uint16_t Pm1Sts;
  uint16_t Pm1En;
  uint32_t Pm1Cnt;
  uint32_t SmiEn;
  uint32_t SmiSts;
  uint8_t RstCnt;
};

// A growable list of byte ranges from the platform's allocator.
struct SimRangeList {
  SimByteRange *Items;
  uint32_t Count;
  uint32_t Capacity;
};

struct SimPlatform {
  SimConfig Config;
  SimAllocator Allocator;
  uint64_t NowNs;

  uint8_t *Flash;
  uint32_t FlashSize;
  SimChip Chips[2];
  uint32_t ChipCount;

  // The configuration's 0:31.5 is a present SPI controller whose BAR0 can decode
  // (fixed at creation; every memory access asks).
  bool SpiIsController;

  SimPciState Pci;
  SimPmcState Pmc;
  SimSpiController Spi;

  // Bases at which the SPI registers were decoded at some time, for the stale-base counter.
  uint32_t StaleBases[SIM_MAX_STALE_BASES];
  uint32_t StaleBaseCount;

  // Reads of PM1_TMR in a row: a read of the timer sets TimerRead, and each access
  // moves it on to TimerReadBefore. A processor that reads the timer twice in a row
  // is waiting, nothing else.
  bool TimerReadBefore;
  bool TimerRead;

  SimCounters Counters;
  SimRangeList Erased;
  SimRangeList Programmed;
  SimResetKind Reset;
  bool PowerLost;
  bool RangeListFull;  // an allocation for the range lists failed; later ranges are dropped

  SimTraceHook Trace;
  void *TraceContext;
};

// ---- Between the sources -------------------------------------------------------------
// A register write through byte lanes: Value's bits where Mask is set, Old's elsewhere.
inline uint32_t SimMerge(uint32_t Old, uint32_t Value, uint32_t Mask) {
  return (Old & ~Mask) | (Value & Mask);
}

// clock.cpp
void SimAdvance(SimPlatform *Platform, uint64_t Nanoseconds);
uint64_t SimBusTimeNs(const SimPlatform *Platform, uint32_t Bytes);
uint32_t SimPmTimerValue(const SimPlatform *Platform);
void SimWaitOnTimer(SimPlatform *Platform);

// chip_models.cpp
uint8_t SimDensityCode(uint32_t Size);  // 0 for 512 KiB ... ; 0xF when not a power of two

// spi_chip.cpp
// Status: the non-volatile status bits the chip holds at power-on (BP bits, SRWD).
void SimChipPowerOn(SimChip *Chip, const SimChipModel *Model, uint8_t *Array, uint32_t FlashBase,
                    uint8_t Status);
// One transaction at TimeNs: Out bytes go to the chip (opcode, address, dummy and
// write data), then In bytes are clocked back.
SimChipResult SimChipTransfer(SimPlatform *Platform, SimChip *Chip, uint64_t TimeNs,
                              const uint8_t *Out, uint32_t OutLength, uint8_t *In,
                              uint32_t InLength);
bool SimChipBusy(const SimChip *Chip, uint64_t TimeNs);
uint32_t SimChipAddressBytes(const SimChip *Chip);

// descriptor.cpp
void SimParseDescriptor(const uint8_t *Flash, uint32_t FlashSize, SimDescriptorView *View);
uint32_t SimDescriptorRegion(const uint8_t *Flash, uint32_t FlashSize,
                             const SimDescriptorView *View, uint32_t Region);
// The bounds of a region value (FLREGn, FREGn); false when unused (base above limit).
bool SimRegionRange(uint32_t Value, uint32_t *Base, uint32_t *Limit);

// spi_controller.cpp
void SimSpiPowerOn(SimPlatform *Platform);
void SimSpiUpdate(SimPlatform *Platform);  // finishes a cycle whose time has come
uint32_t SimSpiReadDword(SimPlatform *Platform, uint32_t Offset);
void SimSpiWriteDword(SimPlatform *Platform, uint32_t Offset, uint32_t Value, uint32_t Mask);
uint32_t SimDefaultVscc(const SimChipModel *Model);

// pci_config.cpp
void SimPciPowerOn(SimPlatform *Platform);
uint32_t SimPciReadDword(SimPlatform *Platform, uint32_t Function, uint32_t Offset);
void SimPciWriteDword(SimPlatform *Platform, uint32_t Function, uint32_t Offset, uint32_t Value,
                      uint32_t Mask);
bool SimSpiDecodes(const SimPlatform *Platform, uint64_t Address);
bool SimBiosWriteEnabled(const SimPlatform *Platform);
bool SimEissSet(const SimPlatform *Platform);

// pmc.cpp
void SimPmcPowerOn(SimPlatform *Platform);
bool SimAcpiDecodes(const SimPlatform *Platform, uint16_t Port);
uint32_t SimAcpiReadDword(SimPlatform *Platform, uint32_t Offset);
void SimAcpiWriteDword(SimPlatform *Platform, uint32_t Offset, uint32_t Value, uint32_t Mask);
void SimWriteRstCnt(SimPlatform *Platform, uint8_t Value);
void SimDeliverPendingSmi(SimPlatform *Platform);  // the simulated SMM handler
uint16_t SimAcpiBase(const SimPlatform *Platform);

// platform.cpp
void SimRecordRange(SimPlatform *Platform, SimRangeList *List, uint32_t Base, uint32_t End);
void *SimAllocate(SimPlatform *Platform, size_t Bytes);
void SimFree(SimPlatform *Platform, void *Pointer);
void SimCopy(void *Destination, const void *Source, size_t Bytes);
void SimFill(void *Destination, uint8_t Value, size_t Bytes);
