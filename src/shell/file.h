// File access through the UEFI Shell's file services.
#pragma once

#include "uefi/uefi.h"

EFI_STATUS FileOpenByName(const CHAR16 *FileName, SHELL_FILE_HANDLE *FileHandle, UINT64 OpenMode,
                          UINT64 Attributes);
EFI_STATUS FileRead(SHELL_FILE_HANDLE FileHandle, UINTN *ByteCount, VOID *Buffer);
EFI_STATUS FileWrite(SHELL_FILE_HANDLE FileHandle, UINTN *ByteCount, VOID *Buffer);
EFI_STATUS FileClose(SHELL_FILE_HANDLE *FileHandle);
EFI_STATUS FileGetSize(SHELL_FILE_HANDLE FileHandle, UINT64 *Size);
