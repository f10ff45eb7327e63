// The simulated platform as a whole: creation from a configuration, routing of
// every memory and port access to the device that decodes it, time per access,
// the trace hook, counters and the observed state.
#include "sim/regs/acpi_io.h"
#include "sim/regs/address_map.h"
#include "sim/regs/rst_cnt.h"
#include "sim/regs/spi_pci.h"
#include "sim/sim_internal.h"

namespace {

constexpr uint32_t MIN_RANGE_CAPACITY = 64;

enum SimSpace : uint32_t { SimSpaceSpi, SimSpacePci, SimSpaceAcpi };

uint32_t WidthBytes(uint32_t WidthBits) {
  return WidthBits == 8 || WidthBits == 16 || WidthBits == 32 ? WidthBits / 8 : 0;
}

uint32_t AllOnes(uint32_t WidthBits) {
  return WidthBits >= 32 ? 0xFFFFFFFF : (1u << WidthBits) - 1;
}

uint32_t ReadSpaceDword(SimPlatform *Platform, SimSpace Space, uint32_t Function, uint32_t Offset) {
  switch (Space) {
    case SimSpaceSpi:
      return SimSpiReadDword(Platform, Offset);
    case SimSpacePci:
      return SimPciReadDword(Platform, Function, Offset);
    case SimSpaceAcpi:
      return SimAcpiReadDword(Platform, Offset);
  }
  return 0xFFFFFFFF;
}

void WriteSpaceDword(SimPlatform *Platform, SimSpace Space, uint32_t Function, uint32_t Offset,
                     uint32_t Value, uint32_t Mask) {
  switch (Space) {
    case SimSpaceSpi:
      SimSpiWriteDword(Platform, Offset, Value, Mask);
      return;
    case SimSpacePci:
      SimPciWriteDword(Platform, Function, Offset, Value, Mask);
      return;
    case SimSpaceAcpi:
      SimAcpiWriteDword(Platform, Offset, Value, Mask);
      return;
  }
}

// Registers are dwords; an access of any width (also one not aligned to its
// width, such as the 16-bit word at SSFSTS_CTL + 1) reaches the byte lanes it covers.
// A register read has no side effect, so each dword the access covers is read once.
uint32_t ReadLanes(SimPlatform *Platform, SimSpace Space, uint32_t Function, uint32_t Offset,
                   uint32_t Bytes) {
  if (Bytes == 4 && (Offset & 3) == 0) return ReadSpaceDword(Platform, Space, Function, Offset);
  uint32_t Value = 0;
  uint32_t I = 0;
  while (I < Bytes) {
    const uint32_t Dword = ReadSpaceDword(Platform, Space, Function, (Offset + I) & ~3u);
    do {
      Value |= ((Dword >> (8 * ((Offset + I) & 3))) & 0xFF) << (8 * I);
      I++;
    } while (I < Bytes && ((Offset + I) & 3) != 0);
  }
  return Value;
}

void WriteLanes(SimPlatform *Platform, SimSpace Space, uint32_t Function, uint32_t Offset,
                uint32_t Bytes, uint32_t Value) {
  uint32_t I = 0;
  while (I < Bytes) {
    const uint32_t Dword = (Offset + I) & ~3u;
    uint32_t Data = 0;
    uint32_t Mask = 0;
    while (I < Bytes && ((Offset + I) & ~3u) == Dword) {
      const uint32_t Lane = (Offset + I) & 3;
      Data |= ((Value >> (8 * I)) & 0xFF) << (8 * Lane);
      Mask |= 0xFFu << (8 * Lane);
      I++;
    }
    WriteSpaceDword(Platform, Space, Function, Dword, Data, Mask);
  }
}

bool InStaleWindow(const SimPlatform *Platform, uint64_t Address) {
  for (uint32_t I = 0; I < Platform->StaleBaseCount; I++) {
    const uint64_t Base = Platform->StaleBases[I];
    if (Address >= Base && Address < Base + SPI_MMIO_SIZE) return true;
  }
  return false;
}

// Out of line: its event lives on the stack only while a trace hook is set, not in
// the frame of every access (the sanitizers guard each stack object a call makes).
__attribute__((noinline)) void Emit(SimPlatform *Platform, uint64_t TimeNs, SimEventKind Kind,
                                    uint32_t WidthBits, uint64_t Address, uint32_t Value) {
  const SimEvent Event{TimeNs, Kind, WidthBits, Address, Value};
  Platform->Trace(Platform->TraceContext, &Event);
}

// An access made while the controller programs or erases with SMIs enabled is
// counted (once, also when the access itself started that cycle).
bool SmiOnDuringWriteErase(const SimPlatform *Platform) {
  return Platform->Spi.Owner == SimCycleHw && Platform->Spi.WriteOrErase &&
         (Platform->Pmc.SmiEn & SMI_EN_GBL_SMI_EN) != 0;
}

// Where an address falls in configuration space (returned by value: an object whose
// address is taken costs every access a guarded stack slot under the sanitizers).
struct EcamHit {
  bool Hit;
  uint32_t Function;
  uint32_t Offset;
};

EcamHit EcamTarget(const SimPlatform *Platform, uint64_t Address) {
  const uint64_t Base = Platform->Config.EcamBase;
  if (Address < Base || Address >= Base + ECAM_SIZE) return EcamHit{false, 0, 0};
  const uint64_t Relative = Address - Base;
  const uint32_t Bus = static_cast<uint32_t>(Relative >> 20) & 0xFF;
  const uint32_t Device = static_cast<uint32_t>(Relative >> 15) & 0x1F;
  uint32_t Function = static_cast<uint32_t>(Relative >> 12) & 0x7;
  const uint32_t Offset = static_cast<uint32_t>(Relative & 0xFFF);
  // Functions other than the PCH's answer all ones; device 31 function 0 etc. too.
  if (Bus != 0 || Device != PCH_DEVICE) Function = 0xFF;
  return EcamHit{true, Function, Offset};
}

uint32_t SpiBase(const SimPlatform *Platform) { return Platform->Pci.SpiBar0 & SPI_BAR0_BASE_MASK; }

uint32_t MemoryRead(SimPlatform *Platform, uint64_t Address, uint32_t Bytes) {
  const EcamHit Ecam = EcamTarget(Platform, Address);
  if (Ecam.Hit) {
    if (Ecam.Offset + Bytes > ECAM_FUNCTION_SIZE) return 0xFFFFFFFF;
    return ReadLanes(Platform, SimSpacePci, Ecam.Function, Ecam.Offset, Bytes);
  }
  if (SimSpiDecodes(Platform, Address)) {
    const uint32_t Relative = static_cast<uint32_t>(Address - SpiBase(Platform));
    if (Relative + Bytes > SPI_MMIO_SIZE) return 0xFFFFFFFF;
    if (Bytes == 4 && (Relative & 3) == 0) return SimSpiReadDword(Platform, Relative);
    return ReadLanes(Platform, SimSpaceSpi, 0, Relative, Bytes);
  }
  if (InStaleWindow(Platform, Address)) Platform->Counters.AccessesToStaleBar++;
  return 0xFFFFFFFF;
}

void MemoryWrite(SimPlatform *Platform, uint64_t Address, uint32_t Bytes, uint32_t Value) {
  const EcamHit Ecam = EcamTarget(Platform, Address);
  if (Ecam.Hit) {
    if (Ecam.Offset + Bytes <= ECAM_FUNCTION_SIZE)
      WriteLanes(Platform, SimSpacePci, Ecam.Function, Ecam.Offset, Bytes, Value);
    return;
  }
  if (SimSpiDecodes(Platform, Address)) {
    const uint32_t Relative = static_cast<uint32_t>(Address - SpiBase(Platform));
    if (Relative + Bytes <= SPI_MMIO_SIZE)
      WriteLanes(Platform, SimSpaceSpi, 0, Relative, Bytes, Value);
    return;
  }
  if (InStaleWindow(Platform, Address)) Platform->Counters.AccessesToStaleBar++;
}

uint32_t PortReadValue(SimPlatform *Platform, uint16_t Port, uint32_t Bytes) {
  // Only byte accesses to 0xCF9 reach RST_CNT.
  if (Port == RST_CNT_PORT && Bytes == 1) return Platform->Pmc.RstCnt;
  if (SimAcpiDecodes(Platform, Port)) {
    const uint32_t Offset = Port - SimAcpiBase(Platform);
    if (Offset + Bytes > ACPI_IO_SIZE) return 0xFFFFFFFF;
    if (Bytes == 4 && (Offset & 3) == 0) return SimAcpiReadDword(Platform, Offset);
    return ReadLanes(Platform, SimSpaceAcpi, 0, Offset, Bytes);
  }
  return 0xFFFFFFFF;
}

void PortWriteValue(SimPlatform *Platform, uint16_t Port, uint32_t Bytes, uint32_t Value) {
  if (Port == RST_CNT_PORT && Bytes == 1) {
    SimWriteRstCnt(Platform, static_cast<uint8_t>(Value));
    return;
  }
  if (SimAcpiDecodes(Platform, Port)) {
    const uint32_t Offset = Port - SimAcpiBase(Platform);
    if (Offset + Bytes <= ACPI_IO_SIZE) WriteLanes(Platform, SimSpaceAcpi, 0, Offset, Bytes, Value);
  }
}

bool ConfigValid(const SimConfig *Config) {
  if (Config == nullptr || Config->ChipIndex < 0 ||
      static_cast<uint32_t>(Config->ChipIndex) >= SimChipCount()) {
    return false;
  }
  if (Config->Components < 1 || Config->Components > 2) return false;
  if (Config->Pch < 0 || static_cast<uint32_t>(Config->Pch) >= SimPchCount()) return false;
  // A descriptor region the generation's controller has no FREG register for.
  if ((Config->RegionsGiven >> SimConfigPchModel(Config)->RegionCount) != 0) return false;
  if (Config->Chip2Index >= 0 && static_cast<uint32_t>(Config->Chip2Index) >= SimChipCount()) {
    return false;
  }
  if (Config->ProtectCount + Config->ProtectReadCount > SIM_MAX_PROTECTED_RANGES) return false;
  if (Config->InitialFlash != nullptr && Config->InitialFlashSize != SimConfigFlashSize(Config)) {
    return false;
  }
  return true;
}

void PowerOn(SimPlatform *Platform) {
  const SimConfig &Config = Platform->Config;
  Platform->ChipCount = Config.Components;
  Platform->SpiIsController = !Config.NoSpi && SimConfigPchModel(&Config)->SpiIsController;
  uint32_t FlashBase = 0;
  for (uint32_t I = 0; I < Platform->ChipCount; I++) {
    const SimChipModel *Model = SimConfigChip(&Config, I);
    const uint8_t Status = static_cast<uint8_t>(Config.ChipStatus |
                                                (Config.ChipProtect ? Model->BlockProtectBits : 0));
    SimChipPowerOn(&Platform->Chips[I], Model, Platform->Flash + FlashBase, FlashBase, Status);
    FlashBase += Model->Size;
  }
  SimPmcPowerOn(Platform);
  SimPciPowerOn(Platform);
  SimSpiPowerOn(Platform);
}

}  // namespace

