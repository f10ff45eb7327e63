// Hardware-sequenced flash cycles of the PCH SPI controller (PCI 0:31.5): the
// controller issues the SPI commands itself from a cycle type, a flash-linear
// address and a byte count.
#pragma once

#include "uefi/uefi.h"

typedef UINT32 FlashRegion;  // 0..5: FREG0..FREG5; 6: the whole flash
constexpr FlashRegion FlashRegionWholeFlash = 6;

enum SpiCycle : UINT32 {
  SpiCycleRead = 0,
  SpiCycleWrite = 1,
  SpiCycleErase = 2,
  SpiCycleReadSfdp = 3,
  SpiCycleReadJedecId = 4,
  SpiCycleWriteStatus = 5,
  SpiCycleReadStatus = 6,
};

// A cycle runs for at most about 6 seconds: 600000 polls 10 microseconds apart.
constexpr UINT32 SPI_CYCLE_POLLS = 600000;
constexpr UINT64 SPI_POLL_DELAY_US = 10;

struct SpiControllerStateRecord {
  UINT64 SpiPciConfig;
  UINT32 FixedSpiBar;
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
// The platform guard: one read of BAR0 of 0:31.5. TRUE when it holds a usable
// base; nothing else may touch the controller otherwise.
BOOLEAN SpiControllerPresent();

EFI_STATUS SpiControllerInit();
// TRUE when initialisation learnt an ACPI I/O base and the registers decode at a
// usable base: without them no cycle may run (the SMI and timer ports and the
// registers would be whatever answers at fixed low addresses).
BOOLEAN SpiControllerReady();

// Where the controller's registers decode now. This layer is the one owner of that
// knowledge: SpiReadBar0 learns the base BAR0 holds, SpiAcquireBar moves BAR0 to
// FixedSpiBar; 0 before BAR0 was read.
UINT32 SpiDecodingBar();
UINT32 SpiReadBar0();
UINT64 SpiAcquireBar(UINT64 Config);
EFI_STATUS SpiGetRegionRange(FlashRegion Region, UINT32 *Base, UINT32 *Size);
BOOLEAN SpiWaitCycleDone(UINT64 Mmio, BOOLEAN CheckError);
EFI_STATUS SpiSendCycle(FlashRegion Region, SpiCycle Cycle, UINT32 Address, UINT32 ByteCount,
                        UINT8 *Buffer);
EFI_STATUS SpiFlashRead(FlashRegion Region, UINT32 Address, UINT32 ByteCount, UINT8 *Buffer);
EFI_STATUS SpiFlashWrite(FlashRegion Region, UINT32 Address, UINT32 ByteCount, UINT8 *Buffer);
EFI_STATUS SpiFlashErase(FlashRegion Region, UINT32 Address, UINT32 ByteCount);
EFI_STATUS SpiFlashReadJedecId(UINT8 Selector, UINT32 ByteCount, UINT8 *Buffer);
EFI_STATUS SpiEnableBiosWrite(UINT64 Config);
VOID SpiDisableBiosWrite(UINT64 Config);

// TRUE once a cycle has not finished within the poll bound; every later cycle of
// the run then fails at once.
BOOLEAN SpiControllerStuck();

// Read again after initialisation: FRAP, once platform firmware may have lifted
// the descriptor's limits; LVSCC/UVSCC, once the part set-up has programmed them,
// so that the erase size follows what the registers hold.
VOID SpiReadRegionAccess();
VOID SpiReadComponentCapabilities();

// TRUE when every erase cycle that SpiFlashErase would issue for the range has
// its erase opcode marked valid in LVSCC/UVSCC.
BOOLEAN SpiEraseSupported(UINT32 FlashLinear, UINT32 ByteCount);

// TRUE when BIOS_CONTROL.EISS limits BIOS writes to SMM.
BOOLEAN SpiBiosWritesNeedSmm();
// Sets BIOSWE as a write cycle would and puts it back: EFI_WRITE_PROTECTED when
// it did not stay set, as where SMM takes it back (LE with SMI_LOCK).
EFI_STATUS SpiCheckBiosWriteEnable();

// The chip's status register through a hardware-sequenced read-status cycle at
// the component that holds FlashLinear.
EFI_STATUS SpiFlashReadStatus(UINT32 FlashLinear, UINT8 *Status);
