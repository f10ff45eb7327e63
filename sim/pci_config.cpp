// PCI configuration space of the functions the platform answers for on bus 0
// device 31: the LPC/eSPI bridge (0:31.0), the SPI controller (0:31.5) and the PMC
// (0:31.2), or what the generation has there instead. All are reached through
// ECAM; every other function reads all ones.
#include "sim/regs/pci_config.h"

#include "sim/regs/acpi_io.h"
#include "sim/regs/address_map.h"
#include "sim/regs/pmc_pci.h"
#include "sim/regs/spi_pci.h"
#include "sim/sim_internal.h"

namespace {

constexpr uint32_t ALL_ONES = 0xFFFFFFFF;

void NoteDecodingBase(SimPlatform *Platform) {
  const uint32_t Base = Platform->Pci.SpiBar0 & SPI_BAR0_BASE_MASK;
  if ((Platform->Pci.SpiCommand & PCI_COMMAND_MSE) == 0 || Base == 0) return;
  for (uint32_t I = 0; I < Platform->StaleBaseCount; I++) {
    if (Platform->StaleBases[I] == Base) return;
  }
  if (Platform->StaleBaseCount < SIM_MAX_STALE_BASES) {
    Platform->StaleBases[Platform->StaleBaseCount++] = Base;
  }
}

void WriteBiosControl(SimPlatform *Platform, uint32_t Value, uint32_t Mask) {
  SimPciState &Pci = Platform->Pci;
  const uint16_t Old = Pci.BiosControl;
  uint16_t New = Old;
  if ((Mask & 0xFF) != 0) {
    New = static_cast<uint16_t>((New & ~(BIOS_CONTROL_BIOSWE | BIOS_CONTROL_SRC_MASK)) |
                                (Value & (BIOS_CONTROL_BIOSWE | BIOS_CONTROL_SRC_MASK)));
    // LE is write-once: set, it stays set until a platform reset. It locks EISS.
    if ((Value & BIOS_CONTROL_LE) != 0) New |= BIOS_CONTROL_LE;
    if ((Old & BIOS_CONTROL_LE) == 0) {
      New = static_cast<uint16_t>((New & ~BIOS_CONTROL_EISS) | (Value & BIOS_CONTROL_EISS));
    }
  }
  if ((Mask & 0xFF00) != 0 && (Value & BIOS_CONTROL_SPI_SYNC_SS) != 0) {
    New &= static_cast<uint16_t>(~BIOS_CONTROL_SPI_SYNC_SS);
  }
  Pci.BiosControl = New;
  // With LE set, a 0->1 change of BIOSWE raises a synchronous SMI source.
  const bool Raised = (Old & BIOS_CONTROL_BIOSWE) == 0 && (New & BIOS_CONTROL_BIOSWE) != 0;
  if (Raised && (New & BIOS_CONTROL_LE) != 0) {
    Pci.BiosControl |= BIOS_CONTROL_SPI_SYNC_SS;
    SimDeliverPendingSmi(Platform);
  }
}

uint32_t IdValue(const SimPchFunction &Function) {
  return PCI_VENDOR_INTEL | static_cast<uint32_t>(Function.DeviceId) << 16;
}

// A function the application has no business with (the bridge, a SATA controller):
// its IDs, its class and BAR0; writes are not modelled.
uint32_t ReadOtherConfig(const SimPchFunction &Function, uint32_t Bar0, uint32_t Offset) {
  switch (Offset) {
    case PCI_ID:
      return IdValue(Function);
    case PCI_CLASS_REVISION:
      return Function.ClassRevision;
    case PCI_BAR0:
      return Bar0;
    default:
      return 0;
  }
}

uint32_t ReadSpiConfig(const SimPlatform *Platform, uint32_t Offset) {
  const SimPciState &Pci = Platform->Pci;
  const SimPchFunction &Spi = SimConfigPchModel(&Platform->Config)->Spi;
  switch (Offset) {
    case PCI_ID:
      return (Pci.BiosControl & BIOS_CONTROL_OSFH) != 0 ? ALL_ONES : IdValue(Spi);
    case PCI_COMMAND:
      return Pci.SpiCommand;
    case PCI_CLASS_REVISION:
      return Spi.ClassRevision;
    case PCI_BAR0:
      return Pci.SpiBar0;
    case SPI_BIOS_CONTROL:
      return Pci.BiosControl;
    default:
      return 0;
  }
}

void WriteSpiConfig(SimPlatform *Platform, uint32_t Offset, uint32_t Value, uint32_t Mask) {
  SimPciState &Pci = Platform->Pci;
  switch (Offset) {
    case PCI_COMMAND:
      Pci.SpiCommand =
          static_cast<uint16_t>(SimMerge(Pci.SpiCommand, Value, Mask & SPI_COMMAND_WRITABLE));
      NoteDecodingBase(Platform);
      return;
    case PCI_BAR0:
      Pci.SpiBar0 = SimMerge(Pci.SpiBar0, Value, Mask & SPI_BAR0_BASE_MASK);
      NoteDecodingBase(Platform);
      return;
    case SPI_BIOS_CONTROL:
      WriteBiosControl(Platform, Value, Mask);
      return;
    default:
      return;
  }
}

uint32_t ReadPmcConfig(const SimPlatform *Platform, uint32_t Offset) {
  const SimPciState &Pci = Platform->Pci;
  const SimPchModel *Model = SimConfigPchModel(&Platform->Config);
  if (Offset == Model->PmcAbase) return Pci.Abase | ABASE_IO_SPACE;
  switch (Offset) {
    case PCI_ID:
      return IdValue(Model->Pmc);
    case PCI_COMMAND:
      return Pci.PmcCommand;
    case PCI_CLASS_REVISION:
      return Model->Pmc.ClassRevision;
    case PMC_ACPI_CNT:
      return Pci.AcpiCnt;
    case PMC_GEN_PMCON_A:
      return Pci.GenPmconA;
    default:
      return 0;
  }
}

void WritePmcConfig(SimPlatform *Platform, uint32_t Offset, uint32_t Value, uint32_t Mask) {
  SimPciState &Pci = Platform->Pci;
  if (Offset == SimConfigPchModel(&Platform->Config)->PmcAbase) {
    Pci.Abase = SimMerge(Pci.Abase, Value, Mask & ABASE_BASE_MASK);
    return;
  }
  switch (Offset) {
    case PCI_COMMAND:
      Pci.PmcCommand =
          static_cast<uint16_t>(SimMerge(Pci.PmcCommand, Value, Mask & PMC_COMMAND_WRITABLE));
      return;
    case PMC_ACPI_CNT:
      Pci.AcpiCnt = SimMerge(Pci.AcpiCnt, Value, Mask & ACPI_CNT_WRITABLE);
      return;
    case PMC_GEN_PMCON_A:
      // SMI_LOCK is write-once.
      Pci.GenPmconA |= Value & Mask & GEN_PMCON_A_SMI_LOCK;
      return;
    default:
      return;
  }
}

}  // namespace

