// The write command: an image compared with the flash block by block, only the
// blocks that differ erased, programmed and read back, then the platform reset.
#include "app/commands.h"
#include "app/system_reset.h"
#include "app/write_checks.h"
#include "base/firmware.h"
#include "flash/bios_flash.h"
#include "flash/regs/descriptor.h"
#include "flash/spi_controller.h"
#include "flash/spi_setup.h"
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
// The descriptor's signature is programmed last, in a piece of its own.
constexpr UINTN SignaturePieceSize = 64;

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

// The board takes the BIOS window, or the whole flash where the flash is the
// 16 MiB a whole-flash image describes. Anything else would land partly outside
// the window, or over the wrong part of a flash of another size.
BOOLEAN FlashTakesWholeImage() { return BiosWindow.FlashSize == WHOLE_FLASH_SIZE; }

BOOLEAN ImageSizeFits(UINT64 FileSize) {
  return FileSize == BIOS_WINDOW_SIZE || (FileSize == WHOLE_FLASH_SIZE && FlashTakesWholeImage());
}

VOID RefuseImageSize(MainState *State, UINT64 FileSize) {
  if (FlashTakesWholeImage()) {
    ConsolePrint(
        "Error. The image is %ld bytes; this board takes %ld (the BIOS window) or %ld (the whole "
        "flash). Nothing was changed.\r\n",
        FileSize, BIOS_WINDOW_SIZE, WHOLE_FLASH_SIZE);
  } else {
    ConsolePrint(
        "Error. The image is %ld bytes; this board takes %ld (the BIOS window). Nothing was "
        "changed.\r\n",
        FileSize, BIOS_WINDOW_SIZE);
  }
  State->Status = EFI_BAD_BUFFER_SIZE;
  CloseImageFile(State);
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
  // Whatever the BIOS region, the 16 MiB below 4 GiB now stand for the whole flash.
  BiosWindowCoverWholeFlash();
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

// Programs Length bytes of the block at Offset from Start on.
EFI_STATUS ProgramBlockPart(MainState *State, UINTN Offset, UINTN Start, UINTN Length) {
  if (Length == 0) {
    return EFI_SUCCESS;
  }
  UINT64 Programmed = Length;
  EFI_STATUS Status = BiosFlashProgram(State->WindowBase + Offset + Start,
                                       State->ImageBuffer + Offset + Start, &Programmed);
  if (Status != EFI_SUCCESS) {
    return Status;
  }
  return Programmed == Length ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

// Erases and programs one block, then reads it back: a block counts as written
// only when it reads back as the image. In the descriptor's block the 64 bytes
// that hold the signature are programmed last: until they are, the controller
// does not take the half-written block for a descriptor.
EFI_STATUS RewriteBlock(MainState *State, UINTN Offset, BOOLEAN HoldsDescriptor) {
  EFI_STATUS Status = BiosFlashErase(State->WindowBase + Offset, FLASH_BLOCK_64K);
  if (Status != EFI_SUCCESS) {
    return Status;
  }
  UINTN SignaturePiece = HoldsDescriptor ? FLVALSIG_OFFSET & ~(SignaturePieceSize - 1) : 0;
  UINTN Last = HoldsDescriptor ? SignaturePieceSize : 0;
  Status = ProgramBlockPart(State, Offset, 0, SignaturePiece);
  if (Status == EFI_SUCCESS) {
    UINTN After = SignaturePiece + Last;
    Status = ProgramBlockPart(State, Offset, After, FLASH_BLOCK_64K - After);
  }
  if (Status == EFI_SUCCESS) {
    Status = ProgramBlockPart(State, Offset, SignaturePiece, Last);
  }
  if (Status != EFI_SUCCESS) {
    return Status;
  }
  return CompareBlockWithFlash(State, Offset, State->ImageBuffer + Offset);
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

// The block that holds the flash descriptor, or BlockCount when the image does not
// reach it.
UINTN DescriptorBlock(const MainState *State, const WritePlan *Plan) {
  for (UINTN Block = 0; Block < Plan->BlockCount; Block++) {
    UINT64 Linear = 0;
    if (BiosAddressToFlashLinear(State->WindowBase + Block * FLASH_BLOCK_64K, &Linear) &&
        Linear <= FLVALSIG_OFFSET && FLVALSIG_OFFSET < Linear + FLASH_BLOCK_64K) {
      return Block;
    }
  }
  return Plan->BlockCount;
}

// The order in which the blocks are rewritten: ascending, except that the block
// with the reset vector (the image's last) comes next to last and the descriptor's
// block last. An interruption before then leaves the old descriptor, which the
// controller needs to read the flash at all, and the board keeps the old reset
// vector until everything it starts from is in place.
UINTN PlanOrder(const MainState *State, const WritePlan *Plan, UINTN *Order) {
  UINTN Descriptor = DescriptorBlock(State, Plan);
  UINTN ResetVector = Plan->BlockCount - 1;
  UINTN Count = 0;
  for (UINTN Block = 0; Block < Plan->BlockCount; Block++) {
    if (Block != Descriptor && Block != ResetVector) {
      Order[Count++] = Block;
    }
  }
  if (ResetVector != Descriptor) {
    Order[Count++] = ResetVector;
  }
  if (Descriptor < Plan->BlockCount) {
    Order[Count++] = Descriptor;
  }
  return Count;
}

// Erases, programs and verifies the planned blocks, one dot each. After a failure
// on the first of them, the block read back tells whether the flash is still as
// it was. A completed run, and a failed one that changed the flash, end with an
// account of the blocks.
BOOLEAN RewritePlannedBlocks(MainState *State, const WritePlan *Plan) {
  UINTN Order[MaxFlashBlocks];
  UINTN Steps = PlanOrder(State, Plan, Order);
  UINTN Descriptor = DescriptorBlock(State, Plan);
  UINTN Rewritten = 0;  // blocks of this run erased, programmed and read back
  for (UINTN Step = 0; Step < Steps; Step++) {
    UINTN Block = Order[Step];
    if (!Plan->Rewrite[Block]) {
      continue;
    }
    UINTN Offset = Block * FLASH_BLOCK_64K;
    SpiClearCycleFailure();
    EFI_STATUS Status = RewriteBlock(State, Offset, Block == Descriptor);
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
  // The image is the window or the whole flash: whole blocks.
  Plan.BlockCount = ImageBytes / FLASH_BLOCK_64K;
  if (!ReadCurrentContents(State, Plan.BlockCount * FLASH_BLOCK_64K)) {
    CloseImageFile(State);
    return FALSE;
  }
  MarkDifferingBlocks(State, &Plan);
  if (!CheckDescriptorKept(State, &Plan) || !CheckImageDescriptor(State) ||
      !CheckResetVector(State, &Plan) || !CheckPlanWritable(State, &Plan) ||
      !RewritePlannedBlocks(State, &Plan)) {
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
  } else if (Status == EFI_SUCCESS && SizeStatus != EFI_SUCCESS) {
    // Of a file of unknown size, a 16 MiB whole-flash image could be taken for
    // the BIOS window.
    Status = SizeStatus;
  } else if (Status == EFI_SUCCESS && !ImageSizeFits(FileSize)) {
    PrintImageSize(PrintedSize);
    RefuseImageSize(State, FileSize);
    return;
  } else if (Status == EFI_SUCCESS && FileSize == WHOLE_FLASH_SIZE) {
    if (!EnterWholeFlashMode(State, &Status)) {
      return;
    }
    PrintedSize = WHOLE_FLASH_SIZE;
  }

  PrintImageSize(PrintedSize);
  State->Status = Status;
  if (Status != EFI_SUCCESS) {
    RefuseFile(State, FileName, Status);
  } else if (ProgramFlash(State, FileName, FileSize)) {
    CloseAndReset(State);
  }
}
