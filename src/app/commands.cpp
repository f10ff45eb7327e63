#include "app/commands.h"

#include "base/firmware.h"
#include "flash/bios_flash.h"
#include "flash/hw_access.h"
#include "flash/regs/descriptor.h"
#include "flash/regs/rst_cnt.h"
#include "flash/write_protection.h"
#include "shell/console.h"
#include "shell/file.h"
#include "shell/params.h"

namespace {

constexpr UINT64 OpenForRead = EFI_FILE_MODE_READ;
constexpr UINT64 CreateForReadWrite =
    EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;

// A whole-flash image: the 16 MiB flash laid out so that it ends at 4 GiB.
constexpr UINTN WholeFlashImageSize = 0x1000000;
constexpr UINT64 WholeFlashWindowBase = 0xFF000000;

// Comparison, erase and program all work on 64 KiB blocks.
constexpr UINTN FlashBlockSize = 0x10000;
constexpr UINTN MaxFlashBlocks = WholeFlashImageSize / FlashBlockSize;
// BiosFlashRead reads at most the 8 MiB of the BIOS window per call.
constexpr UINTN FlashReadPieceSize = 0x800000;
// A block is read back a piece at a time into a buffer on the stack, so that
// neither the image nor the comparison buffer is overwritten and no pool memory is
// needed: the comparison buffer keeps the block's old contents for the check after
// a failure.
constexpr UINTN ReadBackPieceSize = 0x1000;

// The processor fetches its first instruction 16 bytes below 4 GiB.
constexpr UINT64 ResetVectorAddress = 0xFFFFFFF0;
constexpr UINTN ResetVectorBytes = 16;
constexpr UINT64 FourGiB = 0x100000000ULL;

UINTN Smaller(UINTN A, UINTN B) { return A < B ? A : B; }

VOID CloseImageFile(MainState *State) {
  if (State->File != nullptr) {
    FileClose(&State->File);
    State->File = nullptr;
  }
}

BOOLEAN AllBytesAre(const UINT8 *Bytes, UINTN Count, UINT8 Value) {
  for (UINTN Index = 0; Index < Count; Index++) {
    if (Bytes[Index] != Value) {
      return FALSE;
    }
  }
  return TRUE;
}

// ---- Read command ------------------------------------------------------------------

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

// ---- Write command -----------------------------------------------------------------

// The reset that ends every path of the write command that did not touch the flash
// or that completed it.
VOID CloseAndReset(MainState *State) {
  CloseImageFile(State);
  SystemReset();
}

// The shell opens a directory by name as well, and a read of it gives its
// entries: those must never be taken for an image. A handle without file
// information (the "NUL" device) is no directory.
BOOLEAN IsDirectory(SHELL_FILE_HANDLE File) {
  UINT64 Attributes = 0;
  return FileGetAttributes(File, &Attributes) == EFI_SUCCESS &&
         (Attributes & EFI_FILE_DIRECTORY) != 0;
}

VOID ReportFile(MainState *State, const CHAR16 *FileName, EFI_STATUS Status) {
  ConsolePrint("File '%s' is %r.\r\n", FileName, Status);
  State->Status = Status;
}

// Opens the whole flash through the platform and replaces the two 8 MiB buffers
// by 16 MiB ones. Returns FALSE when the protocol is not there: the command then
// returns at once, without output and without a reset. *Status becomes the
// preparation's status.
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
    State->Status = LocateStatus;
    CloseImageFile(State);
    return FALSE;
  }

  State->FullFlashPrepare = Interface;
  *Status = static_cast<FULL_FLASH_PREPARE_PROTOCOL *>(Interface)->Prepare(Interface, 0, 0);
  if (*Status != EFI_SUCCESS) {
    return TRUE;
  }
  // The preparation may have lifted the descriptor's limits: what may be written
  // is read anew.
  ReadFlashAccessAgain();

  UINT8 *ImageBuffer = static_cast<UINT8 *>(PoolAllocate(WholeFlashImageSize));
  UINT8 *CompareBuffer = static_cast<UINT8 *>(PoolAllocate(WholeFlashImageSize));
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
  State->ImageSize = WholeFlashImageSize;
  State->WindowBase = WholeFlashWindowBase;
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
  for (UINTN Done = 0; Done < FlashBlockSize; Done += ReadBackPieceSize) {
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
  EFI_STATUS Status = BiosFlashErase(Address, FlashBlockSize);
  if (Status != EFI_SUCCESS) {
    return Status;
  }
  UINT64 Length = FlashBlockSize;
  Status = BiosFlashProgram(Address, Image, &Length);
  if (Status != EFI_SUCCESS) {
    return Status;
  }
  if (Length != FlashBlockSize) {
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
    ReportFile(State, FileName, Status);
    return FALSE;
  }
  State->ImageSize = ByteCount;
  *ImageBytes = ByteCount;
  return TRUE;
}

