#include "base/firmware.h"

FirmwareEnvironment gFirmware = {nullptr, nullptr, nullptr};

VOID *PoolAllocateTyped(EFI_MEMORY_TYPE PoolType, UINTN Size) {
  if (gFirmware.BootServices == nullptr) {
    return nullptr;
  }
  VOID *Buffer = nullptr;
  EFI_STATUS Status = gFirmware.BootServices->AllocatePool(PoolType, Size, &Buffer);
  if (EFI_ERROR(Status)) {
    return nullptr;
  }
  return Buffer;
}

VOID *PoolAllocate(UINTN Size) { return PoolAllocateTyped(EfiBootServicesData, Size); }

VOID *PoolAllocateZeroed(UINTN Size) {
  VOID *Buffer = PoolAllocate(Size);
  if (Buffer != nullptr) {
    MemZero(Buffer, Size);
  }
  return Buffer;
}

EFI_STATUS PoolFree(VOID *Buffer) {
  if (gFirmware.BootServices == nullptr) {
    return EFI_NOT_READY;
  }
  return gFirmware.BootServices->FreePool(Buffer);
}

VOID *PoolReallocate(UINTN OldSize, UINTN NewSize, VOID *OldBuffer) {
  VOID *NewBuffer = PoolAllocateZeroed(NewSize);
  if (NewBuffer == nullptr) {
    return nullptr;  // the old buffer stays with its owner
  }
  if (OldBuffer != nullptr) {
    MemCopy(NewBuffer, OldBuffer, OldSize < NewSize ? OldSize : NewSize);
    PoolFree(OldBuffer);
  }
  return NewBuffer;
}

VOID FreeAndClear(VOID **PoolPointer) {
  if (*PoolPointer != nullptr) {
    PoolFree(*PoolPointer);
  }
  *PoolPointer = nullptr;
}

// The buffers these helpers see are whole flash blocks and windows: they go a word
// at a time where they can (one load or store where a byte loop makes eight).
namespace {
constexpr UINTN WORD_BYTES = sizeof(UINT64);

UINT64 LoadWord(const UINT8 *Bytes) {
  UINT64 Word;
  __builtin_memcpy(&Word, Bytes, WORD_BYTES);
  return Word;
}
}  // namespace

INTN MemCompare(const VOID *A, const VOID *B, UINTN Length) {
  if (Length == 0 || A == B) {
    return 0;
  }
  const UINT8 *Left = static_cast<const UINT8 *>(A);
  const UINT8 *Right = static_cast<const UINT8 *>(B);
  UINTN Index = 0;
  // Equal words are skipped; the first difference is then found byte by byte.
  while (Length - Index >= WORD_BYTES && LoadWord(Left + Index) == LoadWord(Right + Index)) {
    Index += WORD_BYTES;
  }
  for (; Index < Length; Index++) {
    if (Left[Index] != Right[Index]) {
      return (INTN)Left[Index] - (INTN)Right[Index];
    }
  }
  return 0;
}

VOID *MemCopy(VOID *Destination, const VOID *Source, UINTN Length) {
  UINT8 *To = static_cast<UINT8 *>(Destination);
  const UINT8 *From = static_cast<const UINT8 *>(Source);
  if (Length == 0 || To == From) {
    return Destination;
  }
  // Copy away from the overlap: forwards when the destination lies below.
  if (To < From) {
    for (UINTN Index = 0; Index < Length; Index++) {
      To[Index] = From[Index];
    }
  } else {
    for (UINTN Index = Length; Index > 0; Index--) {
      To[Index - 1] = From[Index - 1];
    }
  }
  return Destination;
}

VOID *MemZero(VOID *Buffer, UINTN Length) {
  UINT8 *Bytes = static_cast<UINT8 *>(Buffer);
  const UINT64 Zero = 0;
  UINTN Index = 0;
  for (; Length - Index >= WORD_BYTES; Index += WORD_BYTES) {
    __builtin_memcpy(Bytes + Index, &Zero, WORD_BYTES);
  }
  for (; Index < Length; Index++) {
    Bytes[Index] = 0;
  }
  return Buffer;
}

BOOLEAN GuidEquals(const EFI_GUID *Left, const EFI_GUID *Right) {
  UINT64 LeftHalves[2];
  UINT64 RightHalves[2];
  MemCopy(LeftHalves, Left, sizeof(LeftHalves));
  MemCopy(RightHalves, Right, sizeof(RightHalves));
  return LeftHalves[0] == RightHalves[0] && LeftHalves[1] == RightHalves[1];
}

UINT32 ReadLittleEndian32(const UINT8 *Bytes) {
  return static_cast<UINT32>(Bytes[0]) | static_cast<UINT32>(Bytes[1]) << 8 |
         static_cast<UINT32>(Bytes[2]) << 16 | static_cast<UINT32>(Bytes[3]) << 24;
}
