// The application's entry, start-up and shut-down lists and the main routine.
#pragma once

#include "uefi/uefi.h"

extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID StartEnvironment(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID StopEnvironment(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS MainRoutine();
