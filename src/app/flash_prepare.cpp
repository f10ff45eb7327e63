#include "app/flash_prepare.h"

// The flash layer is not built yet; nothing is prepared.
BOOLEAN PrepareFlashLayer(EFI_STATUS *Status) {
  (VOID) Status;
  return TRUE;
}
