// The simulated PCH platform: SPI controller (PCI 0:31.5), PMC (0:31.2) with its
// ACPI I/O registers, the reset-control port 0xCF9, and one or two SPI NOR chips.
//
// The core is written so that it can later be compiled freestanding into an EFI
// image: no exceptions, no RTTI, no standard library containers or streams;
// memory comes from the allocator supplied at creation. It models the hardware,
// never the order in which our driver does things.
#pragma once

#include <stddef.h>
#include <stdint.h>

// ---- Chip models ------------------------------------------------------------------
// One model per named part of the flash part table, plus an unknown modern chip.
struct SimChipModel {
  const char *Name;         // part name as in the part table ("W25Q128BV"), or "unknown"
  uint8_t Id[3];            // identification bytes in the order the chip sends them
  uint8_t IdLength;         // 2 or 3 meaningful bytes (the rest answer as 0x00 ... per chip)
  uint32_t Size;            // bytes
  uint8_t Erase4kOpcode;    // the part's small-erase opcode (0x20, 0xD7, 0xDB page erase ...)
  uint32_t SmallEraseSize;  // bytes erased by Erase4kOpcode (4096, or 256 for a page erase)
  uint8_t Erase64kOpcode;   // 0xD8 where the chip has it, else 0
  // Added by the simulator (appended; the fields above keep their meaning):
  uint8_t Erase32kOpcode;  // 0x52 where the chip has it, else 0
  bool ByteProgram;        // 0x02 programs one byte (older SST parts), not a 256-byte page
  uint32_t ProgramNs;      // busy time of a whole 256-byte page program (or of a byte program)
  uint32_t SmallEraseNs;   // busy time of the small erase
  // A page program takes its first byte's time plus each further byte's, up to
  // ProgramNs (see SimProgramNs); unused by byte-program parts.
  uint32_t ProgramFirstByteNs;
  uint32_t ProgramNextByteNs;
  // Block-protect (BP) bits of the status register: set, the chip ignores program
  // and erase anywhere in its array (the model knows no partial protection).
  uint8_t BlockProtectBits;
};

uint32_t SimChipCount();  // models, the unknown chip last
const SimChipModel *SimChipAt(uint32_t Index);
// Index of the first model of that name (or "unknown"); -1 when none.
int32_t SimFindChipByName(const char *Name);
// Index of the first model answering these identification bytes; -1 when none.
int32_t SimFindChipById(const uint8_t *Id, uint32_t Length);
// Busy time of one program command of Bytes data bytes (a page program keeps at most
// the last 256): the byte-program time on byte-program parts, else the first byte
// plus each further byte, capped by the page program time.
uint64_t SimProgramNs(const SimChipModel *Model, uint32_t Bytes);

// ---- Configuration ----------------------------------------------------------------
struct SimRange {  // flash-linear, inclusive
  uint32_t Base;
  uint32_t Limit;
};

// ---- PCH generations ------------------------------------------------------------------
// What answers on bus 0 device 31 on one generation, and where it decodes.
struct SimPchFunction {
  uint16_t DeviceId;  // Intel's; 0: nothing answers
  uint32_t ClassRevision;
};

struct SimPchModel {
  const char *Name;  // as --pch takes it
  const char *Description;
  SimPchFunction Lpc;    // 0:31.0, the LPC/eSPI bridge
  SimPchFunction Spi;    // 0:31.5: the SPI controller, or what sits there instead
  bool SpiIsController;  // false: 0:31.5 is some other function (SATA on older PCHs)
  SimPchFunction Pmc;    // 0:31.2 when firmware leaves it visible
  bool PmcIsPmc;         // false: 0:31.2 is some other function
  bool PmcHidden;        // firmware hides the PMC (its ACPI I/O block still decodes)
  uint32_t PmcAbase;     // configuration offset of ABASE
  uint64_t EcamBase;     // where PCI configuration space decodes
  uint32_t RegionCount;  // FREG registers of the SPI controller
  uint32_t OtherBar0;    // BAR0 of 0:31.5 when it is not the SPI controller
};

constexpr uint32_t SIM_MAX_REGIONS = 12;  // FREG0..FREG11

uint32_t SimPchCount();
const SimPchModel *SimPchAt(uint32_t Index);
// Index of the model of that name (any case); -1 when none.
int32_t SimFindPchByName(const char *Name);

constexpr uint32_t SIM_MAX_PROTECTED_RANGES = 5;  // PR0..PR4

