// The firmware environment of one run and the shared pool and memory helpers.
#pragma once

#include "uefi/uefi.h"

// Filled by the first step of the start-up list; every firmware service call of
// the application goes through it.
struct FirmwareEnvironment {
  EFI_HANDLE ImageHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_BOOT_SERVICES *BootServices;
};

extern FirmwareEnvironment gFirmware;

// Pool operations over the boot services. The caller of an allocation owns it.
VOID *PoolAllocateTyped(EFI_MEMORY_TYPE PoolType, UINTN Size);
VOID *PoolAllocate(UINTN Size);
VOID *PoolAllocateZeroed(UINTN Size);
EFI_STATUS PoolFree(VOID *Buffer);
VOID *PoolReallocate(UINTN OldSize, UINTN NewSize, VOID *OldBuffer);
// Frees the buffer *PoolPointer refers to, if any, and sets *PoolPointer to none.
VOID FreeAndClear(VOID **PoolPointer);

// Memory helpers.
INTN MemCompare(const VOID *A, const VOID *B, UINTN Length);
VOID *MemCopy(VOID *Destination, const VOID *Source, UINTN Length);
VOID *MemZero(VOID *Buffer, UINTN Length);
// The dword whose first byte (bits 7:0) is at Bytes; Bytes may lie unaligned.
UINT32 ReadLittleEndian32(const UINT8 *Bytes);
// All sixteen bytes compared; either GUID may lie unaligned.
BOOLEAN GuidEquals(const EFI_GUID *Left, const EFI_GUID *Right);
