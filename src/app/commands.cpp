#include "app/commands.h"

// The commands are not built yet: both refuse with a clear status.
VOID ReadCommand(MainState *State) { State->Status = EFI_UNSUPPORTED; }

VOID WriteCommand(MainState *State) { State->Status = EFI_UNSUPPORTED; }

VOID SystemReset() {}
