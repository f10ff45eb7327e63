#include "flash/spi_setup.h"

#include "base/firmware.h"
#include "flash/flash_descriptor.h"
#include "flash/flash_geometry.h"
#include "flash/hw_access.h"
#include "flash/pch_generation.h"
#include "flash/regs/descriptor.h"
#include "flash/regs/spi_mmio.h"
#include "flash/regs/spi_pci.h"
#include "flash/spi_controller.h"
#include "flash/spi_hwseq.h"

BiosWindowRecord BiosWindow = {0, 0, 0, 0, 0, 0, 0, TRUE};

namespace {

constexpr UINT8 OPCODE_WRITE_ENABLE = 0x06;
constexpr UINT8 OPCODE_ENABLE_WRITE_STATUS = 0x50;

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

// The writable range of a valid descriptor: the whole flash when the host may write
// any of regions 4..7 in FLMSTR1, otherwise the BIOS region as BFPREG gives it.
VOID SetDescriptorWritableRange(UINT64 Mmio) {
  UINT32 Flmstr1 = DescriptorReadDword(Mmio, FDSS_MASTER, FDSI_FLMSTR1);
  if ((Flmstr1 & FLMSTR1_WRITE_REGIONS_4_TO_7) != 0) {
    return;
  }
  UINT32 Bfpreg = RegRead32(Mmio + BFPREG);
  UINT64 Base = SpiRangeBase(Bfpreg);
  UINT64 Limit = SpiRangeLimit(Bfpreg);
  // A BIOS region of a single 4 KiB unit (base equal to limit) is not taken.
  if (Base < (Limit & ~SPI_RANGE_LIMIT_LOW_BITS)) {
    BiosWindow.WritableLow = Base;
    BiosWindow.WritableHigh = Limit;
  }
}

BOOLEAN VsccHasValidErase(UINT32 Vscc) {
  return (Vscc & (VSCC_EO_4K_VALID | VSCC_EO_64K_VALID)) != 0;
}

}  // namespace

EFI_STATUS SpiControllerInit() {
  SpiControllerStateRecord &State = SpiControllerState;
  State = {};
  SpiForgetBar();
  SpiResetStuck();
  State.SpiPciConfig = PcieConfigAddress(SPI_PCI_BUS, SPI_PCI_DEVICE, SPI_PCI_FUNCTION);
  State.RegionCount = static_cast<UINT8>(PchRegionCount());

  // The identification learnt the base from the firmware's FADT or the PMC;
  // without it only a visible PMC can give it.
  if (PchPlatform.Identified) {
    State.AcpiIoBase = PchPlatform.AcpiIoBase;
  } else {
    GetAcpiIoBase(&State.AcpiIoBase);
  }
  if (State.AcpiIoBase == 0) {
    return EFI_UNSUPPORTED;
  }
  // The registers are used where firmware put them, for the whole run.
  UINT32 Base = SpiReadBar0();
  if (!SpiBarUsable(Base)) {
    return EFI_UNSUPPORTED;
  }
  State.FixedSpiBar = Base;
  if (!DescriptorValid(Base)) {
    return EFI_UNSUPPORTED;
  }
  State.RegionReadAccess = static_cast<UINT8>(RegRead8(Base + FRAP) >> FRAP_BRRA_SHIFT);
  State.RegionWriteAccess = static_cast<UINT8>(RegRead16(Base + FRAP) >> FRAP_BRWA_SHIFT);
  State.LvsccValue = RegRead32(Base + LVSCC);
  State.UvsccValue = RegRead32(Base + UVSCC);
  return ReadDescriptorMaps(Base);
}

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

EFI_STATUS BiosWindowInit() {
  // A fresh window for this run: only the steps below and the part set-up fill it.
  BiosWindow = {0, 0, 0, 0, 0, 0, 0, TRUE};
  BiosWindow.Size = BIOS_WINDOW_SIZE;
  BiosWindow.Base = BIOS_WINDOW_BASE;
  if (SpiBarUsable(SpiReadBar0())) {
    ComputeBiosFlashOffset();
  }
  return EFI_SUCCESS;
}

VOID ComputeBiosFlashOffset() {
  UINT64 Mmio = SpiDecodingBar();
  if (!DescriptorValid(Mmio)) {
    return;
  }
  // The chipset maps the top of the BIOS region (FREG1) just below 4 GiB, wherever
  // the region lies in the flash.
  UINT32 Freg1 = RegRead32(Mmio + FREG0 + FREG_STRIDE * FREG_BIOS_REGION);
  if (SpiRangeInUse(Freg1)) {
    INT64 RegionEnd = static_cast<INT64>(SpiRangeLimit(Freg1)) + 1;
    BiosWindow.FlashOffset = RegionEnd - static_cast<INT64>(BiosWindow.Size);
    return;
  }
  // A descriptor without a BIOS region: the window holds the top of the flash;
  // negative when the flash is smaller.
  BiosWindow.FlashOffset =
      static_cast<INT64>(SpiControllerState.FlashTotalSize) - static_cast<INT64>(BiosWindow.Size);
}

