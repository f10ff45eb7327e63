// Register access on top of the back end's single accesses, the ECAM address of a
// PCI function, the ACPI I/O base and the PM-timer delay.
#include "flash/hw_access.h"

#include "base/firmware.h"
#include "flash/regs/acpi_io.h"
#include "flash/regs/pmc_pci.h"

// Every memory-mapped access is exactly one access of its width with an ordering
// point on each side, so the compiler can neither merge nor move register accesses.
UINT8 RegRead8(UINT64 Address) {
  RegisterBarrier();
  UINT8 Value = MmioRead8(Address);
  RegisterBarrier();
  return Value;
}

UINT8 RegWrite8(UINT64 Address, UINT8 Value) {
  RegisterBarrier();
  MmioWrite8(Address, Value);
  RegisterBarrier();
  return Value;
}

UINT16 RegRead16(UINT64 Address) {
  RegisterBarrier();
  UINT16 Value = MmioRead16(Address);
  RegisterBarrier();
  return Value;
}

UINT16 RegWrite16(UINT64 Address, UINT16 Value) {
  RegisterBarrier();
  MmioWrite16(Address, Value);
  RegisterBarrier();
  return Value;
}

UINT32 RegRead32(UINT64 Address) {
  RegisterBarrier();
  UINT32 Value = MmioRead32(Address);
  RegisterBarrier();
  return Value;
}

UINT32 RegWrite32(UINT64 Address, UINT32 Value) {
  RegisterBarrier();
  MmioWrite32(Address, Value);
  RegisterBarrier();
  return Value;
}

// Read-modify-write: one read and one write, the write even when nothing changes
// (write-one-to-clear status bits depend on it). Not atomic.
UINT8 RegOr8(UINT64 Address, UINT8 OrMask) {
  return RegWrite8(Address, static_cast<UINT8>(RegRead8(Address) | OrMask));
}

UINT8 RegAnd8(UINT64 Address, UINT8 AndMask) {
  return RegWrite8(Address, static_cast<UINT8>(RegRead8(Address) & AndMask));
}

UINT8 RegAndOr8(UINT64 Address, UINT8 AndMask, UINT8 OrMask) {
  return RegWrite8(Address, static_cast<UINT8>((RegRead8(Address) & AndMask) | OrMask));
}

UINT16 RegAndOr16(UINT64 Address, UINT16 AndMask, UINT16 OrMask) {
  return RegWrite16(Address, static_cast<UINT16>((RegRead16(Address) & AndMask) | OrMask));
}

UINT32 RegOr32(UINT64 Address, UINT32 OrMask) {
  return RegWrite32(Address, RegRead32(Address) | OrMask);
}

UINT32 RegAndOr32(UINT64 Address, UINT32 AndMask, UINT32 OrMask) {
  return RegWrite32(Address, (RegRead32(Address) & AndMask) | OrMask);
}

namespace {

UINT64 EcamBase = PCIE_ECAM_BASE;

}  // namespace

VOID PcieSetEcamBase(UINT64 Base) { EcamBase = Base; }

UINT64 PcieEcamBase() { return EcamBase; }

UINT64 PcieConfigAddress(UINT32 Bus, UINT32 Device, UINT32 Function) {
  // Each term in 32 bits, as the ECAM layout defines them; no range test.
  return EcamBase + static_cast<UINT64>(Bus << 20) + static_cast<UINT64>(Device << 15) +
         static_cast<UINT64>(Function << 12);
}

namespace {

// A running PM timer advances every 279 ns, and no port read is that fast: a
// reading that stays the same this many times in a row comes from a timer that
// does not run (ACPI_TIM_DIS set, or ACPI decoding off and the port all ones).
constexpr UINT32 PM_TIMER_STOPPED_READS = 1000;

// Judged afresh for every ACPI base GetAcpiIoBase learns.
BOOLEAN PmTimerStopped = FALSE;

UINT32 ReadPmTimer(UINT16 Port) { return PortRead32(Port) & ACPI_PM1_TMR_MASK; }

// The boot services' own delay, for a platform whose PM timer does not run.
VOID StallDelay(UINT64 Microseconds) {
  if (gFirmware.BootServices != nullptr && gFirmware.BootServices->Stall != nullptr) {
    gFirmware.BootServices->Stall(static_cast<UINTN>(Microseconds));
  }
}

}  // namespace

EFI_STATUS GetAcpiIoBase(UINT16 *AcpiIoBase) { return GetPmcAcpiIoBase(PMC_ABASE, AcpiIoBase); }

EFI_STATUS GetPmcAcpiIoBase(UINT32 AbaseRegister, UINT16 *AcpiIoBase) {
  if (AcpiIoBase == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINT64 Pmc = PcieConfigAddress(PMC_PCI_BUS, PMC_PCI_DEVICE, PMC_PCI_FUNCTION);
  if (RegRead16(Pmc + PMC_VENDOR_ID) == PMC_VENDOR_ID_ABSENT) {
    return EFI_UNSUPPORTED;  // no device answers at 0:31.2
  }
  *AcpiIoBase = static_cast<UINT16>(RegRead16(Pmc + AbaseRegister) & PMC_ABASE_MASK);
  PmTimerStopped = FALSE;
  return EFI_SUCCESS;
}

VOID PmTimerReset() { PmTimerStopped = FALSE; }

VOID PmTimerDelay(UINT16 AcpiIoBase, UINT64 Microseconds) {
  if (Microseconds == 0) {
    return;
  }
  if (PmTimerStopped) {
    StallDelay(Microseconds);
    return;
  }
  UINT16 Port = static_cast<UINT16>(AcpiIoBase + ACPI_PM1_TMR);
  UINT64 Start = ReadPmTimer(Port);
  UINT64 Ticks = (Microseconds * ACPI_PM1_TMR_TICKS_PER_100US) / 100;
  UINT64 End = Start + Ticks + 1;
  // The counter is 24 bits wide: count the roll-overs the wait has to see before
  // the remainder is compared.
  UINT64 RollOversLeft = End >> ACPI_PM1_TMR_WIDTH;
  UINT64 Target = End & ACPI_PM1_TMR_MASK;
  UINT64 Last = Start;
  UINT32 Unchanged = 0;
  for (;;) {
    if (RollOversLeft == 0 && Last >= Target) {
      return;
    }
    UINT64 Now = ReadPmTimer(Port);
    if (Now == Last && ++Unchanged >= PM_TIMER_STOPPED_READS) {
      PmTimerStopped = TRUE;
      StallDelay(Microseconds);
      return;
    }
    if (Now != Last) {
      Unchanged = 0;
    }
    if (Now < Last) {
      if (RollOversLeft == 0) {
        return;  // the target lay between the last reading and the roll-over
      }
      RollOversLeft--;
    }
    Last = Now;
  }
}
