// A small stand-in for the boot services the shell binding, the parser and the
// console use: pool memory with an outstanding count and an injectable failure,
// the shell, shell-parameters and collation protocols, and a ConOut that keeps
// every text written.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "uefi/uefi.h"

class FakeFirmware {
 public:
  FakeFirmware();  // installs itself in gFirmware
  ~FakeFirmware();
  FakeFirmware(const FakeFirmware &) = delete;
  FakeFirmware &operator=(const FakeFirmware &) = delete;

  void SetArguments(std::initializer_list<std::u16string> Arguments);

  // Protocol placement; the defaults are what OVMF's shell does.
  bool ShellOnImageHandle = false;
  bool ShellLocatable = true;
  bool ParametersOnImageHandle = true;
  bool CollationPresent = true;

  uint64_t FailAllocationNumber = 0;  // the n-th AllocatePool fails (counted from 1); 0: none
  uint64_t AllocateCalls = 0;
  uint64_t LastAllocationSize = 0;
  uint64_t UnknownFrees = 0;
  uint64_t Outstanding() const { return Live.size(); }

  std::u16string ConsoleText;
  uint64_t OutputCalls = 0;
  EFI_STATUS OutputStatus = EFI_SUCCESS;

  uint64_t PageBreakCalls = 0;
  uint64_t CollationLocates = 0;
  std::vector<std::string> ProtocolCalls;  // "Open Shell", "Locate Shell", "Close Parameters" ...

  EFI_HANDLE ImageHandle;
  EFI_SYSTEM_TABLE System;
  EFI_BOOT_SERVICES Boot;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL ConOut;
  EFI_SHELL_PROTOCOL Shell;
  EFI_SHELL_PARAMETERS_PROTOCOL Parameters;
  EFI_UNICODE_COLLATION2_PROTOCOL Collation;

  std::set<void *> Live;

 private:
  std::vector<std::u16string> ArgumentText;
  std::vector<CHAR16 *> ArgumentPointers;
};

// The fake that the firmware callbacks reach.
FakeFirmware &CurrentFake();

std::string Utf8(const std::u16string &Text);