void SimPciPowerOn(SimPlatform *Platform) {
  SimPciState &Pci = Platform->Pci;
  const SimConfig &Config = Platform->Config;
  Pci.SpiCommand = PCI_COMMAND_MSE;
  Pci.SpiBar0 = Config.Bar0 & SPI_BAR0_BASE_MASK;
  Pci.BiosControl = BIOS_CONTROL_SRC_DEFAULT;
  if (!Config.NoBle) Pci.BiosControl |= BIOS_CONTROL_LE;
  if (Config.Eiss) Pci.BiosControl |= BIOS_CONTROL_EISS;
  if (Config.HideSpiIds) Pci.BiosControl |= BIOS_CONTROL_OSFH;
  Pci.PmcCommand = 0;
  Pci.Abase = ABASE_DEFAULT;
  Pci.AcpiCnt = ACPI_CNT_ACPI_EN;
  Pci.GenPmconA = Config.SmiLock ? GEN_PMCON_A_SMI_LOCK : 0;
  if (!Config.NoSpi && SimConfigPchModel(&Config)->SpiIsController) NoteDecodingBase(Platform);
}

uint32_t SimPciReadDword(SimPlatform *Platform, uint32_t Function, uint32_t Offset) {
  const SimConfig &Config = Platform->Config;
  const SimPchModel *Model = SimConfigPchModel(&Config);
  if (Function == PCH_FUNCTION_SPI && !Config.NoSpi) {
    if (Model->SpiIsController) return ReadSpiConfig(Platform, Offset);
    return ReadOtherConfig(Model->Spi, Config.Bar0, Offset);
  }
  if (Function == PCH_FUNCTION_PMC && !Config.NoPmc) {
    if (Model->PmcIsPmc) return ReadPmcConfig(Platform, Offset);
    return ReadOtherConfig(Model->Pmc, 0, Offset);
  }
  if (Function == PCH_FUNCTION_LPC && Model->Lpc.DeviceId != 0) {
    return ReadOtherConfig(Model->Lpc, 0, Offset);
  }
  return ALL_ONES;
}