// ---- Memory helpers
// The core includes no C library header; the builtins become the C library's
// memcpy/memset on the host and the image's own in pchflash-sim.efi. A whole
// flash is copied at power-on: byte loops here cost seconds under the sanitizers.
void SimCopy(void *Destination, const void *Source, size_t Bytes) {
  if (Bytes != 0) __builtin_memcpy(Destination, Source, Bytes);
}

void SimFill(void *Destination, uint8_t Value, size_t Bytes) {
  if (Bytes != 0) __builtin_memset(Destination, Value, Bytes);
}

void *SimAllocate(SimPlatform *Platform, size_t Bytes) {
  return Platform->Allocator.Allocate(Platform->Allocator.Context, Bytes);
}

void SimFree(SimPlatform *Platform, void *Pointer) {
  if (Pointer != nullptr) Platform->Allocator.Free(Platform->Allocator.Context, Pointer);
}

void SimRecordRange(SimPlatform *Platform, SimRangeList *List, uint32_t Base, uint32_t End) {
  if (List->Count == List->Capacity) {
    const uint32_t Capacity = List->Capacity == 0 ? MIN_RANGE_CAPACITY : List->Capacity * 2;
    SimByteRange *Items =
        static_cast<SimByteRange *>(SimAllocate(Platform, sizeof(SimByteRange) * Capacity));
    if (Items == nullptr) {
      Platform->RangeListFull = true;
      return;
    }
    if (List->Items != nullptr) SimCopy(Items, List->Items, sizeof(SimByteRange) * List->Count);
    SimFree(Platform, List->Items);
    List->Items = Items;
    List->Capacity = Capacity;
  }
  List->Items[List->Count++] = SimByteRange{Base, End};
}

