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

EFI_STATUS SpiControllerInit();
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
