#include "app/flash_bringup.h"

#include "flash/part_table.h"
#include "flash/pch_generation.h"
#include "flash/spi_hwseq.h"
#include "shell/console.h"

namespace {

// Messages for a platform the identification refuses; each follows configuration
// reads only, so nothing was changed.
VOID ReportRefusal(PchVerdict Verdict) {
  switch (Verdict) {
    case PchNoController:
      ConsolePrint("Error. SPI flash controller not found.\r\n");
      return;
    case PchUnsupportedController:
      ConsolePrint(
          "Error. No supported SPI flash controller at 0:31.5 (vendor 0x%04X, device 0x%04X). "
          "Nothing was changed.\r\n",
          PchPlatform.SpiVendorId, PchPlatform.SpiDeviceId);
      return;
    case PchAcpiBaseAmbiguous:
      ConsolePrint(
          "Error. The ACPI I/O base is ambiguous (FADT 0x%x, PMC 0x%x). Nothing was changed.\r\n",
          PchPlatform.FadtAcpiBase, PchPlatform.PmcAcpiBase);
      return;
    case PchAcpiBaseUnknown:
      ConsolePrint("Error. The ACPI I/O base is unknown. Nothing was changed.\r\n");
      return;
    case PchSupported:
      return;
  }
}

}  // namespace

BOOLEAN BringUpFlashLayer(EFI_STATUS *Status) {
  // Every generation puts something else at the fixed places of another one: the
  // platform is identified from configuration reads before anything is written.
  PchVerdict Verdict = PchIdentifyPlatform();
  if (Verdict != PchSupported) {
    ReportRefusal(Verdict);
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
