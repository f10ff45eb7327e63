// Hardware-sequenced flash cycles of the PCH SPI controller (PCI 0:31.5): the
// controller issues the SPI commands itself from a cycle type, a flash-linear
// address and a byte count.
#pragma once

#include "uefi/uefi.h"

// The SPI controller, PCI 0:31.5: offsets from its configuration space.
constexpr UINT32 SPI_PCI_BUS = 0;
constexpr UINT32 SPI_PCI_DEVICE = 31;
constexpr UINT32 SPI_PCI_FUNCTION = 5;
constexpr UINT32 SPI_CFG_COMMAND = 0x04;
constexpr UINT32 SPI_CFG_BAR0 = 0x10;
constexpr UINT32 SPI_CFG_BIOS_CONTROL = 0xDC;
constexpr UINT32 SPI_BAR0_MASK = 0xFFFFF000;
// BAR0 of a function that does not answer reads all ones.
constexpr UINT32 SPI_BAR0_ABSENT = 0xFFFFF000;
// Where the flash operations use the controller's registers.
constexpr UINT32 SPI_FIXED_BAR = 0xFE010000;

// SPI controller memory-mapped registers used by more than one layer: offsets
// from the MMIO base BAR0 decodes.
constexpr UINT32 SPI_HSFSTS_CTL = 0x04;
constexpr UINT32 SPI_HSFSTS_CTL_FDV = 1u << 14;  // flash descriptor valid
constexpr UINT32 SPI_FADDR = 0x08;
constexpr UINT32 SPI_FDATA0 = 0x10;
constexpr UINT32 SPI_FDOC = 0xB4;
constexpr UINT32 SPI_FDOD = 0xB8;
constexpr UINT32 SPI_LVSCC = 0xC4;
constexpr UINT32 SPI_UVSCC = 0xC8;
// FDOC values selecting descriptor dwords (section in bits 14:12, dword index in 11:2).
constexpr UINT32 SPI_FDOC_FLMAP0 = 0x0004;
constexpr UINT32 SPI_FDOC_FLMAP1 = 0x0008;
constexpr UINT32 SPI_FDOC_FLMAP2 = 0x000C;
constexpr UINT32 SPI_FDOC_FLCOMP = 0x1000;
constexpr UINT32 SPI_FDOC_FLMSTR1 = 0x3000;

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
  // The base BAR0 held at initialisation; 0 when it held none (or read all ones).
  UINT32 StartupSpiBar;
};
extern SpiControllerStateRecord SpiControllerState;

EFI_STATUS SpiControllerInit();
// TRUE when initialisation learnt an ACPI I/O base and found a BAR0 base: without
// them no cycle may run (the SMI and timer ports and the registers would be
// whatever answers at fixed low addresses).
BOOLEAN SpiControllerReady();
// Where the controller's registers decode now, as this layer left BAR0: the
// start-up base, or FixedSpiBar once SpiAcquireBar has run; 0 before either.
UINT32 SpiDecodingBar();
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