// ---- Creation
void SimConfigDefaults(SimConfig *Config) {
  SimFill(Config, 0, sizeof(*Config));
  Config->ChipIndex = SimFindChipByName("W25Q128BV");
  Config->Components = 1;
  Config->Chip2Index = -1;
  Config->SpiClockHz = SIM_DEFAULT_SPI_CLOCK_HZ;
  SimConfigPch(Config, 0);
}

void SimConfigProduction(SimConfig *Config) {
  Config->LockedDescriptor = true;
  Config->NoDescriptor = false;
  Config->Flockdn = true;
  Config->NoBle = false;
  Config->Eiss = true;
  Config->SmiLock = true;
  Config->VsccUnlocked = false;
}

SimPlatform *SimPlatformCreate(const SimConfig *Config, const SimAllocator *Allocator) {
  if (!ConfigValid(Config) || Allocator == nullptr || Allocator->Allocate == nullptr ||
      Allocator->Free == nullptr) {
    return nullptr;
  }
  SimPlatform *Platform =
      static_cast<SimPlatform *>(Allocator->Allocate(Allocator->Context, sizeof(SimPlatform)));
  if (Platform == nullptr) return nullptr;
  SimFill(Platform, 0, sizeof(*Platform));
  Platform->Config = *Config;
  Platform->Config.InitialFlash = nullptr;  // copied below; the caller keeps its buffer
  Platform->Allocator = *Allocator;
  Platform->FlashSize = SimConfigFlashSize(Config);
  Platform->Flash = static_cast<uint8_t *>(SimAllocate(Platform, Platform->FlashSize));
  if (Platform->Flash == nullptr) {
    Allocator->Free(Allocator->Context, Platform);
    return nullptr;
  }
  if (Config->InitialFlash != nullptr) {
    SimCopy(Platform->Flash, Config->InitialFlash, Platform->FlashSize);
  } else {
    SimGenerateImage(Config, Platform->Flash);
  }
  PowerOn(Platform);
  return Platform;
}

