// Hardware-sequenced cycles of the PCH SPI controller and the one-time reading of
// what they need: ACPI base, region permissions, component capabilities and the
// flash size from the descriptor.
#include "flash/spi_hwseq.h"

#include "flash/hw_access.h"

SpiControllerStateRecord SpiControllerState = {};

namespace {

// PCI configuration of 0:31.5.
constexpr UINT8 PCI_COMMAND_MSE = 0x02;  // memory space enable
constexpr UINT8 BIOS_CONTROL_BIOSWE = 0x01;
constexpr UINT8 BIOS_CONTROL_SRC_MASK = 0x0C;
constexpr UINT8 BIOS_CONTROL_SRC_NO_PREFETCH_NO_CACHE = 0x04;  // SRC = 01b
constexpr UINT8 BIOS_CONTROL_EISS = 0x20;

// SPI MMIO, offsets from the controller's base.
constexpr UINT32 HSFSTS_CTL_FDONE = 1u << 0;
constexpr UINT32 HSFSTS_CTL_FCERR = 1u << 1;
constexpr UINT32 HSFSTS_CTL_SCIP = 1u << 5;
constexpr UINT32 HSFSTS_CTL_FGO = 1u << 16;
constexpr UINT32 HSFSTS_CTL_FDBC_SHIFT = 24;
constexpr UINT32 HSFSTS_CTL_FDBC_MASK = 0x3F;
// Keeps everything but FDBC (29:24) and FCYCLE (20:17).
constexpr UINT32 HSFSTS_CTL_KEEP_MASK = 0xC0E1FFFF;
constexpr UINT32 FADDR_MASK = 0x07FFFFFF;
constexpr UINT32 SPI_FRAP = 0x50;
constexpr UINT32 SPI_FREG0 = 0x54;
constexpr UINT32 FDOC_SELECT_KEEP_MASK = 0xFFFF8003;  // replaces FDSS and FDSI (14:2)
constexpr UINT32 FREG_UNUSED = 0x00007FFF;
constexpr UINT32 FREG_BASE_MASK = 0x7FFF;
constexpr UINT32 FREG_LIMIT_MASK = 0x7FFF000;  // after a shift right by 4
constexpr UINT32 FLASH_BLOCK_4K = 0x1000;
constexpr UINT32 FLASH_BLOCK_64K = 0x10000;
constexpr UINT32 FDATA_BYTES = 64;

// HSFSTS_CTL FCYCLE values, already in place (bits 20:17).
constexpr UINT32 FCYCLE_READ = 0x00000;
constexpr UINT32 FCYCLE_WRITE = 0x40000;
constexpr UINT32 FCYCLE_ERASE_4K = 0x60000;
constexpr UINT32 FCYCLE_ERASE_64K = 0x80000;
constexpr UINT32 FCYCLE_READ_SFDP = 0xA0000;
constexpr UINT32 FCYCLE_READ_JEDEC_ID = 0xC0000;
constexpr UINT32 FCYCLE_WRITE_STATUS = 0xE0000;
constexpr UINT32 FCYCLE_READ_STATUS = 0x100000;

// LVSCC/UVSCC bit 29: the component takes 64 KiB erase cycles.
constexpr UINT32 VSCC_64K_ERASE = 1u << 29;

// ACPI I/O, offsets from ABASE.
constexpr UINT16 ACPI_SMI_EN = 0x30;
constexpr UINT32 SMI_EN_GBL_SMI_EN = 0x01;

// A cycle runs for at most about 6 seconds: 600000 polls 10 microseconds apart.
constexpr UINT32 SPI_CYCLE_POLLS = 600000;
constexpr UINT64 SPI_POLL_DELAY_US = 10;

constexpr UINT32 DENSITY_UNIT = 0x80000;  // density code 0: 512 KiB

// Where BAR0 decodes as far as this layer knows; only SpiAcquireBar moves it.
UINT32 DecodingBar = 0;

UINT64 BiosControl() { return SpiControllerState.SpiPciConfig + SPI_CFG_BIOS_CONTROL; }
UINT16 SmiEnPort() { return static_cast<UINT16>(SpiControllerState.AcpiIoBase + ACPI_SMI_EN); }

BOOLEAN IsWriteOrErase(SpiCycle Cycle) { return Cycle == SpiCycleWrite || Cycle == SpiCycleErase; }

// Selects a descriptor dword through FDOC, keeping the bits outside FDSS/FDSI.
VOID SelectDescriptorDword(UINT64 Mmio, UINT32 FdocValue) {
  RegAndOr32(Mmio + SPI_FDOC, FDOC_SELECT_KEEP_MASK, FdocValue);
}

// Reads the descriptor through the controller at the base BAR0 holds now.
EFI_STATUS ReadDescriptorMaps(UINT64 Mmio) {
  SpiControllerStateRecord &State = SpiControllerState;

  SelectDescriptorDword(Mmio, SPI_FDOC_FLMAP0);
  State.ComponentCountCode = static_cast<UINT8>((RegRead16(Mmio + SPI_FDOD) >> 8) & 3);

  SelectDescriptorDword(Mmio, SPI_FDOC_FLCOMP);
  UINT32 Flcomp = RegRead32(Mmio + SPI_FDOD);
  UINT32 FirstSize = DENSITY_UNIT << (Flcomp & 0xF);
  UINT32 SecondSize = DENSITY_UNIT << ((Flcomp >> 4) & 0xF);
  if (State.ComponentCountCode != 0) {
    State.SecondComponentBase = FirstSize;
    State.FlashTotalSize = FirstSize + SecondSize;
  } else {
    State.FlashTotalSize = FirstSize;
  }

  SelectDescriptorDword(Mmio, SPI_FDOC_FLMAP1);
  UINT32 Flmap1 = RegRead32(Mmio + SPI_FDOD);
  State.PchStrapOffset = static_cast<UINT16>((Flmap1 >> 12) & 0xFF0);
  if (State.PchStrapOffset == 0) {
    return EFI_UNSUPPORTED;
  }
  State.PchStrapBytes = static_cast<UINT16>(((Flmap1 >> 24) & 0xFF) * 4);

  SelectDescriptorDword(Mmio, SPI_FDOC_FLMAP2);
  UINT32 Flmap2 = RegRead32(Mmio + SPI_FDOD);
  State.CpuStrapOffset = static_cast<UINT16>((Flmap2 & 0xFF) * 16);
  if (State.CpuStrapOffset == 0) {
    return EFI_UNSUPPORTED;
  }
  State.CpuStrapBytes = static_cast<UINT16>(((Flmap2 >> 8) & 0xFF) * 4);
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
  UINT32 Boundary = (A + 256) & 0xFFFFFF00;
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
UINT32 EraseCycleBytes(UINT32 A, UINT32 R, UINT32 *FcycleValue) {
  const SpiControllerStateRecord &State = SpiControllerState;
  UINT32 Capability = (A < State.SecondComponentBase) ? State.LvsccValue : State.UvsccValue;
  if (R >= FLASH_BLOCK_64K && R % FLASH_BLOCK_64K == 0 && A % FLASH_BLOCK_64K == 0 &&
      (Capability & VSCC_64K_ERASE) != 0) {
    *FcycleValue = FCYCLE_ERASE_64K;
    return FLASH_BLOCK_64K;
  }
  *FcycleValue = FCYCLE_ERASE_4K;
  return FLASH_BLOCK_4K;
}

// FDATA moves as dwords when the count is a multiple of 8, else byte by byte.
VOID CopyToFdata(UINT64 Mmio, const UINT8 *Source, UINT32 N) {
  if (N % 8 == 0) {
    for (UINT32 I = 0; I < N; I += 4) {
      UINT32 Dword = static_cast<UINT32>(Source[I]) | static_cast<UINT32>(Source[I + 1]) << 8 |
                     static_cast<UINT32>(Source[I + 2]) << 16 |
                     static_cast<UINT32>(Source[I + 3]) << 24;
      RegWrite32(Mmio + SPI_FDATA0 + I, Dword);
    }
    return;
  }
  for (UINT32 I = 0; I < N; I++) {
    RegWrite8(Mmio + SPI_FDATA0 + I, Source[I]);
  }
}

VOID CopyFromFdata(UINT64 Mmio, UINT8 *Destination, UINT32 N) {
  if (N % 8 == 0) {
    for (UINT32 I = 0; I < N; I += 4) {
      UINT32 Dword = RegRead32(Mmio + SPI_FDATA0 + I);
      Destination[I] = static_cast<UINT8>(Dword);
      Destination[I + 1] = static_cast<UINT8>(Dword >> 8);
      Destination[I + 2] = static_cast<UINT8>(Dword >> 16);
      Destination[I + 3] = static_cast<UINT8>(Dword >> 24);
    }
    return;
  }
  for (UINT32 I = 0; I < N; I++) {
    Destination[I] = RegRead8(Mmio + SPI_FDATA0 + I);
  }
}

// The checks and the cycles of SpiSendCycle, between its SMI/BIOS_CONTROL set-up
// and its exit.
EFI_STATUS RunCycles(UINT64 Mmio, FlashRegion Region, SpiCycle Cycle, UINT32 Address,
                     UINT32 ByteCount, UINT8 *Buffer) {
  const SpiControllerStateRecord &State = SpiControllerState;
  if (!SpiWaitCycleDone(Mmio, FALSE)) {
    return EFI_DEVICE_ERROR;
  }
  UINT32 RegionBase = 0;
  UINT32 RegionSize = 0;
  EFI_STATUS Status = SpiGetRegionRange(Region, &RegionBase, &RegionSize);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (static_cast<UINT32>(Address + ByteCount) > RegionSize) {
    return EFI_INVALID_PARAMETER;
  }
  UINT8 RegionBit = static_cast<UINT8>(1u << Region);
  if (Cycle == SpiCycleRead && (State.RegionReadAccess & RegionBit) == 0) {
    return EFI_ACCESS_DENIED;
  }
  if (IsWriteOrErase(Cycle) && (State.RegionWriteAccess & RegionBit) == 0) {
    return EFI_ACCESS_DENIED;
  }
  UINT32 Fcycle = 0;
  if (!CycleValue(Cycle, &Fcycle)) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 A = RegionBase + Address;
  if (Cycle == SpiCycleErase && (ByteCount % FLASH_BLOCK_4K != 0 || A % FLASH_BLOCK_4K != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  BOOLEAN SingleCycle =
      Cycle == SpiCycleReadJedecId || Cycle == SpiCycleWriteStatus || Cycle == SpiCycleReadStatus;
  // A single-cycle transfer must fit the FDATA window; beyond it lie other registers.
  if (SingleCycle && ByteCount > FDATA_BYTES) {
    return EFI_INVALID_PARAMETER;
  }
  BOOLEAN DataIn = Cycle == SpiCycleRead || Cycle == SpiCycleReadSfdp ||
                   Cycle == SpiCycleReadJedecId || Cycle == SpiCycleReadStatus;
  BOOLEAN DataOut = Cycle == SpiCycleWrite || Cycle == SpiCycleWriteStatus;

  UINT32 R = ByteCount;
  UINT8 *P = Buffer;
  while (R > 0) {
    UINT32 N;
    if (Cycle == SpiCycleErase) {
      N = EraseCycleBytes(A, R, &Fcycle);
    } else if (SingleCycle) {
      N = R;
    } else {
      N = DataCycleBytes(A, R);
    }
    if (DataOut) {
      CopyToFdata(Mmio, P, N);
    }
    RegWrite32(Mmio + SPI_FADDR, A & FADDR_MASK);
    RegAndOr32(
        Mmio + SPI_HSFSTS_CTL, HSFSTS_CTL_KEEP_MASK,
        (((N - 1) & HSFSTS_CTL_FDBC_MASK) << HSFSTS_CTL_FDBC_SHIFT) | Fcycle | HSFSTS_CTL_FGO);
    if (!SpiWaitCycleDone(Mmio, TRUE)) {
      return EFI_DEVICE_ERROR;
    }
    if (DataIn) {
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

}  // namespace

EFI_STATUS SpiControllerInit() {
  SpiControllerStateRecord &State = SpiControllerState;
  State = {};
  DecodingBar = 0;
  State.FixedSpiBar = SPI_FIXED_BAR;
  State.SpiPciConfig = PcieConfigAddress(SPI_PCI_BUS, SPI_PCI_DEVICE, SPI_PCI_FUNCTION);

  GetAcpiIoBase(&State.AcpiIoBase);
  if (State.AcpiIoBase == 0) {
    return EFI_UNSUPPORTED;
  }
  UINT32 Base = RegRead32(State.SpiPciConfig + SPI_CFG_BAR0) & SPI_BAR0_MASK;
  // All ones is no base either: it would point into the memory-mapped BIOS.
  if (Base == 0 || Base == SPI_BAR0_ABSENT) {
    return EFI_UNSUPPORTED;
  }
  // Set-up reads the controller where BAR0 decodes now; BAR0 is not moved here.
  State.StartupSpiBar = Base;
  DecodingBar = Base;
  if ((RegRead32(Base + SPI_HSFSTS_CTL) & SPI_HSFSTS_CTL_FDV) == 0) {
    return EFI_UNSUPPORTED;
  }
  State.RegionReadAccess = RegRead8(Base + SPI_FRAP);
  State.RegionWriteAccess = static_cast<UINT8>(RegRead16(Base + SPI_FRAP) >> 8);
  State.LvsccValue = RegRead32(Base + SPI_LVSCC);
  State.UvsccValue = RegRead32(Base + SPI_UVSCC);
  return ReadDescriptorMaps(Base);
}

BOOLEAN SpiControllerReady() {
  return SpiControllerState.AcpiIoBase != 0 && SpiControllerState.StartupSpiBar != 0;
}

UINT32 SpiDecodingBar() { return DecodingBar; }

UINT64 SpiAcquireBar(UINT64 Config) {
  UINT32 Fixed = SpiControllerState.FixedSpiBar;
  if ((RegRead32(Config + SPI_CFG_BAR0) & SPI_BAR0_MASK) != Fixed) {
    // Decoding stays off while the base changes.
    RegAnd8(Config + SPI_CFG_COMMAND, static_cast<UINT8>(~PCI_COMMAND_MSE));
    RegWrite32(Config + SPI_CFG_BAR0, Fixed);
    RegOr8(Config + SPI_CFG_COMMAND, PCI_COMMAND_MSE);
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
  UINT32 Freg = RegRead32(Mmio + SPI_FREG0 + 4 * Region);
  if (Freg == FREG_UNUSED) {
    return EFI_DEVICE_ERROR;
  }
  UINT32 RegionBase = (Freg & FREG_BASE_MASK) << 12;
  *Base = RegionBase;
  *Size = ((Freg >> 4) & FREG_LIMIT_MASK) - RegionBase + FLASH_BLOCK_4K;
  return EFI_SUCCESS;
}

BOOLEAN SpiWaitCycleDone(UINT64 Mmio, BOOLEAN CheckError) {
  UINT32 Status = 0;
  BOOLEAN Idle = FALSE;
  for (UINT32 Poll = 0; Poll < SPI_CYCLE_POLLS; Poll++) {
    Status = RegRead32(Mmio + SPI_HSFSTS_CTL);
    if ((Status & HSFSTS_CTL_SCIP) == 0) {
      Idle = TRUE;
      break;
    }
    PmTimerDelay(SpiControllerState.AcpiIoBase, SPI_POLL_DELAY_US);
  }
  if (!Idle) {
    return FALSE;
  }
  // Clears FDONE and FCERR; the control half is written as zeros.
  RegWrite32(Mmio + SPI_HSFSTS_CTL, HSFSTS_CTL_FDONE | HSFSTS_CTL_FCERR);
  return !(CheckError && (Status & HSFSTS_CTL_FCERR) != 0);
}

EFI_STATUS SpiSendCycle(FlashRegion Region, SpiCycle Cycle, UINT32 Address, UINT32 ByteCount,
                        UINT8 *Buffer) {
  // Without an ACPI base the SMI port would be 0x30 and the timer port 0x08;
  // without a BAR0 base there is no controller to move. Nothing is touched.
  if (!SpiControllerReady()) {
    return EFI_NOT_READY;
  }
  UINT64 Mmio = SpiAcquireBar(SpiControllerState.SpiPciConfig);

  // SMIs stay off for the whole operation: SMM code may reset BIOSWE or use the
  // controller itself while a cycle runs.
  UINT32 SavedSmiEn = PortRead32(SmiEnPort());
  PortWrite32(SmiEnPort(), SavedSmiEn & ~SMI_EN_GBL_SMI_EN);
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
  PortWrite32(SmiEnPort(), SavedSmiEn);
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
  UINT64 Control = Config + SPI_CFG_BIOS_CONTROL;
  // With EISS set, BIOSWE only holds inside SMM: setting it from here would raise
  // an SMI or be undone.
  if ((RegRead8(Control) & BIOS_CONTROL_EISS) != 0) {
    return EFI_ACCESS_DENIED;
  }
  RegOr8(Control, BIOS_CONTROL_BIOSWE);
  return EFI_SUCCESS;
}

VOID SpiDisableBiosWrite(UINT64 Config) {
  RegAnd8(Config + SPI_CFG_BIOS_CONTROL, static_cast<UINT8>(~BIOS_CONTROL_BIOSWE));
}
