#include "app/flash_bringup.h"

#include "base/acpi_tables.h"
#include "flash/hw_access.h"
#include "flash/part_table.h"
#include "flash/spi_hwseq.h"
#include "shell/console.h"

BOOLEAN BringUpFlashLayer(EFI_STATUS *Status) {
  // Every hardware location is fixed to where this chipset family decodes it.
  // Where firmware mapped PCI configuration space elsewhere, the fixed addresses
  // reach some other device: refuse before the first access.
  UINT64 EcamBase = 0;
  if (AcpiFindEcamBase(&EcamBase) == EFI_SUCCESS && EcamBase != PCIE_ECAM_BASE) {
    ConsolePrint("Error. PCI configuration space is at 0x%lx, not at 0xE0000000.\r\n", EcamBase);
    *Status = EFI_UNSUPPORTED;
    return FALSE;
  }
  // On another platform nothing answers at 0:31.5 or the function has no memory
  // base: every fixed address the flash layer uses would then reach something
  // else. The vendor and device IDs are not consulted, as boards often hide them
  // while the controller works.
  if (!SpiControllerPresent()) {
    ConsolePrint("Error. SPI flash controller not found.\r\n");
    *Status = EFI_UNSUPPORTED;
    return FALSE;
  }
  // None of the results is examined: a controller that did not come up shows as
  // failing flash operations later.
  SpiControllerInit();
  BiosWindowInit();
  DetectFlashPart();
  return TRUE;
}
