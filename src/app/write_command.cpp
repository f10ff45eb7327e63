// The write command: an image compared with the flash block by block, only the
// blocks that differ erased, programmed and read back, then the platform reset.
#include "app/commands.h"
#include "app/system_reset.h"
#include "app/write_checks.h"
#include "base/firmware.h"
#include "flash/bios_flash.h"
#include "flash/spi_controller.h"
#include "flash/write_protection.h"
#include "shell/console.h"
#include "shell/file.h"
#include "shell/params.h"

namespace {

// BiosFlashRead reads at most the 8 MiB of the BIOS window per call.
constexpr UINTN FlashReadPieceSize = BIOS_WINDOW_SIZE;
// A block is read back a piece at a time into a buffer on the stack, so that
// neither the image nor the comparison buffer is overwritten and no pool memory is
// needed: the comparison buffer keeps the block's old contents for the check after
// a failure.
constexpr UINTN ReadBackPieceSize = FLASH_SECTOR_4K;

UINTN Smaller(UINTN A, UINTN B) { return A < B ? A : B; }

// The reset that ends a completed write: it starts the new firmware.
VOID CloseAndReset(MainState *State) {
  CloseImageFile(State);
  SystemReset();
}

// Where the write stops before its first erase there is no new firmware to start:
// the run returns to the shell, whose screen keeps the message.
VOID SayNothingChanged(MainState *State) {
  ConsolePrint("Nothing was changed.\r\n");
  CloseImageFile(State);
}

VOID PrintImageSize(UINTN Size) {
  ConsolePrint("Flash BIOS Size : 0x%x\n", static_cast<UINT32>(Size));
}

// The shell opens a directory by name as well, and a read of it gives its
// entries: those must never be taken for an image. A handle without file
// information (the "NUL" device) is no directory.
BOOLEAN IsDirectory(SHELL_FILE_HANDLE File) {
  UINT64 Attributes = 0;
  return FileGetAttributes(File, &Attributes) == EFI_SUCCESS &&
         (Attributes & EFI_FILE_DIRECTORY) != 0;
}

// A file the write cannot use; nothing has been written yet.
VOID RefuseFile(MainState *State, const CHAR16 *FileName, EFI_STATUS Status) {
  ConsolePrint("File '%s' is %r.\r\n", FileName, Status);
  State->Status = Status;
  SayNothingChanged(State);
}

VOID RefuseWholeFlash(MainState *State, EFI_STATUS Status) {
  ConsolePrint("Error. This firmware offers no whole-flash update (%r). Nothing was changed.\r\n",
               Status);
  State->Status = Status;
  CloseImageFile(State);
}

// Opens the whole flash through the platform and replaces the two 8 MiB buffers
// by 16 MiB ones. Returns FALSE, with the refusal printed, when the platform has
// no such preparation or it fails: most firmware offers none. *Status becomes
// the status of the buffers' allocation.
BOOLEAN EnterWholeFlashMode(MainState *State, EFI_STATUS *Status) {
  EFI_GUID Guid = FULL_FLASH_PREPARE_PROTOCOL_GUID;
  VOID *Interface = nullptr;
  EFI_STATUS LocateStatus = gFirmware.BootServices->LocateProtocol(&Guid, nullptr, &Interface);
  if (LocateStatus == EFI_SUCCESS &&
      (Interface == nullptr ||
       static_cast<FULL_FLASH_PREPARE_PROTOCOL *>(Interface)->Prepare == nullptr)) {
    LocateStatus = EFI_NOT_FOUND;
  }
  if (LocateStatus != EFI_SUCCESS) {
    RefuseWholeFlash(State, LocateStatus);
    return FALSE;
  }

  State->FullFlashPrepare = Interface;
  EFI_STATUS PrepareStatus =
      static_cast<FULL_FLASH_PREPARE_PROTOCOL *>(Interface)->Prepare(Interface, 0, 0);
  if (PrepareStatus != EFI_SUCCESS) {
    PrintImageSize(WHOLE_FLASH_SIZE);
    RefuseWholeFlash(State, PrepareStatus);
    return FALSE;
  }
  // The preparation may have lifted the descriptor's limits: what may be written
  // is read anew.
  ReadFlashAccessAgain();

  UINT8 *ImageBuffer = static_cast<UINT8 *>(PoolAllocate(WHOLE_FLASH_SIZE));
  UINT8 *CompareBuffer = static_cast<UINT8 *>(PoolAllocate(WHOLE_FLASH_SIZE));
  if (ImageBuffer == nullptr || CompareBuffer == nullptr) {
    if (ImageBuffer != nullptr) {
      PoolFree(ImageBuffer);
    }
    if (CompareBuffer != nullptr) {
      PoolFree(CompareBuffer);
    }
    *Status = EFI_OUT_OF_RESOURCES;
    return TRUE;
  }
  PoolFree(State->ImageBuffer);
  PoolFree(State->CompareBuffer);
  State->ImageBuffer = ImageBuffer;
  State->CompareBuffer = CompareBuffer;
  State->ImageSize = WHOLE_FLASH_SIZE;
  State->WindowBase = WHOLE_FLASH_WINDOW_BASE;
  return TRUE;
}

// Reads the current flash contents under the first Bytes of the image, in pieces
// the BIOS-address read accepts. A piece that fails is read once more, since one
// failed cycle should not cost the whole update; if it fails again, nothing is
// known to compare with, and the write is refused before anything changed.
BOOLEAN ReadCurrentContents(MainState *State, UINTN Bytes) {
  for (UINTN Done = 0; Done < Bytes;) {
    UINTN Piece = Smaller(Bytes - Done, FlashReadPieceSize);
    UINT8 *Buffer = State->CompareBuffer + Done;
    UINT64 Address = State->WindowBase + Done;
    EFI_STATUS Status = BiosFlashRead(Buffer, Address, Piece);
    if (Status != EFI_SUCCESS) {
      Status = BiosFlashRead(Buffer, Address, Piece);
    }
    if (Status != EFI_SUCCESS) {
      ConsolePrint("\r\nError. The flash could not be read (%r). Nothing was changed.\r\n", Status);
      State->Status = Status;
      return FALSE;
    }
    Done += Piece;
  }
  return TRUE;
}

// Reads the block at Offset back and compares it with Expected: EFI_DEVICE_ERROR
// when it differs, the read's status when it cannot be read.
EFI_STATUS CompareBlockWithFlash(MainState *State, UINTN Offset, const UINT8 *Expected) {
  UINT8 Piece[ReadBackPieceSize];
  for (UINTN Done = 0; Done < FLASH_BLOCK_64K; Done += ReadBackPieceSize) {
    EFI_STATUS Status = BiosFlashRead(Piece, State->WindowBase + Offset + Done, ReadBackPieceSize);
    if (Status != EFI_SUCCESS) {
      return Status;
    }
    if (MemCompare(Piece, Expected + Done, ReadBackPieceSize) != 0) {
      return EFI_DEVICE_ERROR;
    }
  }
  return EFI_SUCCESS;
}

// Erases and programs one block, then reads it back: a block counts as written
// only when it reads back as the image.
EFI_STATUS RewriteBlock(MainState *State, UINTN Offset) {
  UINT64 Address = State->WindowBase + Offset;
  const UINT8 *Image = State->ImageBuffer + Offset;
  EFI_STATUS Status = BiosFlashErase(Address, FLASH_BLOCK_64K);
  if (Status != EFI_SUCCESS) {
    return Status;
  }
  UINT64 Length = FLASH_BLOCK_64K;
  Status = BiosFlashProgram(Address, Image, &Length);
  if (Status != EFI_SUCCESS) {
    return Status;
  }
  if (Length != FLASH_BLOCK_64K) {
    return EFI_DEVICE_ERROR;
  }
  return CompareBlockWithFlash(State, Offset, Image);
}

// Reads the image from the file; FALSE (with the message) when the read failed or
// did not bring exactly the bytes the file holds (up to the image size). The
// buffer is cleared first, so that no byte of an earlier use can pass for the image.
BOOLEAN ReadImageFile(MainState *State, const CHAR16 *FileName, UINT64 FileSize,
                      UINTN *ImageBytes) {
  MemZero(State->ImageBuffer, State->ImageSize);
  UINTN Expected = FileSize < State->ImageSize ? static_cast<UINTN>(FileSize) : State->ImageSize;
  UINTN ByteCount = State->ImageSize;
  EFI_STATUS Status = FileRead(State->File, &ByteCount, State->ImageBuffer);
  if (Status == EFI_SUCCESS && ByteCount > Expected) {
    Status = EFI_BAD_BUFFER_SIZE;
  } else if (Status == EFI_SUCCESS && ByteCount < Expected) {
    Status = EFI_END_OF_FILE;
  }
  if (Status != EFI_SUCCESS) {
    RefuseFile(State, FileName, Status);
    return FALSE;
  }
  State->ImageSize = ByteCount;
  *ImageBytes = ByteCount;
  return TRUE;
}

// Completes a partial last block with what the flash holds there now.
VOID CompleteLastBlock(MainState *State, UINTN ImageBytes, const WritePlan *Plan) {
  UINTN CoveredBytes = Plan->BlockCount * FLASH_BLOCK_64K;
  MemCopy(State->ImageBuffer + ImageBytes, State->CompareBuffer + ImageBytes,
          CoveredBytes - ImageBytes);
}

VOID MarkDifferingBlocks(const MainState *State, WritePlan *Plan) {
  Plan->RewriteCount = 0;
  for (UINTN Block = 0; Block < Plan->BlockCount; Block++) {
    UINTN Offset = Block * FLASH_BLOCK_64K;
    Plan->Rewrite[Block] = MemCompare(State->ImageBuffer + Offset, State->CompareBuffer + Offset,
                                      FLASH_BLOCK_64K) != 0;
    Plan->RewriteCount += Plan->Rewrite[Block] ? 1 : 0;
  }
}

// Whether the block still holds what the comparison read found in it; a block
// that cannot be read back counts as changed.
BOOLEAN BlockUnchanged(MainState *State, UINTN Offset) {
  return CompareBlockWithFlash(State, Offset, State->CompareBuffer + Offset) == EFI_SUCCESS;
}

// What the controller said of the cycle that failed, for whoever reads the screen:
// which status register, its value and the flash-linear address of the cycle.
VOID ReportControllerStatus(const SpiCycleFailureRecord *Failure) {
  if (!Failure->Recorded) {
    return;  // no cycle failed: the block read back wrong, or a check refused it
  }
  ConsolePrint("Controller status %a 0x%08x (flash 0x%x).\r\n",
               Failure->SoftwareSequenced ? "SSFSTS_CTL" : "HSFSTS_CTL", Failure->ControllerStatus,
               Failure->FlashLinear);
}

VOID ReportFailedBlock(MainState *State, UINTN Offset, EFI_STATUS Status, BOOLEAN NothingChanged,
                       const SpiCycleFailureRecord *Failure) {
  UINT64 Address = State->WindowBase + Offset;
  if (NothingChanged) {
    ConsolePrint("\r\nError. Writing the flash failed at 0x%x: %r. Nothing was changed.\r\n",
                 Address, Status);
  } else {
    ConsolePrint(
        "\r\nError!! Writing the flash failed at 0x%x: %r. Do not reset; run the command "
        "again.\r\n",
        Address, Status);
  }
  ReportControllerStatus(Failure);
  State->Status = Status;
}

// Erases, programs and verifies the planned blocks, one dot each. After a failure
// on the first of them, the block read back tells whether the flash is still as
// it was. A completed run, and a failed one that changed the flash, end with an
// account of the blocks.
BOOLEAN RewritePlannedBlocks(MainState *State, const WritePlan *Plan) {
  UINTN Rewritten = 0;  // blocks of this run erased, programmed and read back
  for (UINTN Block = 0; Block < Plan->BlockCount; Block++) {
    if (!Plan->Rewrite[Block]) {
      continue;
    }
    UINTN Offset = Block * FLASH_BLOCK_64K;
    SpiClearCycleFailure();
    EFI_STATUS Status = RewriteBlock(State, Offset);
    if (Status != EFI_SUCCESS) {
      // Taken before the read-back below, whose cycles might fail as well.
      SpiCycleFailureRecord Failure = *SpiLastCycleFailure();
      BOOLEAN NothingChanged = Rewritten == 0 && BlockUnchanged(State, Offset);
      ReportFailedBlock(State, Offset, Status, NothingChanged, &Failure);
      if (!NothingChanged) {
        ConsolePrint("%d of the %d differing blocks rewritten before the failure.\r\n",
                     static_cast<INT32>(Rewritten), static_cast<INT32>(Plan->RewriteCount));
      }
      return FALSE;
    }
    Rewritten++;
    ConsolePrint(".");
  }
  ConsolePrint(" completed.\r\n");
  ConsolePrint("%d of %d blocks rewritten and read back.\r\n", static_cast<INT32>(Rewritten),
               static_cast<INT32>(Plan->BlockCount));
  return TRUE;
}

// Reads the image, compares it with the flash, checks the plan against the image's
// own sanity and the flash protections, then erases and programs the blocks that
// differ. Returns TRUE when the reset is to follow: after a completed run only.
BOOLEAN ProgramFlash(MainState *State, const CHAR16 *FileName, UINT64 FileSize) {
  UINTN ImageBytes = 0;
  if (!ReadImageFile(State, FileName, FileSize, &ImageBytes)) {
    return FALSE;
  }
  ConsolePrint("Programming starting ");

  WritePlan Plan;
  Plan.BlockCount = (ImageBytes + FLASH_BLOCK_64K - 1) / FLASH_BLOCK_64K;
  if (!ReadCurrentContents(State, Plan.BlockCount * FLASH_BLOCK_64K)) {
    CloseImageFile(State);
    return FALSE;
  }
  CompleteLastBlock(State, ImageBytes, &Plan);
  MarkDifferingBlocks(State, &Plan);
  if (!CheckDescriptorKept(State, &Plan) || !CheckResetVector(State, &Plan) ||
      !CheckPlanWritable(State, &Plan) || !RewritePlannedBlocks(State, &Plan)) {
    CloseImageFile(State);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

VOID WriteCommand(MainState *State) {
  const CHAR16 *FileName = GetPositionalValue(State->Params, 1);
  State->File = nullptr;
  EFI_STATUS Status = FileOpenByName(FileName, &State->File, EFI_FILE_MODE_READ, 0);

  UINT64 FileSize = 0;
  EFI_STATUS SizeStatus = EFI_NOT_FOUND;
  if (State->File != nullptr) {
    SizeStatus = FileGetSize(State->File, &FileSize);
  }

  UINTN PrintedSize = BIOS_WINDOW_SIZE;
  if (Status == EFI_SUCCESS && IsDirectory(State->File)) {
    Status = EFI_UNSUPPORTED;
  } else if (SizeStatus == EFI_SUCCESS && FileSize == WHOLE_FLASH_SIZE) {
    if (!EnterWholeFlashMode(State, &Status)) {
      return;
    }
    PrintedSize = WHOLE_FLASH_SIZE;
  } else if (Status == EFI_SUCCESS && SizeStatus != EFI_SUCCESS) {
    // Of a file of unknown size, a 16 MiB whole-flash image could be taken for
    // the BIOS window.
    Status = SizeStatus;
  } else if (Status == EFI_SUCCESS && FileSize > BIOS_WINDOW_SIZE) {
    // Neither a BIOS window image nor a whole-flash image.
    Status = EFI_BAD_BUFFER_SIZE;
  }

  PrintImageSize(PrintedSize);
  State->Status = Status;
  if (Status != EFI_SUCCESS) {
    RefuseFile(State, FileName, Status);
  } else if (ProgramFlash(State, FileName, FileSize)) {
    CloseAndReset(State);
  }
}
