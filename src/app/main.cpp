#include "app/main.h"

#include "app/commands.h"
#include "app/flash_bringup.h"
#include "app/main_state.h"
#include "base/firmware.h"
#include "shell/console.h"
#include "shell/debug_mask.h"
#include "shell/file.h"
#include "shell/params.h"

namespace {

VOID ReleaseMainState(MainState *State) {
  CloseImageFile(State);
  FreeParamList(State->Params);
  State->Params = nullptr;
  if (State->ImageBuffer != nullptr) {
    PoolFree(State->ImageBuffer);
    State->ImageBuffer = nullptr;
  }
  if (State->CompareBuffer != nullptr) {
    PoolFree(State->CompareBuffer);
    State->CompareBuffer = nullptr;
  }
}

// Checks the parsed command line; returns TRUE when a command may run.
BOOLEAN CheckArgumentCount(MainState *State) {
  UINT64 Count = CountPositional(State->Params);
  if (Count >= 4) {
    ConsolePrint("Error. Too many arguments specified.\r\n");
    State->Status = EFI_INVALID_PARAMETER;
    return FALSE;
  }
  if (Count < 2) {
    // The parse's status stands: EFI_SUCCESS.
    ConsolePrint("Error. Too few arguments specified.\r\n");
    ConsolePrint(
        "Usage: pchflash -r FILE (save the BIOS window to a new file) | -w FILE (write an 8 MiB "
        "or whole-flash image, then reset)\r\n");
    return FALSE;
  }
  return TRUE;
}

// "-r" is tested first, so it wins when both are given; "-all" is never consulted.
VOID Dispatch(MainState *State) {
  if (!BringUpFlashLayer(&State->Status)) {
    return;
  }
  if (HasFlag(State->Params, u"-r")) {
    ReadCommand(State);
  } else if (HasFlag(State->Params, u"-w")) {
    WriteCommand(State);
  }
}

}  // namespace

VOID CloseImageFile(MainState *State) {
  if (State->File != nullptr) {
    FileClose(&State->File);
    State->File = nullptr;
  }
}

extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  StartEnvironment(ImageHandle, SystemTable);
  EFI_STATUS Status = MainRoutine();
  StopEnvironment(ImageHandle, SystemTable);
  return Status;
}

VOID StartEnvironment(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gFirmware.ImageHandle = ImageHandle;
  gFirmware.SystemTable = SystemTable;
  gFirmware.BootServices = SystemTable->BootServices;
  LocateHobList();
  PublishDebugMask(ImageHandle);
  BindShell(ImageHandle);
}

VOID StopEnvironment(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (VOID) SystemTable;
  UnbindShell(ImageHandle);
  WithdrawDebugMask(ImageHandle);
}

EFI_STATUS MainRoutine() {
  MainState State = {BIOS_WINDOW_SIZE, BIOS_WINDOW_BASE, nullptr, nullptr,
                     nullptr,          nullptr,          nullptr, EFI_SUCCESS};

  // Both buffers come first, whatever the command; no command runs without them.
  State.ImageBuffer = static_cast<UINT8 *>(PoolAllocate(State.ImageSize));
  State.CompareBuffer = static_cast<UINT8 *>(PoolAllocate(State.ImageSize));
  if (State.ImageBuffer == nullptr || State.CompareBuffer == nullptr) {
    ConsolePrint("Error. Not enough memory for the two 8 MiB image buffers.\r\n");
    ReleaseMainState(&State);
    return EFI_OUT_OF_RESOURCES;
  }

  CHAR16 *ProblemText = nullptr;
  State.Status = ParseCommandLine(CommandParamTable, &State.Params, &ProblemText, TRUE, FALSE);
  if (EFI_ERROR(State.Status)) {
    if (State.Status == EFI_VOLUME_CORRUPTED && ProblemText != nullptr) {
      ConsolePrint("Error. The argument '%s' is incorrect.\r\n", ProblemText);
      PoolFree(ProblemText);
      State.Status = EFI_INVALID_PARAMETER;
    } else if (ProblemText != nullptr) {
      PoolFree(ProblemText);
    }
    ReleaseMainState(&State);
    return State.Status;
  }

  if (CheckArgumentCount(&State)) {
    Dispatch(&State);
  }
  ReleaseMainState(&State);
  return State.Status;
}
