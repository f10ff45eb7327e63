// The checks of a write plan before its first erase: the image must leave a board
// that boots, and the platform and the flash protections must take every block.
#pragma once

#include "app/main_state.h"
#include "flash/flash_geometry.h"
#include "uefi/uefi.h"

constexpr UINTN MaxFlashBlocks = WHOLE_FLASH_SIZE / FLASH_BLOCK_64K;

// The blocks of one write: which of them differ from the flash and are to be
// erased and programmed.
struct WritePlan {
  UINTN BlockCount;
  UINTN RewriteCount;
  BOOLEAN Rewrite[MaxFlashBlocks];
};

// Each check prints its refusal, sets the command's status and returns FALSE.
BOOLEAN CheckDescriptorKept(MainState *State, const WritePlan *Plan);
BOOLEAN CheckImageDescriptor(MainState *State);
BOOLEAN CheckResetVector(MainState *State, const WritePlan *Plan);
BOOLEAN CheckPlanWritable(MainState *State, const WritePlan *Plan);
