// Hardware-sequenced cycles: one request becomes controller cycles of at most 64
// data bytes (or one erase each), run with SMIs masked and, for writes and erases,
// with BIOSWE set and BIOS prefetching off.
#include "flash/spi_hwseq.h"

#include "base/firmware.h"
#include "flash/flash_geometry.h"
#include "flash/hw_access.h"
#include "flash/regs/spi_mmio.h"
#include "flash/regs/spi_pci.h"

namespace {

// Hardware-sequenced reads and writes never cross a 256-byte page.
constexpr UINT32 FLASH_PAGE_BYTES = 256;

// Set when a cycle did not finish within the poll bound. A controller that hangs
// once hangs again: every later cycle of the run fails at once instead of
// waiting out the bound anew.
BOOLEAN ControllerStuck = FALSE;

UINT64 BiosControl() { return SpiControllerState.SpiPciConfig + BIOS_CONTROL; }

BOOLEAN IsWriteOrErase(SpiCycle Cycle) { return Cycle == SpiCycleWrite || Cycle == SpiCycleErase; }

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

// The capabilities of the component that holds flash-linear A: LVSCC governs
// component 0, UVSCC component 1. A board with one component has no use for UVSCC.
UINT32 ComponentCapability(UINT32 A) {
  const SpiControllerStateRecord &State = SpiControllerState;
  BOOLEAN Second = State.ComponentCountCode != 0 && A >= State.SecondComponentBase;
  return Second ? State.UvsccValue : State.LvsccValue;
}

// 64 KiB where alignment, the remaining length and the component's capability (as
// read at initialisation) allow it, else 4 KiB.
UINT32 EraseCycleBytes(UINT32 A, UINT32 R, UINT32 *Fcycle) {
  UINT32 Capability = ComponentCapability(A);
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
      RegWrite32(Mmio + FDATA0 + I, ReadLittleEndian32(Source + I));
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

// The descriptor regions (bit n: FREGn) that flash-linear First..Last touches,
// among those FRAP governs. A region is in use when its base is not above its
// limit. Regions above 7 have no FRAP bits: the controller blocks what it must.
UINT8 RegionsTouched(UINT64 Mmio, UINT64 First, UINT64 Last) {
  UINT8 Touched = 0;
  UINT32 Count =
      SpiControllerState.RegionCount < FREG_COUNT ? FREG_COUNT : SpiControllerState.RegionCount;
  if (Count > FRAP_REGION_COUNT) {
    Count = FRAP_REGION_COUNT;
  }
  for (UINT32 Region = 0; Region < Count; Region++) {
    UINT32 Freg = RegRead32(Mmio + FREG0 + FREG_STRIDE * Region);
    UINT64 Base = SpiRangeBase(Freg);
    UINT64 Limit = SpiRangeLimit(Freg);
    if (SpiRangeInUse(Freg) && Base <= Last && First <= Limit) {
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
    UINT32 Hsfsts = 0;
    EFI_STATUS Status = SpiWaitCycleDone(Mmio, TRUE, &Hsfsts);
    if (EFI_ERROR(Status)) {
      SpiRecordCycleFailure(FALSE, A, Hsfsts, Status);
      return Status;
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
  // A cycle still running (of firmware, or one of ours that hung) is waited out.
  UINT32 Hsfsts = 0;
  EFI_STATUS Status = SpiWaitCycleDone(Mmio, FALSE, &Hsfsts);
  if (EFI_ERROR(Status)) {
    SpiRecordCycleFailure(FALSE, Address, Hsfsts, Status);
    return Status;
  }
  UINT32 FlashLinear = 0;
  UINT32 Fcycle = 0;
  Status = CheckCycleRequest(Mmio, Region, Cycle, Address, ByteCount, &FlashLinear, &Fcycle);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return RunCycleLoop(Mmio, Cycle, FlashLinear, ByteCount, Buffer, Fcycle);
}

}  // namespace

EFI_STATUS SpiWaitCycleDone(UINT64 Mmio, BOOLEAN CheckError, UINT32 *LastStatus) {
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
  *LastStatus = Status;
  if (!Idle) {
    ControllerStuck = TRUE;
    return EFI_TIMEOUT;
  }
  // Clears FDONE, FCERR and AEL; the control half is written as zeros.
  RegWrite32(Mmio + HSFSTS_CTL, HSFSTS_CTL_FDONE | HSFSTS_CTL_FCERR | HSFSTS_CTL_AEL);
  if (!CheckError) {
    return EFI_SUCCESS;
  }
  // AEL says why the controller refused (an access the region permissions or a
  // protected range forbid); FCERR alone is any other failed cycle.
  if ((Status & HSFSTS_CTL_AEL) != 0) {
    return EFI_ACCESS_DENIED;
  }
  return (Status & HSFSTS_CTL_FCERR) != 0 ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

EFI_STATUS SpiSendCycle(FlashRegion Region, SpiCycle Cycle, UINT32 Address, UINT32 ByteCount,
                        UINT8 *Buffer) {
  // Without an ACPI base the SMI port would be 0x30 and the timer port 0x08;
  // without a BAR0 base there are no registers. Nothing is touched.
  if (!SpiControllerReady()) {
    return EFI_NOT_READY;
  }
  if (ControllerStuck) {
    return EFI_TIMEOUT;
  }
  UINT64 Mmio = SpiDecodingBar();

  // SMIs stay off for the whole operation: SMM code may reset BIOSWE or use the
  // controller itself while a cycle runs.
  UINT32 SavedSmiEn = SpiMaskSmis();
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
  SpiRestoreSmis(SavedSmiEn);
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
  // The cycle's address picks the chip select: one at or above component 0's size
  // reaches component 1 (on a one-component board both selectors read address 0).
  UINT32 Address = (Selector == 1) ? SpiControllerState.SecondComponentBase : 0;
  return SpiSendCycle(FlashRegionWholeFlash, SpiCycleReadJedecId, Address, ByteCount, Buffer);
}

EFI_STATUS SpiFlashReadStatus(UINT32 FlashLinear, UINT8 *Status) {
  return SpiSendCycle(FlashRegionWholeFlash, SpiCycleReadStatus, FlashLinear, 1, Status);
}

BOOLEAN SpiControllerStuck() { return ControllerStuck; }

VOID SpiResetStuck() { ControllerStuck = FALSE; }

BOOLEAN SpiEraseSupported(UINT32 FlashLinear, UINT32 ByteCount) {
  UINT32 A = FlashLinear;
  UINT32 R = ByteCount;
  while (R >= FLASH_SECTOR_4K) {
    UINT32 Fcycle = 0;
    UINT32 N = EraseCycleBytes(A, R, &Fcycle);
    UINT32 Capability = ComponentCapability(A);
    UINT32 Valid = Fcycle == FCYCLE_ERASE_64K ? VSCC_EO_64K_VALID : VSCC_EO_4K_VALID;
    if ((Capability & Valid) == 0) {
      return FALSE;
    }
    A += N;
    R -= N;
  }
  return TRUE;
}
