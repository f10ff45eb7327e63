#include "flash/spi_controller.h"

#include "flash/hw_access.h"
#include "flash/regs/acpi_io.h"
#include "flash/regs/spi_mmio.h"
#include "flash/regs/spi_pci.h"

SpiControllerStateRecord SpiControllerState = {};

namespace {

// Where BAR0 decodes as far as this layer knows; SpiReadBar0 is its only writer.
UINT32 DecodingBar = 0;

SpiCycleFailureRecord CycleFailure = {};

UINT64 BiosControl() { return SpiControllerState.SpiPciConfig + BIOS_CONTROL; }
UINT16 SmiEnPort() { return static_cast<UINT16>(SpiControllerState.AcpiIoBase + ACPI_SMI_EN); }

}  // namespace

BOOLEAN SpiBarUsable(UINT32 Base) { return Base != 0 && Base != SPI_BAR0_MASK; }

BOOLEAN SpiControllerReady() {
  return SpiControllerState.AcpiIoBase != 0 && SpiBarUsable(DecodingBar);
}

UINT32 SpiDecodingBar() { return DecodingBar; }

UINT32 SpiReadBar0() {
  UINT64 Config = PcieConfigAddress(SPI_PCI_BUS, SPI_PCI_DEVICE, SPI_PCI_FUNCTION);
  DecodingBar = RegRead32(Config + SPI_BAR0) & SPI_BAR0_MASK;
  return DecodingBar;
}

VOID SpiForgetBar() { DecodingBar = 0; }

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
    return EFI_NOT_READY;  // no register base to read the region from
  }
  UINT64 Mmio = SpiDecodingBar();
  UINT32 Freg = RegRead32(Mmio + FREG0 + FREG_STRIDE * Region);
  if (Freg == FREG_UNUSED) {
    return EFI_DEVICE_ERROR;
  }
  UINT64 RegionBase = SpiRangeBase(Freg);
  *Base = static_cast<UINT32>(RegionBase);
  *Size = static_cast<UINT32>(SpiRangeLimit(Freg) + 1 - RegionBase);
  return EFI_SUCCESS;
}

UINT32 SpiMaskSmis() {
  UINT32 Saved = PortRead32(SmiEnPort());
  PortWrite32(SmiEnPort(), Saved & ~SMI_EN_GBL_SMI_EN);
  return Saved;
}

VOID SpiRestoreSmis(UINT32 Saved) { PortWrite32(SmiEnPort(), Saved); }

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

BOOLEAN SpiBiosWritesNeedSmm() { return (RegRead8(BiosControl()) & BIOS_CONTROL_EISS) != 0; }

EFI_STATUS SpiCheckBiosWriteEnable() {
  if (!SpiControllerReady()) {
    return EFI_NOT_READY;
  }
  // Set as a write cycle sets it, with SMIs masked: where SMM still gets control
  // (SMI_LOCK keeps GBL_SMI_EN set) and LE is set, the handler takes BIOSWE back.
  UINT32 SavedSmiEn = SpiMaskSmis();
  UINT8 Before = RegRead8(BiosControl());
  RegOr8(BiosControl(), BIOS_CONTROL_BIOSWE);
  UINT8 After = RegRead8(BiosControl());
  if ((Before & BIOS_CONTROL_BIOSWE) == 0) {
    SpiDisableBiosWrite(SpiControllerState.SpiPciConfig);
  }
  SpiRestoreSmis(SavedSmiEn);
  RegisterBarrier();
  return (After & BIOS_CONTROL_BIOSWE) != 0 ? EFI_SUCCESS : EFI_WRITE_PROTECTED;
}

VOID SpiClearCycleFailure() { CycleFailure = {}; }

VOID SpiRecordCycleFailure(BOOLEAN SoftwareSequenced, UINT32 FlashLinear, UINT32 ControllerStatus,
                           EFI_STATUS Status) {
  // The first failure is the cause; what follows (a read-back, a retry) only
  // confirms it.
  if (CycleFailure.Recorded) {
    return;
  }
  CycleFailure = {TRUE, SoftwareSequenced, FlashLinear, ControllerStatus, Status};
}

const SpiCycleFailureRecord *SpiLastCycleFailure() { return &CycleFailure; }
