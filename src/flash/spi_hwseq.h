// Hardware-sequenced flash cycles of the PCH SPI controller (PCI 0:31.5): the
// controller issues the SPI commands itself from a cycle type, a flash-linear
// address and a byte count.
#pragma once

#include "flash/spi_controller.h"
#include "uefi/uefi.h"

enum SpiCycle : UINT32 {
  SpiCycleRead = 0,
  SpiCycleWrite = 1,
  SpiCycleErase = 2,
  SpiCycleReadSfdp = 3,
  SpiCycleReadJedecId = 4,
  SpiCycleWriteStatus = 5,
  SpiCycleReadStatus = 6,
};

// Waits until the controller is idle, then clears FDONE, FCERR and AEL. With
// CheckError, a cycle that ended with AEL gives EFI_ACCESS_DENIED and one that
// ended with FCERR EFI_DEVICE_ERROR; a controller still busy after the poll bound
// gives EFI_TIMEOUT. *LastStatus is the HSFSTS_CTL value the wait ended with.
EFI_STATUS SpiWaitCycleDone(UINT64 Mmio, BOOLEAN CheckError, UINT32 *LastStatus);
EFI_STATUS SpiSendCycle(FlashRegion Region, SpiCycle Cycle, UINT32 Address, UINT32 ByteCount,
                        UINT8 *Buffer);
EFI_STATUS SpiFlashRead(FlashRegion Region, UINT32 Address, UINT32 ByteCount, UINT8 *Buffer);
EFI_STATUS SpiFlashWrite(FlashRegion Region, UINT32 Address, UINT32 ByteCount, UINT8 *Buffer);
EFI_STATUS SpiFlashErase(FlashRegion Region, UINT32 Address, UINT32 ByteCount);
EFI_STATUS SpiFlashReadJedecId(UINT8 Selector, UINT32 ByteCount, UINT8 *Buffer);
// The chip's status register through a hardware-sequenced read-status cycle at
// the component that holds FlashLinear.
EFI_STATUS SpiFlashReadStatus(UINT32 FlashLinear, UINT8 *Status);

// TRUE once a cycle has not finished within the poll bound; every later cycle of
// the run then fails at once.
BOOLEAN SpiControllerStuck();
// A new run: no cycle has hung yet.
VOID SpiResetStuck();

// TRUE when every erase cycle that SpiFlashErase would issue for the range has
// its erase opcode marked valid in LVSCC/UVSCC.
BOOLEAN SpiEraseSupported(UINT32 FlashLinear, UINT32 ByteCount);
