// Hardware-sequenced cycles of the PCH SPI controller and the one-time reading of
// what they need: ACPI base, region permissions, component capabilities and the
// flash size from the descriptor.
#include "flash/spi_hwseq.h"

#include "flash/flash_descriptor.h"
#include "flash/flash_geometry.h"
#include "flash/hw_access.h"
#include "flash/regs/acpi_io.h"
#include "flash/regs/descriptor.h"
#include "flash/regs/spi_mmio.h"
#include "flash/regs/spi_pci.h"

SpiControllerStateRecord SpiControllerState = {};

namespace {

// Hardware-sequenced reads and writes never cross a 256-byte page.
constexpr UINT32 FLASH_PAGE_BYTES = 256;

// Where BAR0 decodes as far as this layer knows; SpiReadBar0 and SpiAcquireBar
// are its only writers.
UINT32 DecodingBar = 0;

// Set when a cycle did not finish within the poll bound. A controller that hangs
// once hangs again: every later cycle of the run fails at once instead of
// waiting out the bound anew.
BOOLEAN ControllerStuck = FALSE;

UINT64 BiosControl() { return SpiControllerState.SpiPciConfig + BIOS_CONTROL; }
UINT16 SmiEnPort() { return static_cast<UINT16>(SpiControllerState.AcpiIoBase + ACPI_SMI_EN); }

BOOLEAN IsWriteOrErase(SpiCycle Cycle) { return Cycle == SpiCycleWrite || Cycle == SpiCycleErase; }

// Clears GBL_SMI_EN and returns the SMI_EN value to put back.
UINT32 MaskSmis() {
  UINT32 Saved = PortRead32(SmiEnPort());
  PortWrite32(SmiEnPort(), Saved & ~SMI_EN_GBL_SMI_EN);
  return Saved;
}

VOID RestoreSmis(UINT32 Saved) { PortWrite32(SmiEnPort(), Saved); }

// Reads the descriptor through the controller at the base BAR0 holds now.
EFI_STATUS ReadDescriptorMaps(UINT64 Mmio) {
  SpiControllerStateRecord &State = SpiControllerState;

  UINT32 Flmap0 = DescriptorReadDword(Mmio, FDSS_MAP, FDSI_FLMAP0);
  State.ComponentCountCode = static_cast<UINT8>(FlashComponentCount(Flmap0) - 1);

  UINT32 Flcomp = DescriptorReadDword(Mmio, FDSS_COMPONENT, FDSI_FLCOMP);
  UINT32 FirstSize = 0;
  UINT32 SecondSize = 0;
  FlashComponentSize(Flcomp, 0, &FirstSize);
  FlashComponentSize(Flcomp, 1, &SecondSize);
  if (State.ComponentCountCode != 0) {
    State.SecondComponentBase = FirstSize;
    State.FlashTotalSize = FirstSize + SecondSize;
  } else {
    State.FlashTotalSize = FirstSize;
  }

  UINT32 Flmap1 = DescriptorReadDword(Mmio, FDSS_MAP, FDSI_FLMAP1);
  State.PchStrapOffset = static_cast<UINT16>(((Flmap1 >> FLMAP1_FPSBA_SHIFT) & FLMAP1_FPSBA_MASK) *
                                             DESCRIPTOR_BASE_UNIT);
  if (State.PchStrapOffset == 0) {
    return EFI_UNSUPPORTED;
  }
  State.PchStrapBytes = static_cast<UINT16>(((Flmap1 >> FLMAP1_PSL_SHIFT) & FLMAP1_PSL_MASK) *
                                            DESCRIPTOR_LENGTH_UNIT);

  UINT32 Flmap2 = DescriptorReadDword(Mmio, FDSS_MAP, FDSI_FLMAP2);
  State.CpuStrapOffset = static_cast<UINT16>(((Flmap2 >> FLMAP2_FMSBA_SHIFT) & FLMAP2_FMSBA_MASK) *
                                             DESCRIPTOR_BASE_UNIT);
  if (State.CpuStrapOffset == 0) {
    return EFI_UNSUPPORTED;
  }
  State.CpuStrapBytes = static_cast<UINT16>(((Flmap2 >> FLMAP2_MSL_SHIFT) & FLMAP2_MSL_MASK) *
                                            DESCRIPTOR_LENGTH_UNIT);
  return EFI_SUCCESS;
}

// The FCYCLE value of a cycle type; FALSE for an unknown type.
BOOLEAN CycleValue(SpiCycle Cycle, UINT32 *Value) {
  switch (Cycle) {
    case SpiCycleRead:
      *Value = FCYCLE_READ;
      return TRUE;
    case SpiCycleWrite:
      *Value = FCYCLE_WRITE;
      return TRUE;
    case SpiCycleErase:
      *Value = FCYCLE_ERASE_4K;  // or 64 KiB, chosen per cycle
      return TRUE;
    case SpiCycleReadSfdp:
      *Value = FCYCLE_READ_SFDP;
      return TRUE;
    case SpiCycleReadJedecId:
      *Value = FCYCLE_READ_JEDEC_ID;
      return TRUE;
    case SpiCycleWriteStatus:
      *Value = FCYCLE_WRITE_STATUS;
      return TRUE;
    case SpiCycleReadStatus:
      *Value = FCYCLE_READ_STATUS;
      return TRUE;
  }
  return FALSE;
}

// Bytes of one data cycle at flash address A with R bytes left: never across a
// 256-byte boundary, at most the 64-byte FDATA window, and a multiple of 8 when 8
// or more so that the data moves as dwords.
UINT32 DataCycleBytes(UINT32 A, UINT32 R) {
  UINT32 Boundary = (A + FLASH_PAGE_BYTES) & ~(FLASH_PAGE_BYTES - 1);
  UINT32 N = (A + R <= Boundary) ? R : Boundary - A;
  if (N >= FDATA_BYTES) {
    return FDATA_BYTES;
  }
  if (N >= 8) {
    return N & 0xFFFFFFF8;
  }
  return N;
}

// 64 KiB where alignment, the remaining length and the component's capability (as
// read at initialisation) allow it, else 4 KiB.
UINT32 EraseCycleBytes(UINT32 A, UINT32 R, UINT32 *Fcycle) {
  const SpiControllerStateRecord &State = SpiControllerState;
  UINT32 Capability = (A < State.SecondComponentBase) ? State.LvsccValue : State.UvsccValue;
  if (R >= FLASH_BLOCK_64K && R % FLASH_BLOCK_64K == 0 && A % FLASH_BLOCK_64K == 0 &&
      (Capability & VSCC_EO_64K_VALID) != 0) {
    *Fcycle = FCYCLE_ERASE_64K;
    return FLASH_BLOCK_64K;
  }
  *Fcycle = FCYCLE_ERASE_4K;
  return FLASH_SECTOR_4K;
}

// FDATA moves as dwords when the count is a multiple of 8, else byte by byte.
VOID CopyToFdata(UINT64 Mmio, const UINT8 *Source, UINT32 N) {
  if (N % 8 == 0) {
    for (UINT32 I = 0; I < N; I += 4) {
      UINT32 Dword = static_cast<UINT32>(Source[I]) | static_cast<UINT32>(Source[I + 1]) << 8 |
                     static_cast<UINT32>(Source[I + 2]) << 16 |
                     static_cast<UINT32>(Source[I + 3]) << 24;
      RegWrite32(Mmio + FDATA0 + I, Dword);
    }
    return;
  }
  for (UINT32 I = 0; I < N; I++) {
    RegWrite8(Mmio + FDATA0 + I, Source[I]);
  }
}

VOID CopyFromFdata(UINT64 Mmio, UINT8 *Destination, UINT32 N) {
  if (N % 8 == 0) {
    for (UINT32 I = 0; I < N; I += 4) {
      UINT32 Dword = RegRead32(Mmio + FDATA0 + I);
      Destination[I] = static_cast<UINT8>(Dword);
      Destination[I + 1] = static_cast<UINT8>(Dword >> 8);
      Destination[I + 2] = static_cast<UINT8>(Dword >> 16);
      Destination[I + 3] = static_cast<UINT8>(Dword >> 24);
    }
    return;
  }
  for (UINT32 I = 0; I < N; I++) {
    Destination[I] = RegRead8(Mmio + FDATA0 + I);
  }
}

BOOLEAN IsSingleCycle(SpiCycle Cycle) {
  return Cycle == SpiCycleReadJedecId || Cycle == SpiCycleWriteStatus ||
         Cycle == SpiCycleReadStatus;
}

BOOLEAN HasDataIn(SpiCycle Cycle) {
  return Cycle == SpiCycleRead || Cycle == SpiCycleReadSfdp || Cycle == SpiCycleReadJedecId ||
         Cycle == SpiCycleReadStatus;
}

BOOLEAN HasDataOut(SpiCycle Cycle) {
  return Cycle == SpiCycleWrite || Cycle == SpiCycleWriteStatus;
}

// FRAP bits granting the cycle, as initialisation read them; 0xFF for cycle types
// that FRAP does not govern.
UINT8 GrantingBits(SpiCycle Cycle) {
  if (Cycle == SpiCycleRead) {
    return SpiControllerState.RegionReadAccess;
  }
  if (IsWriteOrErase(Cycle)) {
    return SpiControllerState.RegionWriteAccess;
  }
  return 0xFF;
}

// The descriptor regions (bit n: FREGn) that flash-linear First..Last touches.
// A region is in use when its base is not above its limit.
UINT8 RegionsTouched(UINT64 Mmio, UINT64 First, UINT64 Last) {
  UINT8 Touched = 0;
  for (UINT32 Region = 0; Region < FREG_COUNT; Region++) {
    UINT32 Freg = RegRead32(Mmio + FREG0 + FREG_STRIDE * Region);
    UINT64 Base = SpiRangeBase(Freg);
    UINT64 Limit = SpiRangeLimit(Freg);
    if (Base <= (Limit & ~SPI_RANGE_LIMIT_LOW_BITS) && Base <= Last && First <= Limit) {
      Touched |= static_cast<UINT8>(1u << Region);
    }
  }
  return Touched;
}

// Regions 0..5 are granted by their own FRAP bit. The whole flash has none (FRAP
// bit 6 is the secondary BIOS region's): a cycle there needs the grant of every
// descriptor region its range touches, and a range in no region is left to the
// controller, which blocks with FCERR what it must.
EFI_STATUS CheckRegionAccess(UINT64 Mmio, FlashRegion Region, SpiCycle Cycle, UINT32 FlashLinear,
                             UINT32 ByteCount) {
  UINT8 Granted = GrantingBits(Cycle);
  if (Granted == 0xFF || ByteCount == 0) {
    return EFI_SUCCESS;
  }
  UINT8 Needed = static_cast<UINT8>(1u << Region);
  if (Region == FlashRegionWholeFlash) {
    Needed = RegionsTouched(Mmio, FlashLinear, static_cast<UINT64>(FlashLinear) + ByteCount - 1);
  }
  return (Granted & Needed) == Needed ? EFI_SUCCESS : EFI_ACCESS_DENIED;
}

// Everything a request must pass before its first cycle: the range within the
// region, the permission, the cycle type, and the erase alignment. Gives the
// flash-linear start and the cycle's FCYCLE value.
EFI_STATUS CheckCycleRequest(UINT64 Mmio, FlashRegion Region, SpiCycle Cycle, UINT32 Address,
                             UINT32 ByteCount, UINT32 *FlashLinear, UINT32 *Fcycle) {
  UINT32 RegionBase = 0;
  UINT32 RegionSize = 0;
  EFI_STATUS Status = SpiGetRegionRange(Region, &RegionBase, &RegionSize);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (static_cast<UINT32>(Address + ByteCount) > RegionSize) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 A = RegionBase + Address;
  Status = CheckRegionAccess(Mmio, Region, Cycle, A, ByteCount);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (!CycleValue(Cycle, Fcycle)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Cycle == SpiCycleErase && (ByteCount % FLASH_SECTOR_4K != 0 || A % FLASH_SECTOR_4K != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  // A single-cycle transfer must fit the FDATA window; beyond it lie other registers.
  if (IsSingleCycle(Cycle) && ByteCount > FDATA_BYTES) {
    return EFI_INVALID_PARAMETER;
  }
  *FlashLinear = A;
  return EFI_SUCCESS;
}

// Starts one cycle: FDBC and FCYCLE replaced, FGO set, every other bit written back.
VOID StartCycle(UINT64 Mmio, UINT32 FlashLinear, UINT32 N, UINT32 Fcycle) {
  constexpr UINT32 Replaced = HSFSTS_CTL_FDBC_MASK << HSFSTS_CTL_FDBC_SHIFT |
                              HSFSTS_CTL_FCYCLE_MASK << HSFSTS_CTL_FCYCLE_SHIFT;
  RegWrite32(Mmio + FADDR, FlashLinear & FADDR_MASK);
  RegAndOr32(Mmio + HSFSTS_CTL, ~Replaced,
             ((N - 1) & HSFSTS_CTL_FDBC_MASK) << HSFSTS_CTL_FDBC_SHIFT |
                 (Fcycle & HSFSTS_CTL_FCYCLE_MASK) << HSFSTS_CTL_FCYCLE_SHIFT | HSFSTS_CTL_FGO);
}

// One controller cycle per pass until the range is done or a cycle fails.
EFI_STATUS RunCycleLoop(UINT64 Mmio, SpiCycle Cycle, UINT32 FlashLinear, UINT32 ByteCount,
                        UINT8 *Buffer, UINT32 Fcycle) {
  UINT32 A = FlashLinear;
  UINT32 R = ByteCount;
  UINT8 *P = Buffer;
  while (R > 0) {
    UINT32 N;
    if (Cycle == SpiCycleErase) {
      N = EraseCycleBytes(A, R, &Fcycle);
    } else if (IsSingleCycle(Cycle)) {
      N = R;
    } else {
      N = DataCycleBytes(A, R);
    }
    if (HasDataOut(Cycle)) {
      CopyToFdata(Mmio, P, N);
    }
    StartCycle(Mmio, A, N, Fcycle);
    if (!SpiWaitCycleDone(Mmio, TRUE)) {
      return EFI_DEVICE_ERROR;
    }
    if (HasDataIn(Cycle)) {
      CopyFromFdata(Mmio, P, N);
    }
    A += N;
    if (P != nullptr) {
      P += N;
    }
    R -= N;
  }
  return EFI_SUCCESS;
}

// The checks and the cycles of SpiSendCycle, between its SMI/BIOS_CONTROL set-up
// and its exit.
EFI_STATUS RunCycles(UINT64 Mmio, FlashRegion Region, SpiCycle Cycle, UINT32 Address,
                     UINT32 ByteCount, UINT8 *Buffer) {
  if (!SpiWaitCycleDone(Mmio, FALSE)) {
    return EFI_DEVICE_ERROR;
  }
  UINT32 FlashLinear = 0;
  UINT32 Fcycle = 0;
  EFI_STATUS Status =
      CheckCycleRequest(Mmio, Region, Cycle, Address, ByteCount, &FlashLinear, &Fcycle);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return RunCycleLoop(Mmio, Cycle, FlashLinear, ByteCount, Buffer, Fcycle);
}

}  // namespace

BOOLEAN SpiBarUsable(UINT32 Base) { return Base != 0 && Base != SPI_BAR0_MASK; }

BOOLEAN SpiControllerPresent() { return SpiBarUsable(SpiReadBar0()); }

EFI_STATUS SpiControllerInit() {
  SpiControllerStateRecord &State = SpiControllerState;
  State = {};
  DecodingBar = 0;
  ControllerStuck = FALSE;
  State.FixedSpiBar = SPI_FIXED_BAR;
  State.SpiPciConfig = PcieConfigAddress(SPI_PCI_BUS, SPI_PCI_DEVICE, SPI_PCI_FUNCTION);

  GetAcpiIoBase(&State.AcpiIoBase);
  if (State.AcpiIoBase == 0) {
    return EFI_UNSUPPORTED;
  }
  // Set-up reads the controller where BAR0 decodes now; BAR0 is not moved here.
  UINT32 Base = SpiReadBar0();
  if (!SpiBarUsable(Base)) {
    return EFI_UNSUPPORTED;
  }
  if (!DescriptorValid(Base)) {
    return EFI_UNSUPPORTED;
  }
  State.RegionReadAccess = static_cast<UINT8>(RegRead8(Base + FRAP) >> FRAP_BRRA_SHIFT);
  State.RegionWriteAccess = static_cast<UINT8>(RegRead16(Base + FRAP) >> FRAP_BRWA_SHIFT);
  State.LvsccValue = RegRead32(Base + LVSCC);
  State.UvsccValue = RegRead32(Base + UVSCC);
  return ReadDescriptorMaps(Base);
}

BOOLEAN SpiControllerReady() {
  return SpiControllerState.AcpiIoBase != 0 && SpiBarUsable(DecodingBar);
}

UINT32 SpiDecodingBar() { return DecodingBar; }

UINT32 SpiReadBar0() {
  UINT64 Config = PcieConfigAddress(SPI_PCI_BUS, SPI_PCI_DEVICE, SPI_PCI_FUNCTION);
  DecodingBar = RegRead32(Config + SPI_BAR0) & SPI_BAR0_MASK;
  return DecodingBar;
}

UINT64 SpiAcquireBar(UINT64 Config) {
  UINT32 Fixed = SpiControllerState.FixedSpiBar;
  if ((RegRead32(Config + SPI_BAR0) & SPI_BAR0_MASK) != Fixed) {
    // Decoding stays off while the base changes.
    RegAnd8(Config + PCI_COMMAND, static_cast<UINT8>(~PCI_COMMAND_MSE));
    RegWrite32(Config + SPI_BAR0, Fixed);
    RegOr8(Config + PCI_COMMAND, PCI_COMMAND_MSE);
  }
  DecodingBar = Fixed;
  return Fixed;
}

EFI_STATUS SpiGetRegionRange(FlashRegion Region, UINT32 *Base, UINT32 *Size) {
  if (Region > FlashRegionWholeFlash) {
    return EFI_INVALID_PARAMETER;
  }
  if (Region == FlashRegionWholeFlash) {
    *Base = 0;
    *Size = SpiControllerState.FlashTotalSize;
    return EFI_SUCCESS;
  }
  if (!SpiControllerReady()) {
    return EFI_NOT_READY;  // BAR0 must not be programmed on an unknown platform
  }
  UINT64 Mmio = SpiAcquireBar(SpiControllerState.SpiPciConfig);
  UINT32 Freg = RegRead32(Mmio + FREG0 + FREG_STRIDE * Region);
  if (Freg == FREG_UNUSED) {
    return EFI_DEVICE_ERROR;
  }
  UINT64 RegionBase = SpiRangeBase(Freg);
  *Base = static_cast<UINT32>(RegionBase);
  *Size = static_cast<UINT32>(SpiRangeLimit(Freg) + 1 - RegionBase);
  return EFI_SUCCESS;
}

BOOLEAN SpiWaitCycleDone(UINT64 Mmio, BOOLEAN CheckError) {
  UINT32 Status = 0;
  BOOLEAN Idle = FALSE;
  for (UINT32 Poll = 0; Poll < SPI_CYCLE_POLLS; Poll++) {
    Status = RegRead32(Mmio + HSFSTS_CTL);
    if ((Status & HSFSTS_CTL_SCIP) == 0) {
      Idle = TRUE;
      break;
    }
    PmTimerDelay(SpiControllerState.AcpiIoBase, SPI_POLL_DELAY_US);
  }
  if (!Idle) {
    ControllerStuck = TRUE;
    return FALSE;
  }
  // Clears FDONE and FCERR; the control half is written as zeros.
  RegWrite32(Mmio + HSFSTS_CTL, HSFSTS_CTL_FDONE | HSFSTS_CTL_FCERR);
  return !(CheckError && (Status & HSFSTS_CTL_FCERR) != 0);
}

EFI_STATUS SpiSendCycle(FlashRegion Region, SpiCycle Cycle, UINT32 Address, UINT32 ByteCount,
                        UINT8 *Buffer) {
  // Without an ACPI base the SMI port would be 0x30 and the timer port 0x08;
  // without a BAR0 base there is no controller to move. Nothing is touched.
  if (!SpiControllerReady()) {
    return EFI_NOT_READY;
  }
  if (ControllerStuck) {
    return EFI_DEVICE_ERROR;
  }
  UINT64 Mmio = SpiAcquireBar(SpiControllerState.SpiPciConfig);

  // SMIs stay off for the whole operation: SMM code may reset BIOSWE or use the
  // controller itself while a cycle runs.
  UINT32 SavedSmiEn = MaskSmis();
  UINT8 SavedSrc = RegRead8(BiosControl()) & BIOS_CONTROL_SRC_MASK;

  EFI_STATUS Status = EFI_SUCCESS;
  if (IsWriteOrErase(Cycle)) {
    Status = SpiEnableBiosWrite(SpiControllerState.SpiPciConfig);
    if (!EFI_ERROR(Status)) {
      // No prefetching or caching of BIOS reads while the flash changes under them.
      RegAndOr8(BiosControl(), static_cast<UINT8>(~BIOS_CONTROL_SRC_MASK),
                BIOS_CONTROL_SRC_NO_PREFETCH_NO_CACHE);
    }
  }
  if (!EFI_ERROR(Status)) {
    Status = RunCycles(Mmio, Region, Cycle, Address, ByteCount, Buffer);
  }

  if (IsWriteOrErase(Cycle)) {
    SpiDisableBiosWrite(SpiControllerState.SpiPciConfig);
    RegAndOr8(BiosControl(), static_cast<UINT8>(~BIOS_CONTROL_SRC_MASK), SavedSrc);
  }
  RestoreSmis(SavedSmiEn);
  RegisterBarrier();
  return Status;
}

EFI_STATUS SpiFlashRead(FlashRegion Region, UINT32 Address, UINT32 ByteCount, UINT8 *Buffer) {
  return SpiSendCycle(Region, SpiCycleRead, Address, ByteCount, Buffer);
}

EFI_STATUS SpiFlashWrite(FlashRegion Region, UINT32 Address, UINT32 ByteCount, UINT8 *Buffer) {
  return SpiSendCycle(Region, SpiCycleWrite, Address, ByteCount, Buffer);
}

EFI_STATUS SpiFlashErase(FlashRegion Region, UINT32 Address, UINT32 ByteCount) {
  return SpiSendCycle(Region, SpiCycleErase, Address, ByteCount, nullptr);
}

EFI_STATUS SpiFlashReadJedecId(UINT8 Selector, UINT32 ByteCount, UINT8 *Buffer) {
  // The identification cycle cannot choose a chip select: with two components
  // the answer would be ambiguous, so nothing is read.
  if (SpiControllerState.ComponentCountCode != 0) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 Address = (Selector == 1) ? SpiControllerState.SecondComponentBase : 0;
  return SpiSendCycle(FlashRegionWholeFlash, SpiCycleReadJedecId, Address, ByteCount, Buffer);
}

EFI_STATUS SpiEnableBiosWrite(UINT64 Config) {
  UINT64 Control = Config + BIOS_CONTROL;
  // With EISS set, BIOSWE only holds inside SMM: setting it from here would raise
  // an SMI or be undone.
  if ((RegRead8(Control) & BIOS_CONTROL_EISS) != 0) {
    return EFI_ACCESS_DENIED;
  }
  RegOr8(Control, BIOS_CONTROL_BIOSWE);
  return EFI_SUCCESS;
}

VOID SpiDisableBiosWrite(UINT64 Config) {
  RegAnd8(Config + BIOS_CONTROL, static_cast<UINT8>(~BIOS_CONTROL_BIOSWE));
}

BOOLEAN SpiControllerStuck() { return ControllerStuck; }

VOID SpiReadRegionAccess() {
  if (!SpiControllerReady()) {
    return;
  }
  UINT64 Mmio = SpiDecodingBar();
  SpiControllerState.RegionReadAccess =
      static_cast<UINT8>(RegRead8(Mmio + FRAP) >> FRAP_BRRA_SHIFT);
  SpiControllerState.RegionWriteAccess =
      static_cast<UINT8>(RegRead16(Mmio + FRAP) >> FRAP_BRWA_SHIFT);
}

VOID SpiReadComponentCapabilities() {
  if (!SpiControllerReady()) {
    return;
  }
  UINT64 Mmio = SpiDecodingBar();
  SpiControllerState.LvsccValue = RegRead32(Mmio + LVSCC);
  SpiControllerState.UvsccValue = RegRead32(Mmio + UVSCC);
}

BOOLEAN SpiEraseSupported(UINT32 FlashLinear, UINT32 ByteCount) {
  const SpiControllerStateRecord &State = SpiControllerState;
  UINT32 A = FlashLinear;
  UINT32 R = ByteCount;
  while (R >= FLASH_SECTOR_4K) {
    UINT32 Fcycle = 0;
    UINT32 N = EraseCycleBytes(A, R, &Fcycle);
    UINT32 Capability = (A < State.SecondComponentBase) ? State.LvsccValue : State.UvsccValue;
    UINT32 Valid = Fcycle == FCYCLE_ERASE_64K ? VSCC_EO_64K_VALID : VSCC_EO_4K_VALID;
    if ((Capability & Valid) == 0) {
      return FALSE;
    }
    A += N;
    R -= N;
  }
  return TRUE;
}

BOOLEAN SpiBiosWritesNeedSmm() { return (RegRead8(BiosControl()) & BIOS_CONTROL_EISS) != 0; }

EFI_STATUS SpiCheckBiosWriteEnable() {
  if (!SpiControllerReady()) {
    return EFI_NOT_READY;
  }
  // Set as a write cycle sets it, with SMIs masked: where SMM still gets control
  // (SMI_LOCK keeps GBL_SMI_EN set) and LE is set, the handler takes BIOSWE back.
  UINT32 SavedSmiEn = MaskSmis();
  UINT8 Before = RegRead8(BiosControl());
  RegOr8(BiosControl(), BIOS_CONTROL_BIOSWE);
  UINT8 After = RegRead8(BiosControl());
  if ((Before & BIOS_CONTROL_BIOSWE) == 0) {
    SpiDisableBiosWrite(SpiControllerState.SpiPciConfig);
  }
  RestoreSmis(SavedSmiEn);
  RegisterBarrier();
  return (After & BIOS_CONTROL_BIOSWE) != 0 ? EFI_SUCCESS : EFI_WRITE_PROTECTED;
}

EFI_STATUS SpiFlashReadStatus(UINT32 FlashLinear, UINT8 *Status) {
  return SpiSendCycle(FlashRegionWholeFlash, SpiCycleReadStatus, FlashLinear, 1, Status);
}
