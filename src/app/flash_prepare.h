// Bringing up the flash access layer before a command runs.
#pragma once

#include "uefi/uefi.h"

// Prepares the SPI controller, the BIOS window and the part set-up. Returns FALSE,
// with the status to return to the shell in *Status, when the platform has no
// usable SPI flash controller; nothing more may then touch the hardware.
BOOLEAN PrepareFlashLayer(EFI_STATUS *Status);
