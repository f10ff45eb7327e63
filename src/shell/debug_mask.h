// The debug-mask protocol the application publishes on its image handle while it
// runs, and the hand-off block lookups behind its starting value.
#pragma once

#include "uefi/uefi.h"

constexpr UINT32 DefaultDebugMask = 0x80000042;

extern VOID *HobList;
extern UINT32 CurrentDebugMask;
extern EFI_DEBUG_MASK_PROTOCOL DebugMaskInstance;

VOID LocateHobList();
VOID PublishDebugMask(EFI_HANDLE ImageHandle);
VOID WithdrawDebugMask(EFI_HANDLE ImageHandle);
VOID LoadDebugMask();
EFI_STATUS EFIAPI GetDebugMask(EFI_DEBUG_MASK_PROTOCOL *This, UINTN *Mask);
EFI_STATUS EFIAPI SetDebugMask(EFI_DEBUG_MASK_PROTOCOL *This, UINTN Mask);
EFI_STATUS FindConfigurationTable(const EFI_GUID *Guid, VOID **Table);
VOID *FindGuidHob(const EFI_GUID *Guid, VOID *FirstHob);
VOID *FindFirstGuidHob(const EFI_GUID *Guid);