void SimPciWriteDword(SimPlatform *Platform, uint32_t Function, uint32_t Offset, uint32_t Value,
                      uint32_t Mask) {
  const SimPchModel *Model = SimConfigPchModel(&Platform->Config);
  if (Function == PCH_FUNCTION_SPI && !Platform->Config.NoSpi && Model->SpiIsController) {
    WriteSpiConfig(Platform, Offset, Value, Mask);
  } else if (Function == PCH_FUNCTION_PMC && !Platform->Config.NoPmc && Model->PmcIsPmc) {
    WritePmcConfig(Platform, Offset, Value, Mask);
  }
}

bool SimSpiDecodes(const SimPlatform *Platform, uint64_t Address) {
  if (!Platform->SpiIsController) return false;
  const uint32_t Base = Platform->Pci.SpiBar0 & SPI_BAR0_BASE_MASK;
  if ((Platform->Pci.SpiCommand & PCI_COMMAND_MSE) == 0 || Base == 0) return false;
  return Address >= Base && Address < static_cast<uint64_t>(Base) + SPI_MMIO_SIZE;
}

bool SimBiosWriteEnabled(const SimPlatform *Platform) {
  return (Platform->Pci.BiosControl & BIOS_CONTROL_BIOSWE) != 0;
}

bool SimEissSet(const SimPlatform *Platform) {
  return (Platform->Pci.BiosControl & BIOS_CONTROL_EISS) != 0;
}

// A PMC hidden from PCI keeps decoding its ACPI I/O block where firmware put it.
bool SimAcpiDecodes(const SimPlatform *Platform, uint16_t Port) {
  if ((Platform->Pci.AcpiCnt & ACPI_CNT_ACPI_EN) == 0) return false;
  const uint32_t Base = Platform->Pci.Abase & ABASE_BASE_MASK;
  return Base != 0 && Port >= Base && Port < Base + ACPI_IO_SIZE;
}

uint16_t SimAcpiBase(const SimPlatform *Platform) {
  return static_cast<uint16_t>(Platform->Pci.Abase & ABASE_BASE_MASK);
}

// The SMM handler firmware installs for the BIOS-write SMI: it clears BIOSWE and
// the SMI status again. It runs when the source is enabled (LE, TCO_EN) and SMIs
// are globally enabled (GBL_SMI_EN); otherwise the status waits until they are.
void SimDeliverPendingSmi(SimPlatform *Platform) {
  SimPciState &Pci = Platform->Pci;
  if ((Pci.BiosControl & BIOS_CONTROL_SPI_SYNC_SS) == 0) return;
  Platform->Pmc.SmiSts |= SMI_STS_TCO_STS;
  const uint32_t SmiEn = Platform->Pmc.SmiEn;
  if ((Pci.BiosControl & BIOS_CONTROL_LE) == 0 || (SmiEn & SMI_EN_TCO_EN) == 0 ||
      (SmiEn & SMI_EN_GBL_SMI_EN) == 0) {
    return;
  }
  Pci.BiosControl &= static_cast<uint16_t>(~(BIOS_CONTROL_BIOSWE | BIOS_CONTROL_SPI_SYNC_SS));
  Platform->Pmc.SmiSts &= ~SMI_STS_TCO_STS;
}
