// The PMC's ACPI I/O block at ABASE (PM1 registers, the PM timer, SMI_EN and
// SMI_STS) and the reset-control register RST_CNT at port 0xCF9.
#include "sim/regs/acpi_io.h"
#include "sim/regs/pmc_pci.h"
#include "sim/regs/rst_cnt.h"
#include "sim/sim_internal.h"

namespace {

constexpr uint32_t SMI_EN_DEFAULT = SMI_EN_GBL_SMI_EN | SMI_EN_APMC_EN | SMI_EN_TCO_EN;

void WriteSmiEn(SimPlatform *Platform, uint32_t Value, uint32_t Mask) {
  uint32_t New = SimMerge(Platform->Pmc.SmiEn, Value, Mask);
  // SMI_LOCK keeps GBL_SMI_EN set; firmware locks TCO_EN (TCO_LOCK) at the same time.
  if ((Platform->Pci.GenPmconA & GEN_PMCON_A_SMI_LOCK) != 0) {
    New |= Platform->Pmc.SmiEn & (SMI_EN_GBL_SMI_EN | SMI_EN_TCO_EN);
  }
  Platform->Pmc.SmiEn = New;
  SimDeliverPendingSmi(Platform);
}

}  // namespace

void SimPmcPowerOn(SimPlatform *Platform) {
  SimPmcState &Pmc = Platform->Pmc;
  Pmc.Pm1Sts = 0;
  Pmc.Pm1En = 0;
  Pmc.Pm1Cnt = 0;
  Pmc.SmiEn = SMI_EN_DEFAULT;
  Pmc.SmiSts = 0;
  Pmc.RstCnt = 0;
}

uint32_t SimAcpiReadDword(SimPlatform *Platform, uint32_t Offset) {
  const SimPmcState &Pmc = Platform->Pmc;
  switch (Offset) {
    case ACPI_PM1_STS_EN:
      return Pmc.Pm1Sts | (static_cast<uint32_t>(Pmc.Pm1En) << 16);
    case ACPI_PM1_CNT:
      return Pmc.Pm1Cnt;
    case ACPI_PM1_TMR:
      if (Platform->TimerReadBefore) SimWaitOnTimer(Platform);
      Platform->TimerRead = true;
      return SimPmTimerValue(Platform);
    case ACPI_SMI_EN:
      return Pmc.SmiEn;
    case ACPI_SMI_STS:
      return Pmc.SmiSts;
    default:
      return 0;
  }
}

void SimAcpiWriteDword(SimPlatform *Platform, uint32_t Offset, uint32_t Value, uint32_t Mask) {
  SimPmcState &Pmc = Platform->Pmc;
  switch (Offset) {
    case ACPI_PM1_STS_EN:
      Pmc.Pm1Sts &= static_cast<uint16_t>(~(Value & Mask & 0xFFFF));  // write one to clear
      Pmc.Pm1En = static_cast<uint16_t>(SimMerge(Pmc.Pm1En, Value >> 16, Mask >> 16));
      return;
    case ACPI_PM1_CNT:
      Pmc.Pm1Cnt = SimMerge(Pmc.Pm1Cnt, Value, Mask);
      return;
    case ACPI_SMI_EN:
      WriteSmiEn(Platform, Value, Mask);
      return;
    case ACPI_SMI_STS:
      Pmc.SmiSts &= ~(Value & Mask);
      return;
    default:  // PM1_TMR and the rest are read-only here
      return;
  }
}

// A 0->1 change of RST_CPU starts the reset SYS_RST and FULL_RST select. A soft
// reset (SYS_RST clear) only re-initialises the processor and is not modelled.
void SimWriteRstCnt(SimPlatform *Platform, uint8_t Value) {
  const uint8_t Old = Platform->Pmc.RstCnt;
  Platform->Pmc.RstCnt = Value & RST_CNT_WRITABLE;
  if ((Old & RST_CNT_RST_CPU) != 0 || (Value & RST_CNT_RST_CPU) == 0) return;
  if ((Value & RST_CNT_SYS_RST) == 0) return;
  Platform->Reset = (Value & RST_CNT_FULL_RST) != 0 ? SimResetFull : SimResetHard;
}
