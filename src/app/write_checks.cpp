#include "app/write_checks.h"

#include "base/firmware.h"
#include "flash/bios_flash.h"
#include "flash/flash_descriptor.h"
#include "flash/regs/descriptor.h"
#include "flash/spi_controller.h"
#include "flash/spi_setup.h"
#include "flash/write_protection.h"
#include "shell/console.h"

namespace {

// The processor fetches its first instruction 16 bytes below 4 GiB.
constexpr UINT64 ResetVectorAddress = 0xFFFFFFF0;
constexpr UINTN ResetVectorBytes = 16;

BOOLEAN AllBytesAre(const UINT8 *Bytes, UINTN Count, UINT8 Value) {
  for (UINTN Index = 0; Index < Count; Index++) {
    if (Bytes[Index] != Value) {
      return FALSE;
    }
  }
  return TRUE;
}

// Whether the image bytes of a block that starts at flash-linear Linear, inside
// the descriptor, carry the descriptor signature.
BOOLEAN BlockKeepsDescriptorSignature(const UINT8 *Block, UINT64 Linear) {
  if (Linear > FLVALSIG_OFFSET) {
    return FALSE;  // the block starts past the signature: nothing shows its bytes are a descriptor
  }
  UINT32 Signature = 0;
  MemCopy(&Signature, Block + (FLVALSIG_OFFSET - Linear), sizeof(Signature));
  return Signature == FLVALSIG;
}

VOID RefuseOnThisPlatform(MainState *State, const CHAR8 *Reason, EFI_STATUS Status) {
  ConsolePrint(
      "\r\nError. The flash cannot be written on this platform: %a. Nothing was changed.\r\n",
      Reason);
  State->Status = Status;
}

// What keeps the whole platform from taking writes, whatever the blocks.
BOOLEAN CheckPlatform(MainState *State) {
  PlatformWriteCheck Check;
  CheckPlatformWritable(&Check);
  CHAR8 ChipReason[64];
  switch (Check.Refusal) {
    case PlatformWritable:
      return TRUE;
    case PlatformNoDescriptor:
      RefuseOnThisPlatform(State, "no flash descriptor", Check.Status);
      return FALSE;
    case PlatformBiosWritesNeedSmm:
      RefuseOnThisPlatform(State, "BIOS writes are limited to SMM (EISS)", Check.Status);
      return FALSE;
    case PlatformBiosWriteLocked:
      RefuseOnThisPlatform(State, "BIOS writes are locked (BIOSWE)", Check.Status);
      return FALSE;
    case PlatformChipProtected:
      FormatInto(ChipReason, sizeof(ChipReason),
                 "the flash chip is write-protected (status 0x%02X)",
                 static_cast<UINT32>(Check.ChipStatus));
      RefuseOnThisPlatform(State, ChipReason, Check.Status);
      return FALSE;
    case PlatformChipStatusUnreadable:
      RefuseOnThisPlatform(State, "the flash chip's status could not be read", Check.Status);
      return FALSE;
  }
  return FALSE;
}

// Every block to rewrite must be erasable with an opcode the controller holds.
BOOLEAN CheckPlanErasable(MainState *State, const WritePlan *Plan) {
  for (UINTN Block = 0; Block < Plan->BlockCount; Block++) {
    UINT64 Address = State->WindowBase + Block * FLASH_BLOCK_64K;
    if (Plan->Rewrite[Block] && !FlashRangeErasable(Address, FLASH_BLOCK_64K)) {
      RefuseOnThisPlatform(State, "the flash controller has no valid erase opcode (VSCC)",
                           EFI_UNSUPPORTED);
      return FALSE;
    }
  }
  return TRUE;
}

}  // namespace

