// Flash operations addressed by BIOS memory address. Reads always, erases and
// programs with a valid descriptor, go through the hardware-sequenced cycles on the
// whole flash; without a descriptor erases and programs run as software-sequenced
// cycles with the opcodes the part set-up loaded (slot 1 erase, slot 2 program,
// prefix opcode 0 ahead of each).
#include "flash/bios_flash.h"

#include "flash/flash_descriptor.h"
#include "flash/flash_geometry.h"
#include "flash/hw_access.h"
#include "flash/part_table.h"
#include "flash/regs/spi_mmio.h"
#include "flash/spi_hwseq.h"
#include "flash/spi_setup.h"
#include "flash/spi_swseq.h"

namespace {

// Hardware-sequenced programs go to the cycle layer a sector at a time.
constexpr UINT32 HW_SEQ_WRITE_PIECE = FLASH_SECTOR_4K;

UINT64 WindowFlashEnd() {
  return static_cast<UINT64>(BiosWindow.FlashOffset + static_cast<INT64>(BiosWindow.Size));
}

// Software-sequenced cycles address the chip directly, so they need an identified
// part: the generic row's capacity is a guess that would move every address. They
// also need the window to sit at the top of the flash, where the chipset maps the
// BIOS: only then does the window conversion hit the bytes the processor boots from.
EFI_STATUS CheckSoftwarePath() {
  if (!SpiControllerReady()) {
    return EFI_NOT_READY;
  }
  INT32 Row = SelectedFlashPartIndex();
  if (Row < 0 || FlashPartTable[Row].Geometry.ChipId == FLASH_GENERIC_CHIP_ID) {
    return EFI_UNSUPPORTED;
  }
  INT64 TopOffset = static_cast<INT64>(BiosWindow.FlashSize) - static_cast<INT64>(BiosWindow.Size);
  if (BiosWindow.FlashOffset != TopOffset || BiosWindow.EraseBlockSize == 0) {
    return EFI_UNSUPPORTED;
  }
  return EFI_SUCCESS;
}

BOOLEAN InWritableRange(UINT64 First, UINT64 Last) {
  return First >= BiosWindow.WritableLow && Last <= BiosWindow.WritableHigh;
}

EFI_STATUS SwSeqErase(UINT64 Address, UINT64 Length) {
  EFI_STATUS Status = CheckSoftwarePath();
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINT64 Flash = 0;
  if (!BiosAddressToFlashLinear(Address, &Flash)) {
    return EFI_INVALID_PARAMETER;
  }
  UINT64 Block = BiosWindow.EraseBlockSize;
  Flash -= Flash % Block;  // the enclosing erase block
  INT64 Remaining = static_cast<INT64>(Length);
  while (Remaining > 0) {
    // Blocks outside the writable range are left alone without a report.
    if (InWritableRange(Flash, Flash + Block - 1)) {
      Status = SwSeqEraseBlock(static_cast<UINT32>(Flash));
      if (EFI_ERROR(Status)) {
        return Status;
      }
    }
    Flash += Block;
    Remaining -= static_cast<INT64>(Block);
  }
  return EFI_SUCCESS;
}

// One software-sequenced cycle per byte.
EFI_STATUS SwSeqProgram(UINT64 Flash, const UINT8 *Source, UINT64 Length) {
  for (UINT64 I = 0; I < Length; I++) {
    EFI_STATUS Status = SwSeqProgramByte(static_cast<UINT32>(Flash + I), Source[I]);
    if (EFI_ERROR(Status)) {
      return Status;  // the bytes before this one stay programmed
    }
  }
  return EFI_SUCCESS;
}

}  // namespace

// The window bounds of read, erase and program: from Base - FlashOffset (the
// flash below the window) to the window's last byte. One conversion serves every
// operation and the write-protection check, so the comparison read, the check,
// the erase and the program of one BIOS address always reach the same flash bytes.
BOOLEAN BiosAddressToFlashLinear(UINT64 Address, UINT64 *Linear) {
  UINT64 Low = BiosWindow.Base - static_cast<UINT64>(BiosWindow.FlashOffset);
  UINT64 High = BiosWindow.Base + BiosWindow.Size - 1;
  if (Address < Low || Address > High) {
    return FALSE;
  }
  *Linear = static_cast<UINT64>(BiosWindow.FlashOffset) + (Address - BiosWindow.Base);
  return TRUE;
}

