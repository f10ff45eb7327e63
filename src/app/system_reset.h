// The platform reset that ends a completed write: the new firmware starts.
#pragma once

#include "uefi/uefi.h"

// Prints "System reset..." and resets through RST_CNT (port 0xCF9); does not return
// on hardware.
VOID SystemReset();
