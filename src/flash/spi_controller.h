// The PCH SPI flash controller (PCI 0:31.5) as a whole: what the set-up learnt of
// it, the one owner of where its registers decode, its BIOS_CONTROL write enable,
// the SMI mask that flash-modifying cycles run under, and the account of the last
// cycle that failed. The cycles themselves are in spi_hwseq and spi_swseq.
#pragma once

#include "uefi/uefi.h"

typedef UINT32 FlashRegion;  // 0..5: FREG0..FREG5; 6: the whole flash
constexpr FlashRegion FlashRegionWholeFlash = 6;

// A cycle runs for at most about 6 seconds: 600000 polls 10 microseconds apart. Both
// wait loops (hardware and software sequencing) use the same bound.
constexpr UINT32 SPI_CYCLE_POLLS = 600000;
constexpr UINT64 SPI_POLL_DELAY_US = 10;

struct SpiControllerStateRecord {
  UINT64 SpiPciConfig;
  UINT32 FixedSpiBar;  // the register base BAR0 held at set-up
  UINT8 RegionCount;   // FREG registers the controller has
  UINT16 AcpiIoBase;
  UINT8 RegionReadAccess;
  UINT8 RegionWriteAccess;
  UINT32 LvsccValue;
  UINT32 UvsccValue;
  UINT8 ComponentCountCode;
  UINT32 SecondComponentBase;
  UINT32 FlashTotalSize;
  UINT16 PchStrapOffset;
  UINT16 PchStrapBytes;
  UINT16 CpuStrapOffset;
  UINT16 CpuStrapBytes;
};
extern SpiControllerStateRecord SpiControllerState;

// A BAR0 base with a controller behind it: neither 0 (no base assigned) nor all
// ones (no function answers), either of which would send register accesses into
// low memory or the memory-mapped BIOS.
BOOLEAN SpiBarUsable(UINT32 Base);

// TRUE when the set-up learnt an ACPI I/O base and the registers decode at a usable
// base: without them no cycle may run (the SMI and timer ports and the registers
// would be whatever answers at fixed low addresses).
BOOLEAN SpiControllerReady();

// Where the controller's registers decode: BAR0 as firmware assigned it, which the
// application never writes (firmware's own SPI driver in SMM keeps using it after
// the application returns). SpiReadBar0 learns it; 0 before BAR0 was read.
UINT32 SpiDecodingBar();
UINT32 SpiReadBar0();
// Forgets where the registers decode, for a new run.
VOID SpiForgetBar();

EFI_STATUS SpiGetRegionRange(FlashRegion Region, UINT32 *Base, UINT32 *Size);

// Clears GBL_SMI_EN and returns the SMI_EN value that SpiRestoreSmis puts back.
UINT32 SpiMaskSmis();
VOID SpiRestoreSmis(UINT32 Saved);

EFI_STATUS SpiEnableBiosWrite(UINT64 Config);
VOID SpiDisableBiosWrite(UINT64 Config);
// TRUE when BIOS_CONTROL.EISS limits BIOS writes to SMM.
BOOLEAN SpiBiosWritesNeedSmm();
// Sets BIOSWE as a write cycle would and puts it back: EFI_WRITE_PROTECTED when
// it did not stay set, as where SMM takes it back (LE with SMI_LOCK).
EFI_STATUS SpiCheckBiosWriteEnable();

// What the controller said when a cycle failed: where, and the status register it
// ended with. The status tells the cause apart: EFI_DEVICE_ERROR for FCERR,
// EFI_ACCESS_DENIED for AEL, EFI_TIMEOUT for a cycle that never finished.
struct SpiCycleFailureRecord {
  BOOLEAN Recorded;
  BOOLEAN SoftwareSequenced;  // ControllerStatus is SSFSTS_CTL, else HSFSTS_CTL
  UINT32 FlashLinear;
  UINT32 ControllerStatus;
  EFI_STATUS Status;
};
VOID SpiClearCycleFailure();
VOID SpiRecordCycleFailure(BOOLEAN SoftwareSequenced, UINT32 FlashLinear, UINT32 ControllerStatus,
                           EFI_STATUS Status);
// The first failure since the last SpiClearCycleFailure; Recorded is FALSE when none.
const SpiCycleFailureRecord *SpiLastCycleFailure();
