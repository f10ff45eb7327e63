// Which Intel PCH the application runs on, told from the IDs of its functions on
// bus 0 device 31, and where firmware put what the flash layer needs before any
// of it is touched: PCI configuration space and the ACPI I/O base.
#pragma once

#include "uefi/uefi.h"

constexpr UINT32 PCH_MAX_SPI_DEVICE_IDS = 4;

// One generation: how its SPI controller and its LPC/eSPI bridge identify
// themselves, where its PMC keeps ABASE, and how many regions its controller has.
struct PchGeneration {
  const CHAR8 *Name;  // short name, as the simulator's --pch gives it
  const CHAR8 *Family;
  UINT16 SpiDeviceIds[PCH_MAX_SPI_DEVICE_IDS];  // 0:31.5; a 0 ends the list
  UINT16 LpcDeviceFirst;  // 0:31.0 device IDs naming this PCH; both 0 when none is known
  UINT16 LpcDeviceLast;
  UINT32 PmcAbase;     // configuration offset of the PMC's ABASE register
  UINT32 RegionCount;  // FREG registers: 6, or 12 on the server PCH
};

extern const PchGeneration PchGenerationTable[];
extern const UINT32 PchGenerationCount;

// What the identification found, or why the platform is refused.
enum PchVerdict : UINT32 {
  PchSupported,
  PchNoController,           // nothing usable answers at 0:31.5 and 0:31.0 names no PCH
  PchUnsupportedController,  // something else answers at 0:31.5
  PchAcpiBaseUnknown,        // neither the FADT nor the PMC gives the ACPI I/O base
  PchAcpiBaseAmbiguous,      // the FADT and the PMC give different bases
};

struct PchPlatformRecord {
  BOOLEAN Identified;  // PchIdentifyPlatform ran and found a supported platform
  const PchGeneration *Generation;
  UINT64 EcamBase;
  UINT16 SpiVendorId;  // as 0:31.5 answered
  UINT16 SpiDeviceId;
  UINT16 FadtAcpiBase;  // 0: the FADT gives none
  UINT16 PmcAcpiBase;   // 0: the PMC is hidden or absent
  UINT16 AcpiIoBase;    // the one in use
};
extern PchPlatformRecord PchPlatform;

// Finds PCI configuration space (the MCFG, else the default base), reads the IDs
// of 0:31.5 and 0:31.0 and the ACPI I/O base from the FADT and the PMC. Nothing
// but configuration reads reaches the hardware, so a refused platform is left
// exactly as it was.
PchVerdict PchIdentifyPlatform();
// Forgets an earlier identification, for a new run.
VOID PchForgetPlatform();
// FREG registers the controller has: the generation's, or 6 before identification.
UINT32 PchRegionCount();