struct SimConfig {
  int32_t ChipIndex;            // SimChipAt index; default the W25Q128BV model
  uint32_t Components;          // 1 or 2 chips
  int32_t Chip2Index;           // component 1's chip; -1: the same model as component 0
  const uint8_t *InitialFlash;  // whole-flash contents, or null for the generated image
  size_t InitialFlashSize;      // must equal the total flash size when given
  uint64_t Seed;                // content of the generated image
  bool NoDescriptor;            // generated image without a valid descriptor
  bool LockedDescriptor;        // FLMSTR1 as production boards ship (read 0-3, write 1 and 3)
  uint32_t Bar0;                // base BAR0 holds at power-on (0 = no base); default 0xFE010000
  bool NoSpi;                   // 0:31.5 reads all ones
  bool NoPmc;                   // 0:31.2 reads all ones (hidden; ABASE still decodes)
  bool Eiss;                    // BIOS_CONTROL.EISS set at power-on
  bool NoBle;                   // BIOS_CONTROL.LE clear at power-on
  bool SmiLock;                 // GBL_SMI_EN cannot be cleared
  bool VsccUnlocked;            // LVSCC/UVSCC writable
  bool StuckBusy;               // a hardware-sequenced cycle never finishes (SCIP stays set)
  uint32_t FailCycle;           // the n-th hardware-sequenced cycle ends with FCERR (0 = none)
  uint32_t PowerLossAfter;      // power lost after the n-th flash-modifying cycle (0 = never)
  SimRange Protect[SIM_MAX_PROTECTED_RANGES];  // PRn with WPE
  uint32_t ProtectCount;
  SimRange ProtectRead[SIM_MAX_PROTECTED_RANGES];  // PRn with RPE only
  uint32_t ProtectReadCount;
  uint32_t SpiClockHz;  // default 48 MHz
  bool Gpr0Enabled;     // GPR0 holds Gpr0 with WPE at power-on (else 0)
  SimRange Gpr0;        // the global protected range; writable until FLOCKDN, like PRn
  bool ChipProtect;     // every chip's status register has its BP bits set at power-on
  uint8_t ChipStatus;   // every chip's status register 1 at power-on (BP bits, TB, SEC, SRWD)
  bool LvsccGiven;      // LVSCC holds Lvscc at power-on, else the chip's own capabilities
  uint32_t Lvscc;
  bool UvsccGiven;  // likewise UVSCC
  uint32_t Uvscc;
  bool PmTimerStopped;  // PM1_TMR reads one constant value (firmware set ACPI_TIM_DIS)
  bool Flockdn;         // HSFSTS_CTL.FLOCKDN set at power-on
  // Added for the PCH generations (appended; the fields above keep their meaning):
  int32_t Pch;        // SimPchAt index; default the 100-series ("spt")
  uint64_t EcamBase;  // where PCI configuration space decodes; SimConfigPch sets it
  bool HideSpiIds;    // 0:31.5's vendor and device ID read all ones (BIOS_CONTROL.OSFH)
  SimRange Region[SIM_MAX_REGIONS];  // descriptor region N at these bounds when given
  uint32_t RegionsGiven;             // bit N: Region[N] replaces the generated layout
  // Added for flash layouts (appended):
  bool BiosRegionGiven;  // the generated descriptor's BIOS region is BiosRegion, the ME
  SimRange BiosRegion;   // region lies below it and the platform-data region above it
};

void SimConfigDefaults(SimConfig *Config);
// The platform as a shipped board leaves it: production descriptor (FLMSTR1
// 0x00A00F00), FLOCKDN, BIOS_CONTROL.LE and EISS, SMI_LOCK, VSCC locked. Sets those
// fields only; the rest of the configuration stays as it is.
void SimConfigProduction(SimConfig *Config);

// The platform as one generation sets it up: its model, the ECAM base it decodes,
// whether firmware hides the PMC, whether an SPI controller answers at 0:31.5 and
// the BAR0 found there. Sets those fields only.
void SimConfigPch(SimConfig *Config, int32_t Pch);
// The configuration's generation (the default's when the index is out of range).
const SimPchModel *SimConfigPchModel(const SimConfig *Config);

struct SimAllocator {
  void *(*Allocate)(void *Context, size_t Bytes);
  void (*Free)(void *Context, void *Pointer);
  void *Context;
};

// Size in bytes of the whole flash the configuration describes (all components).
uint32_t SimConfigFlashSize(const SimConfig *Config);
// The chip model of a component of the configuration; null when there is none.
const SimChipModel *SimConfigChip(const SimConfig *Config, uint32_t Component);

// Writes the generated default image for the configuration into Image
// (SimConfigFlashSize bytes): descriptor, regions, straps, seeded contents.
void SimGenerateImage(const SimConfig *Config, uint8_t *Image);

constexpr uint32_t SIM_BIOS_WINDOW_SIZE = 0x800000;  // mapped just below 4 GiB
// Puts a BIOS window (SIM_BIOS_WINDOW_SIZE bytes, as a board's read of it saves it)
// into Image where the chipset maps it: the top of the BIOS region of Image's own
// descriptor. False, Image untouched, without a descriptor or where the flash
// below the region's end is smaller than the window.
bool SimPlaceBiosWindow(uint8_t *Image, uint32_t FlashSize, const uint8_t *Window);