void SimPlatformDestroy(SimPlatform *Platform) {
  if (Platform == nullptr) return;
  SimFree(Platform, Platform->Erased.Items);
  SimFree(Platform, Platform->Programmed.Items);
  SimFree(Platform, Platform->Flash);
  const SimAllocator Allocator = Platform->Allocator;
  Allocator.Free(Allocator.Context, Platform);
}

// ---- Accesses

namespace {

// One access from the processor: after a reset it is only counted; otherwise it
// reaches the device, costs its time, and is traced at the time it started.
uint32_t PerformAccess(SimPlatform *Platform, SimEventKind Kind, uint32_t WidthBits,
                       uint64_t Address, uint32_t Value) {
  const uint32_t Bytes = WidthBytes(WidthBits);
  const bool IsRead = Kind == SimEventMemoryRead || Kind == SimEventPortRead;
  const uint32_t Ones = AllOnes(WidthBits);
  if (Platform == nullptr || Bytes == 0) return IsRead ? Ones : 0;
  const uint64_t Time = Platform->NowNs;
  Value = IsRead ? Ones : Value & Ones;
  if (Platform->Reset != SimResetNone) {
    Platform->Counters.AccessesAfterReset++;
  } else {
    // The running cycle may have ended by now. This runs millions of times a run
    // (under the sanitizers every call counts): an idle controller costs none.
    if (Platform->Spi.Owner != SimCycleNone) SimSpiUpdate(Platform);
    Platform->TimerReadBefore = Platform->TimerRead;
    Platform->TimerRead = false;
    const bool SmiOn = Platform->Spi.Owner == SimCycleHw && SmiOnDuringWriteErase(Platform);
    const uint16_t Port = static_cast<uint16_t>(Address);
    switch (Kind) {
      case SimEventMemoryRead:
        Value = MemoryRead(Platform, Address, Bytes) & Ones;
        break;
      case SimEventMemoryWrite:
        MemoryWrite(Platform, Address, Bytes, Value);
        break;
      case SimEventPortRead:
        Value = PortReadValue(Platform, Port, Bytes) & Ones;
        break;
      default:
        PortWriteValue(Platform, Port, Bytes, Value);
        break;
    }
    if (SmiOn || (Platform->Spi.Owner == SimCycleHw && SmiOnDuringWriteErase(Platform))) {
      Platform->Counters.SmiEnabledDuringWriteErase++;
    }
    const bool IsMemory = Kind == SimEventMemoryRead || Kind == SimEventMemoryWrite;
    SimAdvance(Platform, IsMemory ? SIM_MMIO_ACCESS_NS : SIM_PORT_ACCESS_NS);
  }
  if (Platform->Trace != nullptr) Emit(Platform, Time, Kind, WidthBits, Address, Value);
  return Value;
}

}  // namespace

