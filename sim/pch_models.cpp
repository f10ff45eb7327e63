// The PCH generations the simulator sets up: what answers on bus 0 device 31 and
// where PCI configuration space decodes. Two platforms the application must refuse
// close the table: the 8-series, where 0:31.5 and 0:31.2 are SATA controllers,
// and Apollo Lake, whose SPI controller sits at 0:13.2 with nothing at 0:31.5.
#include "sim/regs/address_map.h"
#include "sim/regs/pmc_pci.h"
#include "sim/regs/spi_pci.h"
#include "sim/sim_internal.h"

namespace {

constexpr uint32_t LPC_CLASS = 0x06010031;        // ISA bridge
constexpr uint32_t SATA_IDE_CLASS = 0x01018F05;   // IDE, both channels native
constexpr uint32_t SATA_AHCI_CLASS = 0x01060105;  // AHCI
constexpr uint64_t ECAM_500_SERIES = 0xC0000000;
constexpr uint64_t ECAM_SERVER = 0x80000000;
constexpr uint32_t SATA_BAR0 = 0x0000F0B1;  // an I/O BAR: command block at 0xF0B0

constexpr SimPchModel Pch(const char *Name, const char *Description, uint16_t Lpc, uint16_t Spi,
                          uint16_t Pmc, bool Hidden, uint32_t Abase, uint64_t Ecam,
                          uint32_t Regions) {
  return SimPchModel{Name,
                     Description,
                     {Lpc, LPC_CLASS},
                     {Spi, SPI_CLASS_VALUE},
                     true,
                     {Pmc, PMC_CLASS_VALUE},
                     true,
                     Hidden,
                     Abase,
                     Ecam,
                     Regions,
                     0};
}

constexpr SimPchModel kModels[] = {
    Pch("spt", "100-series (Sunrise Point)", 0xA145, 0xA124, 0xA121, false, PMC_ABASE, ECAM_BASE,
        6),
    Pch("kbp", "200-series (Union Point)", 0xA2C5, 0xA2A4, 0xA2A1, false, PMC_ABASE, ECAM_BASE, 6),
    Pch("cnp", "300-series (Cannon Point)", 0xA305, 0xA324, 0xA321, true, PMC_ABASE_300, ECAM_BASE,
        6),
    Pch("cmp", "400-series (Comet Point)", 0x0685, 0x02A4, 0x02A1, true, PMC_ABASE_300, ECAM_BASE,
        6),
    Pch("icp", "495-series (Ice Lake)", 0x3482, 0x34A4, 0x34A1, true, PMC_ABASE_300, ECAM_BASE, 6),
    Pch("tgp", "500-series (Tiger Point)", 0x4385, 0xA0A4, 0xA0A1, true, PMC_ABASE_300,
        ECAM_500_SERIES, 6),
    Pch("adp", "600-series (Alder Point)", 0x7A84, 0x7AA4, 0x7AA1, true, PMC_ABASE_300,
        ECAM_500_SERIES, 6),
    Pch("rpl", "700-series (Raptor Point)", 0x7A04, 0x7A24, 0x7A21, true, PMC_ABASE_300,
        ECAM_500_SERIES, 6),
    Pch("mtl", "800-series (Meteor Lake)", 0x7F04, 0x7E23, 0x7E21, true, PMC_ABASE_300,
        ECAM_500_SERIES, 6),
    Pch("lbg", "C620 (Lewisburg)", 0xA1C1, 0xA1A4, 0xA1A1, false, PMC_ABASE, ECAM_SERVER,
        SIM_MAX_REGIONS),
    SimPchModel{"lpt",
                "8-series (Lynx Point): SATA at 0:31.5 and 0:31.2",
                {0x8C4E, LPC_CLASS},
                {0x8C08, SATA_IDE_CLASS},
                false,
                {0x8C02, SATA_AHCI_CLASS},
                false,
                false,
                PMC_ABASE,
                ECAM_BASE,
                6,
                SATA_BAR0},
    SimPchModel{"apl",
                "Apollo Lake: nothing at 0:31.5 or 0:31.2",
                {0x5AE8, LPC_CLASS},
                {0, 0},
                false,
                {0, 0},
                false,
                false,
                PMC_ABASE_300,
                ECAM_BASE,
                SIM_MAX_REGIONS,
                0},
};
constexpr uint32_t kModelCount = sizeof(kModels) / sizeof(kModels[0]);

char LowerAscii(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

bool SameIgnoringCase(const char *A, const char *B) {
  while (*A != '\0' && LowerAscii(*A) == LowerAscii(*B)) {
    A++;
    B++;
  }
  return *A == '\0' && *B == '\0';
}

}  // namespace

uint32_t SimPchCount() { return kModelCount; }

const SimPchModel *SimPchAt(uint32_t Index) {
  return Index < kModelCount ? &kModels[Index] : nullptr;
}

int32_t SimFindPchByName(const char *Name) {
  for (uint32_t I = 0; I < kModelCount; I++) {
    if (SameIgnoringCase(kModels[I].Name, Name)) return static_cast<int32_t>(I);
  }
  return -1;
}

const SimPchModel *SimConfigPchModel(const SimConfig *Config) {
  const SimPchModel *Model = Config->Pch >= 0 ? SimPchAt(uint32_t(Config->Pch)) : nullptr;
  return Model != nullptr ? Model : &kModels[0];
}

void SimConfigPch(SimConfig *Config, int32_t Pch) {
  Config->Pch = Pch;
  const SimPchModel *Model = SimConfigPchModel(Config);
  Config->EcamBase = Model->EcamBase;
  Config->NoPmc = Model->PmcHidden || Model->Pmc.DeviceId == 0;
  Config->NoSpi = Model->Spi.DeviceId == 0;
  Config->Bar0 = Model->SpiIsController ? SPI_BAR0_DEFAULT : Model->OtherBar0;
}