struct SimPlatform;

// Returns null when the configuration is invalid (bad chip index, wrong image size,
// allocation failure).
SimPlatform *SimPlatformCreate(const SimConfig *Config, const SimAllocator *Allocator);
void SimPlatformDestroy(SimPlatform *Platform);

// ---- Accesses (the simulated hardware back end routes every access here) ----------
uint32_t SimMmioRead(SimPlatform *Platform, uint64_t Address, uint32_t WidthBits);
void SimMmioWrite(SimPlatform *Platform, uint64_t Address, uint32_t WidthBits, uint32_t Value);
uint32_t SimPortRead(SimPlatform *Platform, uint16_t Port, uint32_t WidthBits);
void SimPortWrite(SimPlatform *Platform, uint16_t Port, uint32_t WidthBits, uint32_t Value);
void SimBarrier(SimPlatform *Platform);
// The processor waits without touching the hardware (a firmware Stall): time passes,
// running cycles and the chips' busy times go on, nothing is traced.
void SimAdvanceTime(SimPlatform *Platform, uint64_t Nanoseconds);

// ---- Trace ------------------------------------------------------------------------
enum SimEventKind : uint32_t {
  SimEventMemoryRead,   // "MR"
  SimEventMemoryWrite,  // "MW"
  SimEventPortRead,     // "IR"
  SimEventPortWrite,    // "IW"
  SimEventBarrier,      // "B"
};

struct SimEvent {
  uint64_t TimeNs;
  SimEventKind Kind;
  uint32_t WidthBits;  // 0 for a barrier
  uint64_t Address;
  uint32_t Value;
};

typedef void (*SimTraceHook)(void *Context, const SimEvent *Event);
void SimSetTraceHook(SimPlatform *Platform, SimTraceHook Hook, void *Context);

// ---- Counters and observed state ---------------------------------------------------
enum SimCycleType : uint32_t {
  SimCycleRead,
  SimCycleWrite,
  SimCycleErase4k,
  SimCycleErase64k,
  SimCycleReadSfdp,
  SimCycleReadJedecId,
  SimCycleWriteStatus,
  SimCycleReadStatus,
  SimCycleTypeCount
};

enum SimResetKind : uint32_t { SimResetNone, SimResetHard, SimResetFull };

struct SimCounters {
  uint64_t HwCycles[SimCycleTypeCount];  // hardware-sequenced cycles started, by type
  uint64_t HwCyclesFailed;               // ended with FCERR
  uint64_t SwCycles;                     // software-sequenced cycles started
  uint64_t SwCyclesFailed;
  uint64_t AccessesAfterReset;  // every access after a reset is an error
  uint64_t
      SmiEnabledDuringWriteErase;  // accesses while GBL_SMI_EN was on during a write/erase cycle
  uint64_t AccessesToStaleBar;     // MMIO accesses to a base that does not decode (any more)
  uint64_t FlashModifyingCycles;   // program/erase cycles that reached a chip
};

const SimCounters *SimGetCounters(const SimPlatform *Platform);
uint64_t SimTimeNs(const SimPlatform *Platform);
SimResetKind SimGetReset(const SimPlatform *Platform);
bool SimInterrupted(const SimPlatform *Platform);  // power loss happened

// Flash-linear byte ranges that erases and programs touched, in the order they
// happened ([Base, End) pairs, not merged).
struct SimByteRange {
  uint32_t Base;
  uint32_t End;
};
uint32_t SimErasedRangeCount(const SimPlatform *Platform);
SimByteRange SimErasedRange(const SimPlatform *Platform, uint32_t Index);
uint32_t SimProgrammedRangeCount(const SimPlatform *Platform);
SimByteRange SimProgrammedRange(const SimPlatform *Platform, uint32_t Index);

// The flash contents (all components, flash-linear order).
const uint8_t *SimFlashData(const SimPlatform *Platform);
uint32_t SimFlashSize(const SimPlatform *Platform);
// Where the chipset's BIOS window ends in the flash: the end of the BIOS region the
// controller took from the descriptor (exclusive), or the flash's end without one.
uint32_t SimBiosRegionEnd(const SimPlatform *Platform);

// What a platform's full-flash preparation does: the host may from now on read and
// write every region (FRAP BRRA/BRWA all set).
void SimLiftDescriptorLimits(SimPlatform *Platform);

// Looks at state without an access (no time, no trace), for tests and reports.
uint8_t SimPeekBiosControl(const SimPlatform *Platform);
uint32_t SimPeekSmiEn(const SimPlatform *Platform);
uint32_t SimPeekBar0(const SimPlatform *Platform);
