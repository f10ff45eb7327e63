// Bringing up the flash access layer before a command runs: the platform guard,
// then the controller, the BIOS window and the part set-up.
#pragma once

#include "uefi/uefi.h"

// Prepares the SPI controller, the BIOS window and the part set-up. Returns FALSE,
// with the status to return to the shell in *Status, when the platform has no
// usable SPI flash controller; nothing more may then touch the hardware.
BOOLEAN BringUpFlashLayer(EFI_STATUS *Status);