EFI_STATUS BiosFlashRead(VOID *Buffer, UINT64 Address, UINT64 Length) {
  UINT64 Flash = 0;
  if (Address == 0 || Buffer == nullptr || Length > BiosWindow.Size ||
      !BiosAddressToFlashLinear(Address, &Flash)) {
    return EFI_INVALID_PARAMETER;
  }
  // The end of the range is left to the cycle layer, which refuses a range past the flash.
  return SpiFlashRead(FlashRegionWholeFlash, static_cast<UINT32>(Flash),
                      static_cast<UINT32>(Length), static_cast<UINT8 *>(Buffer));
}

EFI_STATUS BiosFlashErase(UINT64 Address, UINT64 Length) {
  if (!BiosWindow.DescriptorMode) {
    return SwSeqErase(Address, Length);
  }
  UINT64 Flash = 0;
  if (!BiosAddressToFlashLinear(Address, &Flash)) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Length & 0xFFF) != 0 || Flash + Length > WindowFlashEnd()) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status =
      SpiFlashErase(FlashRegionWholeFlash, static_cast<UINT32>(Flash), static_cast<UINT32>(Length));
  return EFI_ERROR(Status) ? Status : EFI_SUCCESS;
}

EFI_STATUS BiosFlashProgram(UINT64 Address, const VOID *Buffer, UINT64 *Length) {
  if (Length == nullptr || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (!BiosWindow.DescriptorMode) {
    EFI_STATUS Status = CheckSoftwarePath();
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  UINT64 Flash = 0;
  if (!BiosAddressToFlashLinear(Address, &Flash)) {
    return EFI_INVALID_PARAMETER;
  }
  UINT64 N = *Length;
  if (!InWritableRange(Flash, Flash + N - 1)) {
    return EFI_INVALID_PARAMETER;
  }
  if (!BiosWindow.DescriptorMode) {
    return SwSeqProgram(Flash, static_cast<const UINT8 *>(Buffer), N);
  }
  UINT32 Written = static_cast<UINT32>(N);
  EFI_STATUS Status = BiosFlashWrite(Address, &Written, Buffer);
  *Length = (*Length & 0xFFFFFFFF00000000ULL) | Written;
  return EFI_ERROR(Status) ? Status : EFI_SUCCESS;
}

EFI_STATUS BiosFlashWrite(UINT64 Address, UINT32 *Length, const VOID *Buffer) {
  UINT64 Flash = 0;
  if (Length == nullptr || Buffer == nullptr || !BiosAddressToFlashLinear(Address, &Flash)) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 N = *Length;
  if (Flash + N > WindowFlashEnd()) {
    return EFI_INVALID_PARAMETER;
  }
  // The cycle layer only reads from a write buffer.
  UINT8 *Source = const_cast<UINT8 *>(static_cast<const UINT8 *>(Buffer));
  EFI_STATUS Status = EFI_SUCCESS;
  while (N > 0) {
    UINT32 Piece = N < HW_SEQ_WRITE_PIECE ? N : HW_SEQ_WRITE_PIECE;
    Status = SpiFlashWrite(FlashRegionWholeFlash, static_cast<UINT32>(Flash), Piece, Source);
    if (EFI_ERROR(Status)) {
      break;
    }
    Flash += Piece;
    Source += Piece;
    N -= Piece;
  }
  *Length -= N;  // the failed piece and the rest are not counted
  return Status;
}

EFI_STATUS TranslateBiosAddress(UINT64 Address, UINT64 *ImageAddress) {
  if (ImageAddress == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINT64 Mmio = SpiDecodingBar();
  if (!DescriptorValid(Mmio)) {
    return EFI_UNSUPPORTED;
  }
  if (Address < BiosWindow.Base) {
    return EFI_UNSUPPORTED;
  }
  UINT64 BiosRegionBase = SpiRangeBase(RegRead32(Mmio + FREG0 + FREG_STRIDE * FREG_BIOS_REGION));
  *ImageAddress = BiosRegionBase + (Address - BiosWindow.Base) + FOUR_GIB - BiosWindow.FlashSize;
  return EFI_SUCCESS;
}
