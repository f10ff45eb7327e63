// The read command: the BIOS window saved into a new file, which is left only when
// it is a whole copy of a read that succeeded.
#include "app/commands.h"
#include "base/firmware.h"
#include "flash/bios_flash.h"
#include "flash/write_protection.h"
#include "shell/console.h"
#include "shell/file.h"
#include "shell/params.h"

namespace {

constexpr UINT64 CreateForReadWrite =
    EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;

// Creates the target file. The image is only ever written into a file that this
// run created; NoHandleStatus says why, when there is no such handle.
VOID CreateTargetFile(MainState *State, const CHAR16 *FileName, EFI_STATUS ExistStatus,
                      EFI_STATUS *NoHandleStatus) {
  State->File = nullptr;
  *NoHandleStatus = ExistStatus;
  if (ExistStatus == EFI_NOT_FOUND) {
    *NoHandleStatus = FileOpenByName(FileName, &State->File, CreateForReadWrite, 0);
  } else {
    ConsolePrint("Error!! File %s is %r\r\n", FileName, ExistStatus);
  }
  // A status that is no error cannot explain a missing handle.
  if (!EFI_ERROR(*NoHandleStatus)) {
    *NoHandleStatus = EFI_DEVICE_ERROR;
  }
}

// The creating open also opens a file or directory that is already there (when
// the existence test could not see it): the image only goes into an empty file,
// which this run created. Anything else is closed untouched.
BOOLEAN CheckTargetIsNew(MainState *State, const CHAR16 *FileName) {
  if (State->File == nullptr) {
    return TRUE;  // nothing to write into; the save reports why
  }
  UINT64 Size = 0;
  UINT64 Attributes = 0;
  EFI_STATUS Status = FileGetSize(State->File, &Size);
  if (Status == EFI_SUCCESS) {
    Status = FileGetAttributes(State->File, &Attributes);
  }
  if (Status != EFI_SUCCESS) {
    ConsolePrint("Error!! File %s is %r\r\n", FileName, Status);
    State->Status = Status;
  } else if (Size != 0 || (Attributes & EFI_FILE_DIRECTORY) != 0) {
    ConsolePrint("Error!! The file name is already exist!!\r\n");
    State->Status = EFI_INVALID_PARAMETER;
  } else {
    return TRUE;
  }
  CloseImageFile(State);
  return FALSE;
}

// Removes the file this run created, so that no name is left holding less than
// a whole image. The handle is closed whatever the deletion answers.
VOID DiscardTargetFile(MainState *State) {
  if (State->File != nullptr) {
    FileDelete(&State->File);
    State->File = nullptr;
  }
}

// Writes the image once, from the start of the new file. The file's size after
// the write is checked as well: a write that reports success can still have left
// less on the volume. Short, without a reason from the firmware, means the volume
// had no room for the rest.
EFI_STATUS WriteWholeImage(MainState *State) {
  UINTN ByteCount = State->ImageSize;
  EFI_STATUS Status = FileWrite(State->File, &ByteCount, State->ImageBuffer);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINT64 FileSize = 0;
  EFI_STATUS SizeStatus = FileGetSize(State->File, &FileSize);
  if (EFI_ERROR(SizeStatus)) {
    return SizeStatus;
  }
  if (ByteCount != State->ImageSize || FileSize != State->ImageSize) {
    return EFI_VOLUME_FULL;
  }
  return Status;
}

// Saves the image and closes the file; a failed or short save deletes it. A
// failing close may have lost the data, so it counts as a failed save as well;
// the file cannot be deleted then, as no handle is left.
EFI_STATUS SaveImage(MainState *State) {
  EFI_STATUS Status = WriteWholeImage(State);
  if (EFI_ERROR(Status)) {
    DiscardTargetFile(State);
    return Status;
  }
  EFI_STATUS CloseStatus = FileClose(&State->File);
  State->File = nullptr;
  if (Status == EFI_SUCCESS && EFI_ERROR(CloseStatus)) {
    Status = CloseStatus;
  }
  return Status;
}

// Why the window could not be read: where it reaches below a small BIOS region into
// a region the descriptor keeps from software, that region; otherwise the read's
// own failure.
VOID ReportUnreadWindow(const MainState *State) {
  WriteProtectionMap Access;
  ReadWriteProtection(&Access);
  UINT32 Region = 0;
  UINT64 FlashLinear = 0;
  if (FindUnreadableRegion(&Access, State->WindowBase, State->ImageSize, &Region, &FlashLinear)) {
    ConsolePrint(
        "Error. The BIOS window reaches into flash region %d at 0x%x, which this board does not "
        "let software read; no file was saved.\r\n",
        static_cast<INT32>(Region), static_cast<UINT32>(FlashLinear));
    return;
  }
  ConsolePrint("Error. The BIOS could not be read; no file was saved.\r\n");
}

}  // namespace

VOID ReadCommand(MainState *State) {
  const CHAR16 *FileName = GetPositionalValue(State->Params, 1);

  // The existence test also sees directories.
  SHELL_FILE_HANDLE Existing = nullptr;
  EFI_STATUS ExistStatus = FileOpenByName(FileName, &Existing, EFI_FILE_MODE_READ, 0);
  if (Existing != nullptr) {
    FileClose(&Existing);
  }
  if (ExistStatus == EFI_SUCCESS) {
    ConsolePrint("Error!! The file name is already exist!!\r\n");
    State->Status = EFI_INVALID_PARAMETER;
    return;
  }
  EFI_STATUS NoHandleStatus = EFI_SUCCESS;
  CreateTargetFile(State, FileName, ExistStatus, &NoHandleStatus);
  if (!CheckTargetIsNew(State, FileName)) {
    return;
  }

  ConsolePrint("Now start read SPI, wait a minute...\r\n");
  EFI_STATUS ReadStatus = BiosFlashRead(State->ImageBuffer, State->WindowBase, State->ImageSize);
  ConsolePrint("Read SPI is %r.\r\n", ReadStatus);
  // A file of a read that failed part-way would look like a backup and is none.
  if (ReadStatus != EFI_SUCCESS) {
    DiscardTargetFile(State);
    ReportUnreadWindow(State);
    State->Status = ReadStatus;
    return;
  }

  State->Status = State->File != nullptr ? SaveImage(State) : NoHandleStatus;
  ConsolePrint("Save to file is %r.\r\n", State->Status);
}