VOID BiosWindowCoverWholeFlash() {
  BiosWindow.FlashOffset =
      static_cast<INT64>(BiosWindow.FlashSize) - static_cast<INT64>(BiosWindow.Size);
}

EFI_STATUS GetFlashComponentCount(UINT8 *Count) {
  UINT64 Mmio = SpiDecodingBar();
  if (!DescriptorValid(Mmio)) {
    return EFI_UNSUPPORTED;
  }
  *Count =
      static_cast<UINT8>(FlashComponentCount(DescriptorReadDword(Mmio, FDSS_MAP, FDSI_FLMAP0)));
  return EFI_SUCCESS;
}

VOID BiosWindowReadWritableRange() {
  BiosWindow.WritableLow = 0;
  BiosWindow.WritableHigh = static_cast<UINT32>(BiosWindow.FlashSize - 1);
  UINT64 Mmio = SpiDecodingBar();
  if (!DescriptorValid(Mmio)) {
    BiosWindow.DescriptorMode = FALSE;
    return;
  }
  BiosWindow.DescriptorMode = TRUE;
  SetDescriptorWritableRange(Mmio);
}

VOID SpiProgramForPart(const SpiControllerConfig *Config) {
  UINT64 Mmio = SpiDecodingBar();
  RegOr8(Mmio + HSFSTS_CTL, HSFSTS_CTL_FDONE | HSFSTS_CTL_FCERR | HSFSTS_CTL_AEL);
  RegOr8(Mmio + SSFSTS_CTL, SSFSTS_CTL_FDONE | SSFSTS_CTL_FCERR);
  RegWrite32(Mmio + OPMENU_LOW, ReadLittleEndian32(&Config->OpcodeMenu[0]));
  RegWrite32(Mmio + OPMENU_HIGH, ReadLittleEndian32(&Config->OpcodeMenu[4]));
  RegWrite16(Mmio + OPTYPE, Config->OpcodeTypes);
  RegWrite16(Mmio + PREOP,
             static_cast<UINT16>(Config->PrefixOpcodes[0] | Config->PrefixOpcodes[1] << 8));
}

VOID SpiProgramComponentCapabilities(const SpiControllerConfig *First,
                                     const SpiControllerConfig *Second) {
  // LVSCC/UVSCC as firmware left them (read at initialisation) stand where they
  // hold a valid erase opcode: firmware knows the installed chips. Only a register
  // without one is written, and only while the vendor component lock is open.
  const SpiControllerStateRecord &Firmware = SpiControllerState;
  if ((Firmware.LvsccValue & VSCC_VCL) != 0) {
    return;
  }
  UINT64 Mmio = SpiDecodingBar();
  if (!VsccHasValidErase(Firmware.LvsccValue)) {
    RegWrite32(Mmio + LVSCC, ComputeVsccValue(First));
  }
  if (!VsccHasValidErase(Firmware.UvsccValue)) {
    RegWrite32(Mmio + UVSCC, ComputeVsccValue(Second));
  }
}

UINT32 ComputeVsccValue(const SpiControllerConfig *Config) {
  // The erase opcode goes into the field of the size it erases, marked valid. The
  // controller has no cycle for other sizes (a 256-byte page erase): such a part
  // gets no valid erase opcode.
  UINT32 Opcode = Config->OpcodeMenu[OPMENU_SLOT_ERASE];
  UINT32 Value = 0;
  if (Config->EraseBlockSize == FLASH_SECTOR_4K) {
    Value = Opcode << VSCC_EO_4K_SHIFT | VSCC_EO_4K_VALID;
  } else if (Config->EraseBlockSize == FLASH_BLOCK_64K) {
    Value = Opcode << VSCC_EO_64K_SHIFT | VSCC_EO_64K_VALID;
  }
  if ((Config->Options & SPI_OPTION_WRITE_GRANULARITY_64) != 0) {
    Value |= VSCC_WG;
  }
  // The controller does not allow WSR and WEWS together. A part that requires the
  // status write before each program and erase keeps WSR (EWSR, then the write);
  // only for the other parts do the prefix opcodes choose the method.
  if ((Config->Options & SPI_OPTION_WRITE_STATUS_REQUIRED) != 0) {
    Value |= VSCC_WSR;
  } else if ((Config->Options & SPI_OPTION_FIXED_WRITE_STATUS_METHOD) == 0) {
    const UINT8 *Prefix = Config->PrefixOpcodes;
    if (Prefix[0] == OPCODE_WRITE_ENABLE || Prefix[1] == OPCODE_WRITE_ENABLE) {
      Value |= VSCC_WEWS;
    } else if (Prefix[0] == OPCODE_ENABLE_WRITE_STATUS || Prefix[1] == OPCODE_ENABLE_WRITE_STATUS) {
      Value |= VSCC_WSR;
    }
  }
  return Value;
}
