// Small helpers for the firmware model's own tests.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

#include "host/firmware_model.h"
#include "support/app_run.h"

inline EFI_GUID Guid(EFI_GUID Value) { return Value; }

inline void WriteHostFile(const std::filesystem::path &Path, const std::string &Bytes) {
  std::ofstream Out(Path, std::ios::binary);
  Out << Bytes;
}

inline std::string ReadHostFile(const std::filesystem::path &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

inline std::u16string InfoName(const EFI_FILE_INFO *Info) {
  return std::u16string(reinterpret_cast<const char16_t *>(reinterpret_cast<const uint8_t *>(Info) +
                                                           EFI_FILE_INFO_FIXED_SIZE));
}