// Without its descriptor the PCH does not boot from the flash: a block over the
// first 4 KiB is only rewritten with bytes that are a descriptor themselves.
BOOLEAN CheckDescriptorKept(MainState *State, const WritePlan *Plan) {
  for (UINTN Block = 0; Block < Plan->BlockCount; Block++) {
    UINTN Offset = Block * FLASH_BLOCK_64K;
    UINT64 Linear = 0;
    if (!Plan->Rewrite[Block] || !BiosAddressToFlashLinear(State->WindowBase + Offset, &Linear) ||
        Linear >= FLASH_DESCRIPTOR_BYTES) {
      continue;
    }
    if (!BlockKeepsDescriptorSignature(State->ImageBuffer + Offset, Linear)) {
      ConsolePrint(
          "\r\nError. The image would overwrite the flash descriptor with data that is not a "
          "descriptor. Nothing was changed.\r\n");
      State->Status = EFI_INVALID_PARAMETER;
      return FALSE;
    }
  }
  return TRUE;
}

// A whole-flash image brings its own descriptor, which the board boots with next:
// it must describe this flash and a BIOS region the processor can start from.
// An image without a signature is left to the check above.
BOOLEAN CheckImageDescriptor(MainState *State) {
  if (State->ImageSize != WHOLE_FLASH_SIZE) {
    return TRUE;
  }
  const CHAR8 *Reason = nullptr;
  switch (CheckDescriptorImage(State->ImageBuffer, static_cast<UINT32>(State->ImageSize),
                               SpiControllerState.RegionCount, BiosWindow.FlashSize)) {
    case DescriptorImageBoots:
    case DescriptorImageNoSignature:
      return TRUE;
    case DescriptorImageNoBiosRegion:
      Reason = "no BIOS region";
      break;
    case DescriptorImageBiosNotAtTop:
      Reason = "BIOS region not at the top";
      break;
    case DescriptorImageRegionsOverlap:
      Reason = "regions overlap";
      break;
    case DescriptorImageSizeDiffers:
      Reason = "flash size differs";
      break;
  }
  ConsolePrint(
      "\r\nError. The image's flash descriptor would not boot this board: %a. Nothing was "
      "changed.\r\n",
      Reason);
  State->Status = EFI_INCOMPATIBLE_VERSION;
  return FALSE;
}

// An image that reaches 4 GiB brings the processor's first instructions; blank
// ones there (erased or zeroed) would leave a board that does not start.
BOOLEAN CheckResetVector(MainState *State, const WritePlan *Plan) {
  if (State->WindowBase + Plan->BlockCount * FLASH_BLOCK_64K < FOUR_GIB) {
    return TRUE;
  }
  const UINT8 *Vector = State->ImageBuffer + (ResetVectorAddress - State->WindowBase);
  if (!AllBytesAre(Vector, ResetVectorBytes, 0x00) &&
      !AllBytesAre(Vector, ResetVectorBytes, 0xFF)) {
    return TRUE;
  }
  ConsolePrint(
      "\r\nError. The image has no reset vector in its last 16 bytes. Nothing was changed.\r\n");
  State->Status = EFI_INVALID_PARAMETER;
  return FALSE;
}

// Refuses before the first erase rather than stop half-way at a protected block,
// or at the first erase of a platform that takes no writes at all.
BOOLEAN CheckPlanWritable(MainState *State, const WritePlan *Plan) {
  if (Plan->RewriteCount == 0) {
    return TRUE;
  }
  if (!CheckPlatform(State) || !CheckPlanErasable(State, Plan)) {
    return FALSE;
  }
  WriteProtectionMap Protection;
  ReadWriteProtection(&Protection);
  for (UINTN Block = 0; Block < Plan->BlockCount; Block++) {
    UINT64 Address = State->WindowBase + Block * FLASH_BLOCK_64K;
    WriteProtectionCause Cause;
    if (Plan->Rewrite[Block] &&
        !FlashRangeWritable(&Protection, Address, FLASH_BLOCK_64K, &Cause)) {
      ConsolePrint(
          "\r\nError. Flash is write-protected at 0x%x (flash 0x%x, %a). Nothing was changed.\r\n",
          static_cast<UINT32>(Address), static_cast<UINT32>(Cause.FlashLinear), Cause.Protector);
      State->Status = EFI_WRITE_PROTECTED;
      return FALSE;
    }
  }
  return TRUE;
}