// The blocks of one write: which of them differ from the flash and are to be
// erased and programmed.
struct WritePlan {
  UINTN BlockCount;
  UINTN RewriteCount;
  BOOLEAN Rewrite[MaxFlashBlocks];
};

// Completes a partial last block with what the flash holds there now.
VOID CompleteLastBlock(MainState *State, UINTN ImageBytes, const WritePlan *Plan) {
  UINTN CoveredBytes = Plan->BlockCount * FlashBlockSize;
  MemCopy(State->ImageBuffer + ImageBytes, State->CompareBuffer + ImageBytes,
          CoveredBytes - ImageBytes);
}

VOID MarkDifferingBlocks(const MainState *State, WritePlan *Plan) {
  Plan->RewriteCount = 0;
  for (UINTN Block = 0; Block < Plan->BlockCount; Block++) {
    UINTN Offset = Block * FlashBlockSize;
    Plan->Rewrite[Block] =
        MemCompare(State->ImageBuffer + Offset, State->CompareBuffer + Offset, FlashBlockSize) != 0;
    Plan->RewriteCount += Plan->Rewrite[Block] ? 1 : 0;
  }
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

// Without its descriptor the PCH does not boot from the flash: a block over the
// first 4 KiB is only rewritten with bytes that are a descriptor themselves.
BOOLEAN CheckDescriptorKept(MainState *State, const WritePlan *Plan) {
  for (UINTN Block = 0; Block < Plan->BlockCount; Block++) {
    UINTN Offset = Block * FlashBlockSize;
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

// An image that reaches 4 GiB brings the processor's first instructions; blank
// ones there (erased or zeroed) would leave a board that does not start.
BOOLEAN CheckResetVector(MainState *State, const WritePlan *Plan) {
  if (State->WindowBase + Plan->BlockCount * FlashBlockSize < FourGiB) {
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
    UINT64 Address = State->WindowBase + Block * FlashBlockSize;
    if (Plan->Rewrite[Block] && !FlashRangeErasable(Address, FlashBlockSize)) {
      RefuseOnThisPlatform(State, "the flash controller has no valid erase opcode (VSCC)",
                           EFI_UNSUPPORTED);
      return FALSE;
    }
  }
  return TRUE;
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
    UINT64 Address = State->WindowBase + Block * FlashBlockSize;
    if (Plan->Rewrite[Block] && !FlashRangeWritable(&Protection, Address, FlashBlockSize)) {
      ConsolePrint("\r\nError. Flash is write-protected at 0x%x.\r\n", Address);
      State->Status = EFI_WRITE_PROTECTED;
      return FALSE;
    }
  }
  return TRUE;
}

// Whether the block still holds what the comparison read found in it; a block
// that cannot be read back counts as changed.
BOOLEAN BlockUnchanged(MainState *State, UINTN Offset) {
  return CompareBlockWithFlash(State, Offset, State->CompareBuffer + Offset) == EFI_SUCCESS;
}

VOID ReportFailedBlock(MainState *State, UINTN Offset, EFI_STATUS Status, BOOLEAN NothingChanged) {
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
  State->Status = Status;
}

// Erases, programs and verifies the planned blocks, one dot each. After a failure
// on the first of them, the block read back tells whether the flash is still as
// it was.
BOOLEAN RewritePlannedBlocks(MainState *State, const WritePlan *Plan) {
  BOOLEAN Rewritten = FALSE;  // some block of this run was erased and programmed
  for (UINTN Block = 0; Block < Plan->BlockCount; Block++) {
    if (!Plan->Rewrite[Block]) {
      continue;
    }
    UINTN Offset = Block * FlashBlockSize;
    EFI_STATUS Status = RewriteBlock(State, Offset);
    if (Status != EFI_SUCCESS) {
      ReportFailedBlock(State, Offset, Status, !Rewritten && BlockUnchanged(State, Offset));
      return FALSE;
    }
    Rewritten = TRUE;
    ConsolePrint(".");
  }
  ConsolePrint(" completed.\r\n");
  return TRUE;
}

// Reads the image, compares it with the flash, checks the plan against the image's
// own sanity and the flash protections, then erases and programs the blocks that
// differ. Returns TRUE when the reset is to follow: after a completed run, and
// after a refusal of the file before the flash was read.
BOOLEAN ProgramFlash(MainState *State, const CHAR16 *FileName, UINT64 FileSize) {
  UINTN ImageBytes = 0;
  if (!ReadImageFile(State, FileName, FileSize, &ImageBytes)) {
    return TRUE;
  }
  ConsolePrint("Programming starting ");

  WritePlan Plan;
  Plan.BlockCount = (ImageBytes + FlashBlockSize - 1) / FlashBlockSize;
  if (!ReadCurrentContents(State, Plan.BlockCount * FlashBlockSize)) {
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

VOID ReadCommand(MainState *State) {
  const CHAR16 *FileName = GetPositionalValue(State->Params, 1);

  // The existence test also sees directories.
  SHELL_FILE_HANDLE Existing = nullptr;
  EFI_STATUS ExistStatus = FileOpenByName(FileName, &Existing, OpenForRead, 0);
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
    ConsolePrint("Error. The BIOS could not be read; no file was saved.\r\n");
    State->Status = ReadStatus;
    return;
  }

  State->Status = State->File != nullptr ? SaveImage(State) : NoHandleStatus;
  ConsolePrint("Save to file is %r.\r\n", State->Status);
}

VOID WriteCommand(MainState *State) {
  const CHAR16 *FileName = GetPositionalValue(State->Params, 1);
  State->File = nullptr;
  EFI_STATUS Status = FileOpenByName(FileName, &State->File, OpenForRead, 0);

  UINT64 FileSize = 0;
  EFI_STATUS SizeStatus = EFI_NOT_FOUND;
  if (State->File != nullptr) {
    SizeStatus = FileGetSize(State->File, &FileSize);
  }

  UINTN PrintedSize = DefaultImageSize;
  if (Status == EFI_SUCCESS && IsDirectory(State->File)) {
    Status = EFI_UNSUPPORTED;
  } else if (SizeStatus == EFI_SUCCESS && FileSize == WholeFlashImageSize) {
    if (!EnterWholeFlashMode(State, &Status)) {
      return;
    }
    PrintedSize = WholeFlashImageSize;
  } else if (Status == EFI_SUCCESS && SizeStatus != EFI_SUCCESS) {
    // Of a file of unknown size, a 16 MiB whole-flash image could be taken for
    // the BIOS window.
    Status = SizeStatus;
  } else if (Status == EFI_SUCCESS && FileSize > DefaultImageSize) {
    // Neither a BIOS window image nor a whole-flash image.
    Status = EFI_BAD_BUFFER_SIZE;
  }

  ConsolePrint("Flash BIOS Size : 0x%x\n", static_cast<UINT64>(PrintedSize));
  State->Status = Status;
  if (Status != EFI_SUCCESS) {
    ReportFile(State, FileName, Status);
  } else if (!ProgramFlash(State, FileName, FileSize)) {
    return;
  }
  CloseAndReset(State);
}

VOID SystemReset() {
  ConsolePrint("System reset...\r\n");
  // RST_CPU must change from 0 to 1 to start the reset.
  PortWrite8(RST_CNT, 0x00);
  PortWrite8(RST_CNT, RST_CNT_SYS_RST | RST_CNT_RST_CPU);
}
