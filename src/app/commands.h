// The two commands: save the BIOS window to a new file, and write an image into
// the flash followed by a platform reset.
#pragma once

#include "app/main_state.h"

VOID ReadCommand(MainState *State);
VOID WriteCommand(MainState *State);
