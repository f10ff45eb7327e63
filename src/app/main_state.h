// MainRoutine's working state for one run. The two commands run as branches of
// MainRoutine and work on it.
#pragma once

#include "flash/flash_geometry.h"
#include "shell/params.h"
#include "uefi/uefi.h"

struct MainState {
  UINTN ImageSize;       // bytes the command moves
  UINT64 WindowBase;     // memory address of the image's first byte in the flash
  UINT8 *ImageBuffer;    // ImageSize bytes: the image
  UINT8 *CompareBuffer;  // ImageSize bytes: the current flash contents
  ParamList Params;
  SHELL_FILE_HANDLE File;
  VOID *FullFlashPrepare;  // the platform's full-flash protocol interface
  EFI_STATUS Status;
};

// Closes the command's file, if one is open.
VOID CloseImageFile(MainState *State);
