// Every touch of hardware goes through these primitives. The back end is chosen
// at link time: pchflash.efi links the direct one (volatile MMIO, in/out), host
// builds link the simulated platform's.
#pragma once

#include "uefi/uefi.h"

// Where PCI configuration space is memory-mapped when the firmware's ACPI tables
// do not say otherwise: the base the 100- to 400-series PCH decode by default.
constexpr UINT64 PCIE_ECAM_BASE = 0xE0000000;

// Implemented by the back end (direct hardware or the simulated platform).
UINT8 PortWrite8(UINT16 Port, UINT8 Value);
UINT32 PortRead32(UINT16 Port);
UINT32 PortWrite32(UINT16 Port, UINT32 Value);
UINT8 MmioRead8(UINT64 Address);
UINT16 MmioRead16(UINT64 Address);
UINT32 MmioRead32(UINT64 Address);
VOID MmioWrite8(UINT64 Address, UINT8 Value);
VOID MmioWrite16(UINT64 Address, UINT16 Value);
VOID MmioWrite32(UINT64 Address, UINT32 Value);
// An ordering point for the compiler only; the simulated back end records it.
VOID RegisterBarrier();

// Memory-mapped register access: exactly one access of the width, bracketed by
// RegisterBarrier calls; read-modify-write is one read and one write.
UINT8 RegRead8(UINT64 Address);
UINT8 RegWrite8(UINT64 Address, UINT8 Value);
UINT16 RegRead16(UINT64 Address);
UINT16 RegWrite16(UINT64 Address, UINT16 Value);
UINT32 RegRead32(UINT64 Address);
UINT32 RegWrite32(UINT64 Address, UINT32 Value);
UINT8 RegOr8(UINT64 Address, UINT8 OrMask);
UINT8 RegAnd8(UINT64 Address, UINT8 AndMask);
UINT8 RegAndOr8(UINT64 Address, UINT8 AndMask, UINT8 OrMask);
UINT16 RegAndOr16(UINT64 Address, UINT16 AndMask, UINT16 OrMask);
UINT32 RegOr32(UINT64 Address, UINT32 OrMask);
UINT32 RegAndOr32(UINT64 Address, UINT32 AndMask, UINT32 OrMask);

// The ECAM base every configuration access uses from now on (PCIE_ECAM_BASE until
// set): where the firmware put configuration space.
VOID PcieSetEcamBase(UINT64 Base);
UINT64 PcieEcamBase();
UINT64 PcieConfigAddress(UINT32 Bus, UINT32 Device, UINT32 Function);
EFI_STATUS GetAcpiIoBase(UINT16 *AcpiIoBase);
// The same from the PMC's ABASE register at AbaseRegister, which moved with the
// generations: EFI_UNSUPPORTED when 0:31.2 does not answer (absent or hidden).
EFI_STATUS GetPmcAcpiIoBase(UINT32 AbaseRegister, UINT16 *AcpiIoBase);
VOID PmTimerDelay(UINT16 AcpiIoBase, UINT64 Microseconds);
// Judges afresh whether the PM timer runs, for an ACPI base learnt anew.
VOID PmTimerReset();