uint32_t SimMmioRead(SimPlatform *Platform, uint64_t Address, uint32_t WidthBits) {
  return PerformAccess(Platform, SimEventMemoryRead, WidthBits, Address, 0);
}

void SimMmioWrite(SimPlatform *Platform, uint64_t Address, uint32_t WidthBits, uint32_t Value) {
  PerformAccess(Platform, SimEventMemoryWrite, WidthBits, Address, Value);
}

uint32_t SimPortRead(SimPlatform *Platform, uint16_t Port, uint32_t WidthBits) {
  return PerformAccess(Platform, SimEventPortRead, WidthBits, Port, 0);
}

void SimPortWrite(SimPlatform *Platform, uint16_t Port, uint32_t WidthBits, uint32_t Value) {
  PerformAccess(Platform, SimEventPortWrite, WidthBits, Port, Value);
}

// An ordering point for the compiler only: no hardware sees it, no time passes.
void SimBarrier(SimPlatform *Platform) {
  if (Platform == nullptr || Platform->Trace == nullptr) return;
  Emit(Platform, Platform->NowNs, SimEventBarrier, 0, 0, 0);
}

void SimAdvanceTime(SimPlatform *Platform, uint64_t Nanoseconds) {
  if (Platform == nullptr || Platform->Reset != SimResetNone) return;
  const uint64_t Room = ~0ull - Platform->NowNs;  // the clock stops at its end, never wraps
  SimAdvance(Platform, Nanoseconds < Room ? Nanoseconds : Room);
}

void SimSetTraceHook(SimPlatform *Platform, SimTraceHook Hook, void *Context) {
  Platform->Trace = Hook;
  Platform->TraceContext = Context;
}

// ---- Counters and observed state
const SimCounters *SimGetCounters(const SimPlatform *Platform) { return &Platform->Counters; }
uint64_t SimTimeNs(const SimPlatform *Platform) { return Platform->NowNs; }
SimResetKind SimGetReset(const SimPlatform *Platform) { return Platform->Reset; }
bool SimInterrupted(const SimPlatform *Platform) { return Platform->PowerLost; }

uint32_t SimErasedRangeCount(const SimPlatform *Platform) { return Platform->Erased.Count; }
SimByteRange SimErasedRange(const SimPlatform *Platform, uint32_t Index) {
  return Index < Platform->Erased.Count ? Platform->Erased.Items[Index] : SimByteRange{0, 0};
}
uint32_t SimProgrammedRangeCount(const SimPlatform *Platform) { return Platform->Programmed.Count; }
SimByteRange SimProgrammedRange(const SimPlatform *Platform, uint32_t Index) {
  return Index < Platform->Programmed.Count ? Platform->Programmed.Items[Index]
                                            : SimByteRange{0, 0};
}

const uint8_t *SimFlashData(const SimPlatform *Platform) { return Platform->Flash; }
uint32_t SimFlashSize(const SimPlatform *Platform) { return Platform->FlashSize; }

void SimLiftDescriptorLimits(SimPlatform *Platform) { Platform->Spi.Frap |= 0x0000FFFF; }

uint8_t SimPeekBiosControl(const SimPlatform *Platform) {
  return static_cast<uint8_t>(Platform->Pci.BiosControl);
}
uint32_t SimPeekSmiEn(const SimPlatform *Platform) { return Platform->Pmc.SmiEn; }
uint32_t SimPeekBar0(const SimPlatform *Platform) { return Platform->Pci.SpiBar0; }
