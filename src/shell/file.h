// File access through the UEFI Shell's file services.
#pragma once

#include "uefi/uefi.h"

EFI_STATUS FileOpenByName(const CHAR16 *FileName, SHELL_FILE_HANDLE *FileHandle, UINT64 OpenMode,
                          UINT64 Attributes);
EFI_STATUS FileRead(SHELL_FILE_HANDLE FileHandle, UINTN *ByteCount, VOID *Buffer);
EFI_STATUS FileWrite(SHELL_FILE_HANDLE FileHandle, UINTN *ByteCount, VOID *Buffer);
EFI_STATUS FileClose(SHELL_FILE_HANDLE *FileHandle);
EFI_STATUS FileGetSize(SHELL_FILE_HANDLE FileHandle, UINT64 *Size);
// The file's attribute bits (EFI_FILE_DIRECTORY, EFI_FILE_READ_ONLY ...);
// EFI_DEVICE_ERROR when the shell has no information for it, as for "NUL".
EFI_STATUS FileGetAttributes(SHELL_FILE_HANDLE FileHandle, UINT64 *Attributes);
// Deletes the file and closes the handle, in every case; EFI_WARN_DELETE_FAILURE
// when the file stays. The caller's variable is left as it was.
EFI_STATUS FileDelete(SHELL_FILE_HANDLE *FileHandle);
