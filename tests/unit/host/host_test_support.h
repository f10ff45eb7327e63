// Small helpers for the firmware model's own tests.
#pragma once

#include <string>

#include "host/firmware_model.h"
#include "support/app_run.h"
#include "support/host_file.h"

inline EFI_GUID Guid(EFI_GUID Value) { return Value; }

inline std::u16string InfoName(const EFI_FILE_INFO *Info) {
  return std::u16string(reinterpret_cast<const char16_t *>(reinterpret_cast<const uint8_t *>(Info) +
                                                           EFI_FILE_INFO_FIXED_SIZE));
}
