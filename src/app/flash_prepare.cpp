#include "app/flash_prepare.h"

#include "flash/hw_access.h"
#include "flash/part_table.h"
#include "flash/spi_hwseq.h"
#include "shell/console.h"

namespace {

// BAR0 of the SPI controller, PCI 0:31.5, in the ECAM window.
constexpr UINT64 SPI_BAR0_CONFIG_ADDRESS = 0xE00FD010;

}  // namespace

BOOLEAN PrepareFlashLayer(EFI_STATUS *Status) {
  // On another platform nothing answers at 0:31.5 (BAR0 reads all ones) or the
  // function has no memory base: every fixed address the flash layer uses would
  // then reach something else. The vendor and device IDs are not consulted, as
  // boards often hide them while the controller works.
  UINT32 Bar0 = RegRead32(SPI_BAR0_CONFIG_ADDRESS) & SPI_BAR0_MASK;
  if (Bar0 == 0 || Bar0 == SPI_BAR0_ABSENT) {
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
