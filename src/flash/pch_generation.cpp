#include "flash/pch_generation.h"

#include "base/acpi_tables.h"
#include "flash/hw_access.h"
#include "flash/regs/acpi_io.h"
#include "flash/regs/pci_header.h"
#include "flash/regs/pmc_pci.h"
#include "flash/regs/spi_mmio.h"
#include "flash/regs/spi_pci.h"

// One row per generation, oldest first. From the 300-series on firmware hides the
// PMC and its ABASE register moved to 0x20; the server PCH has twelve regions.
const PchGeneration PchGenerationTable[] = {
    {"spt", "100-series (Sunrise Point)", {0xA124, 0x9D24}, 0xA143, 0xA155, PMC_ABASE, 6},
    {"kbp", "200-series (Union Point)", {0xA2A4, 0xA3A4}, 0xA2C4, 0xA2D2, PMC_ABASE, 6},
    {"cnp", "300-series (Cannon Point)", {0xA324, 0x9DA4}, 0xA303, 0xA30E, PMC_ABASE_300_SERIES, 6},
    {"cmp", "400-series (Comet Point)", {0x02A4, 0x06A4}, 0x0684, 0x069A, PMC_ABASE_300_SERIES, 6},
    {"icp", "495-series (Ice Lake)", {0x34A4}, 0, 0, PMC_ABASE_300_SERIES, 6},
    {"tgp", "500-series (Tiger Point)", {0xA0A4, 0x43A4}, 0x4384, 0x438F, PMC_ABASE_300_SERIES, 6},
    {"adp",
     "600-series (Alder Point)",
     {0x7AA4, 0x51A4, 0x54A4},
     0x7A80,
     0x7A9F,
     PMC_ABASE_300_SERIES,
     6},
    {"rpl", "700-series (Raptor Point)", {0x7A24}, 0x7A00, 0x7A1F, PMC_ABASE_300_SERIES, 6},
    {"mtl",
     "800-series (Meteor Lake)",
     {0x7E23, 0x7723, 0xAE23, 0x7F24},
     0x7F00,
     0x7F1F,
     PMC_ABASE_300_SERIES,
     6},
    {"lbg", "C620 (Lewisburg)", {0xA1A4, 0xA224}, 0, 0, PMC_ABASE, FREG_MAX_COUNT},
};
const UINT32 PchGenerationCount = sizeof(PchGenerationTable) / sizeof(PchGenerationTable[0]);

PchPlatformRecord PchPlatform = {};

namespace {

constexpr UINT32 DEFAULT_REGION_COUNT = 6;

const PchGeneration *GenerationOfSpiDevice(UINT16 DeviceId) {
  for (UINT32 Row = 0; Row < PchGenerationCount; Row++) {
    for (UINT32 Id = 0; Id < PCH_MAX_SPI_DEVICE_IDS; Id++) {
      UINT16 Known = PchGenerationTable[Row].SpiDeviceIds[Id];
      if (Known == 0) {
        break;
      }
      if (Known == DeviceId) {
        return &PchGenerationTable[Row];
      }
    }
  }
  return nullptr;
}

const PchGeneration *GenerationOfLpcDevice(UINT16 DeviceId) {
  for (UINT32 Row = 0; Row < PchGenerationCount; Row++) {
    const PchGeneration &Generation = PchGenerationTable[Row];
    if (Generation.LpcDeviceFirst != 0 && DeviceId >= Generation.LpcDeviceFirst &&
        DeviceId <= Generation.LpcDeviceLast) {
      return &Generation;
    }
  }
  return nullptr;
}

// The generation the IDs name: 0:31.5's own device ID; where firmware hides it
// (BIOS_CONTROL.OSFH), the LPC/eSPI bridge's.
const PchGeneration *IdentifyGeneration() {
  if (PchPlatform.SpiVendorId == PCI_VENDOR_ID_INTEL) {
    return GenerationOfSpiDevice(PchPlatform.SpiDeviceId);
  }
  if (PchPlatform.SpiVendorId != PCI_ID_ABSENT || PchPlatform.SpiDeviceId != PCI_ID_ABSENT) {
    return nullptr;
  }
  UINT64 Lpc = PcieConfigAddress(LPC_PCI_BUS, LPC_PCI_DEVICE, LPC_PCI_FUNCTION);
  UINT32 LpcId = RegRead32(Lpc + PCI_ID);
  if (static_cast<UINT16>(LpcId) != PCI_VENDOR_ID_INTEL) {
    return nullptr;
  }
  return GenerationOfLpcDevice(static_cast<UINT16>(LpcId >> PCI_DEVICE_ID_SHIFT));
}

// The ACPI I/O base the FADT gives: its PM1a event block, which the PCH decodes at
// ABASE + 0, or failing that its PM timer block less the timer's offset.
UINT16 FadtAcpiBase() {
  UINT16 Event = 0;
  UINT16 Timer = 0;
  if (AcpiFindPmBlocks(&Event, &Timer) != EFI_SUCCESS) {
    return 0;
  }
  if (Event != 0) {
    return Event;
  }
  return Timer > ACPI_PM1_TMR ? static_cast<UINT16>(Timer - ACPI_PM1_TMR) : 0;
}

}  // namespace

