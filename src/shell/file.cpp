#include "shell/file.h"

#include "base/firmware.h"
#include "shell/params.h"
#include "shell/text.h"

namespace {

// The shell's "NUL" device takes no file information; it is opened and nothing more.
BOOLEAN IsNulDevice(const CHAR16 *FileName) { return StrCompare(FileName, u"NUL") == 0; }

// Gives a newly created file the caller's attributes. The handle stays open on a
// failure and is in the caller's variable.
EFI_STATUS SetCreatedFileAttributes(SHELL_FILE_HANDLE FileHandle, UINT64 Attributes) {
  if (gShell.GetFileInfo == nullptr || gShell.SetFileInfo == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  EFI_FILE_INFO *Info = gShell.GetFileInfo(FileHandle);
  if (Info == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  Info->Attribute = Attributes;
  EFI_STATUS Status = gShell.SetFileInfo(FileHandle, Info);
  PoolFree(Info);
  return Status;
}

}  // namespace

// Without a bound shell there is no file system to reach: every operation
// answers EFI_NOT_FOUND and touches nothing.
EFI_STATUS FileOpenByName(const CHAR16 *FileName, SHELL_FILE_HANDLE *FileHandle, UINT64 OpenMode,
                          UINT64 Attributes) {
  if (FileName == nullptr || FileHandle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_SHELL_PROTOCOL *Shell = gShell.Shell;
  if (Shell == nullptr) {
    return EFI_NOT_FOUND;
  }

  BOOLEAN Create = (OpenMode & EFI_FILE_MODE_CREATE) != 0;
  if (Create && (Attributes & EFI_FILE_DIRECTORY) != 0) {
    if (Shell->CreateFile == nullptr) {
      return EFI_NOT_FOUND;
    }
    EFI_STATUS Status = Shell->CreateFile(FileName, EFI_FILE_DIRECTORY, FileHandle);
    if (EFI_ERROR(Status)) {
      *FileHandle = nullptr;
    }
    return Status;
  }

  if (Shell->OpenFileByName == nullptr) {
    return EFI_NOT_FOUND;
  }
  EFI_STATUS Status = Shell->OpenFileByName(FileName, FileHandle, OpenMode);
  if (EFI_ERROR(Status)) {
    // Nothing was opened: a handle left in the caller's variable is always open.
    *FileHandle = nullptr;
  }
  if (IsNulDevice(FileName) || EFI_ERROR(Status) || !Create) {
    return Status;
  }
  return SetCreatedFileAttributes(*FileHandle, Attributes);
}

EFI_STATUS FileRead(SHELL_FILE_HANDLE FileHandle, UINTN *ByteCount, VOID *Buffer) {
  if (gShell.ReadFile == nullptr) {
    return EFI_NOT_FOUND;
  }
  return gShell.ReadFile(FileHandle, ByteCount, Buffer);
}

EFI_STATUS FileWrite(SHELL_FILE_HANDLE FileHandle, UINTN *ByteCount, VOID *Buffer) {
  if (gShell.WriteFile == nullptr) {
    return EFI_NOT_FOUND;
  }
  return gShell.WriteFile(FileHandle, ByteCount, Buffer);
}

// The caller's variable is left as it was; the callers set it to none themselves.
EFI_STATUS FileClose(SHELL_FILE_HANDLE *FileHandle) {
  if (FileHandle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (gShell.CloseFile == nullptr) {
    return EFI_NOT_FOUND;
  }
  return gShell.CloseFile(*FileHandle);
}

EFI_STATUS FileGetSize(SHELL_FILE_HANDLE FileHandle, UINT64 *Size) {
  if (gShell.GetFileSize == nullptr) {
    return EFI_NOT_FOUND;
  }
  return gShell.GetFileSize(FileHandle, Size);
}

EFI_STATUS FileGetAttributes(SHELL_FILE_HANDLE FileHandle, UINT64 *Attributes) {
  if (gShell.GetFileInfo == nullptr) {
    return EFI_NOT_FOUND;
  }
  EFI_FILE_INFO *Info = gShell.GetFileInfo(FileHandle);
  if (Info == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  *Attributes = Info->Attribute;
  PoolFree(Info);
  return EFI_SUCCESS;
}

// A shell without the delete service still gets the handle back: the file then
// stays, as after any deletion that fails.
EFI_STATUS FileDelete(SHELL_FILE_HANDLE *FileHandle) {
  if (FileHandle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_SHELL_PROTOCOL *Shell = gShell.Shell;
  if (Shell == nullptr || Shell->DeleteFile == nullptr) {
    if (gShell.CloseFile == nullptr) {
      return EFI_NOT_FOUND;
    }
    gShell.CloseFile(*FileHandle);
    return EFI_WARN_DELETE_FAILURE;
  }
  return Shell->DeleteFile(*FileHandle);
}
