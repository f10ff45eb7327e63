// PCI configuration space of the two functions the platform answers for: the SPI
// controller (0:31.5) and the PMC (0:31.2). Both are reached through ECAM; every
// other function reads all ones.
#include "sim/regs/pci_config.h"

#include "sim/regs/acpi_io.h"
#include "sim/regs/address_map.h"
#include "sim/regs/pmc_pci.h"
#include "sim/regs/spi_pci.h"
#include "sim/sim_internal.h"

namespace {

constexpr uint32_t ALL_ONES = 0xFFFFFFFF;

uint32_t Merge(uint32_t Old, uint32_t Value, uint32_t Mask) {
  return (Old & ~Mask) | (Value & Mask);
}

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

uint32_t ReadSpiConfig(const SimPlatform *Platform, uint32_t Offset) {
  const SimPciState &Pci = Platform->Pci;
  switch (Offset) {
    case PCI_ID:
      return SPI_ID_VALUE;
    case PCI_COMMAND:
      return Pci.SpiCommand;
    case PCI_CLASS_REVISION:
      return SPI_CLASS_VALUE;
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
          static_cast<uint16_t>(Merge(Pci.SpiCommand, Value, Mask & SPI_COMMAND_WRITABLE));
      NoteDecodingBase(Platform);
      return;
    case PCI_BAR0:
      Pci.SpiBar0 = Merge(Pci.SpiBar0, Value, Mask & SPI_BAR0_BASE_MASK);
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
  switch (Offset) {
    case PCI_ID:
      return PMC_ID_VALUE;
    case PCI_COMMAND:
      return Pci.PmcCommand;
    case PCI_CLASS_REVISION:
      return PMC_CLASS_VALUE;
    case PMC_ABASE:
      return Pci.Abase | ABASE_IO_SPACE;
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
  switch (Offset) {
    case PCI_COMMAND:
      Pci.PmcCommand =
          static_cast<uint16_t>(Merge(Pci.PmcCommand, Value, Mask & PMC_COMMAND_WRITABLE));
      return;
    case PMC_ABASE:
      Pci.Abase = Merge(Pci.Abase, Value, Mask & ABASE_BASE_MASK);
      return;
    case PMC_ACPI_CNT:
      Pci.AcpiCnt = Merge(Pci.AcpiCnt, Value, Mask & ACPI_CNT_WRITABLE);
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
  Pci.PmcCommand = 0;
  Pci.Abase = ABASE_DEFAULT;
  Pci.AcpiCnt = ACPI_CNT_ACPI_EN;
  Pci.GenPmconA = Config.SmiLock ? GEN_PMCON_A_SMI_LOCK : 0;
  if (!Config.NoSpi) NoteDecodingBase(Platform);
}

uint32_t SimPciReadDword(SimPlatform *Platform, uint32_t Function, uint32_t Offset) {
  if (Function == PCH_FUNCTION_SPI && !Platform->Config.NoSpi)
    return ReadSpiConfig(Platform, Offset);
  if (Function == PCH_FUNCTION_PMC && !Platform->Config.NoPmc)
    return ReadPmcConfig(Platform, Offset);
  return ALL_ONES;
}

void SimPciWriteDword(SimPlatform *Platform, uint32_t Function, uint32_t Offset, uint32_t Value,
                      uint32_t Mask) {
  if (Function == PCH_FUNCTION_SPI && !Platform->Config.NoSpi) {
    WriteSpiConfig(Platform, Offset, Value, Mask);
  } else if (Function == PCH_FUNCTION_PMC && !Platform->Config.NoPmc) {
    WritePmcConfig(Platform, Offset, Value, Mask);
  }
}

bool SimSpiDecodes(const SimPlatform *Platform, uint64_t Address) {
  if (Platform->Config.NoSpi) return false;
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

bool SimAcpiDecodes(const SimPlatform *Platform, uint16_t Port) {
  if (Platform->Config.NoPmc || (Platform->Pci.AcpiCnt & ACPI_CNT_ACPI_EN) == 0) return false;
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