VOID PchForgetPlatform() {
  PchPlatform = {};
  PcieSetEcamBase(PCIE_ECAM_BASE);
}

UINT32 PchRegionCount() {
  return PchPlatform.Identified ? PchPlatform.Generation->RegionCount : DEFAULT_REGION_COUNT;
}

PchVerdict PchIdentifyPlatform() {
  PchForgetPlatform();
  UINT64 Ecam = PCIE_ECAM_BASE;
  if (AcpiFindEcamBase(&Ecam) != EFI_SUCCESS) {
    Ecam = PCIE_ECAM_BASE;
  }
  PchPlatform.EcamBase = Ecam;
  PcieSetEcamBase(Ecam);

  UINT64 Spi = PcieConfigAddress(SPI_PCI_BUS, SPI_PCI_DEVICE, SPI_PCI_FUNCTION);
  UINT32 SpiId = RegRead32(Spi + PCI_ID);
  PchPlatform.SpiVendorId = static_cast<UINT16>(SpiId);
  PchPlatform.SpiDeviceId = static_cast<UINT16>(SpiId >> PCI_DEVICE_ID_SHIFT);
  const PchGeneration *Generation = IdentifyGeneration();
  if (Generation == nullptr) {
    BOOLEAN NothingAnswers = PchPlatform.SpiVendorId == PCI_ID_ABSENT;
    return NothingAnswers ? PchNoController : PchUnsupportedController;
  }
  // The IDs may be hidden; the class code and BAR0 still answer. A BAR0 that is
  // an I/O BAR belongs to some other function.
  UINT32 ClassRevision = RegRead32(Spi + PCI_CLASS_REVISION);
  if (ClassRevision == PCI_REGISTER_ABSENT) {
    return PchNoController;  // nothing answers at 0:31.5 at all
  }
  UINT32 Bar0 = RegRead32(Spi + SPI_BAR0);
  if ((ClassRevision >> PCI_CLASS_CODE_SHIFT) != SPI_CLASS_CODE || (Bar0 & PCI_BAR_IO_SPACE) != 0) {
    return PchUnsupportedController;
  }
  // The registers are used where firmware put them: a BAR0 without a base, or with
  // memory decoding off, leaves nothing to use.
  UINT8 Command = RegRead8(Spi + PCI_COMMAND);
  if ((Bar0 & SPI_BAR0_MASK) == 0 || (Bar0 & SPI_BAR0_MASK) == SPI_BAR0_MASK ||
      (Command & PCI_COMMAND_MSE) == 0) {
    return PchNoController;
  }
  PchPlatform.Generation = Generation;

  PchPlatform.FadtAcpiBase = FadtAcpiBase();
  UINT16 Pmc = 0;
  if (GetPmcAcpiIoBase(Generation->PmcAbase, &Pmc) == EFI_SUCCESS) {
    PchPlatform.PmcAcpiBase = Pmc;
  }
  UINT16 Fadt = PchPlatform.FadtAcpiBase;
  if (Fadt != 0 && Pmc != 0 && Fadt != Pmc) {
    return PchAcpiBaseAmbiguous;
  }
  PchPlatform.AcpiIoBase = Fadt != 0 ? Fadt : Pmc;
  if (PchPlatform.AcpiIoBase == 0) {
    return PchAcpiBaseUnknown;
  }
  PchPlatform.Identified = TRUE;
  PmTimerReset();
  return PchSupported;
}
