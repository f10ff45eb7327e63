// Flash operations addressed by the memory address at which the BIOS is mapped.
#pragma once

#include "uefi/uefi.h"

// The flash-linear address at which the operations below read, erase and
// program the byte at BIOS address Address; FALSE when they refuse the address.
BOOLEAN BiosAddressToFlashLinear(UINT64 Address, UINT64 *Linear);

EFI_STATUS BiosFlashRead(VOID *Buffer, UINT64 Address, UINT64 Length);
EFI_STATUS BiosFlashErase(UINT64 Address, UINT64 Length);
EFI_STATUS BiosFlashProgram(UINT64 Address, const VOID *Buffer, UINT64 *Length);
EFI_STATUS BiosFlashWrite(UINT64 Address, UINT32 *Length, const VOID *Buffer);
EFI_STATUS TranslateBiosAddress(UINT64 Address, UINT64 *ImageAddress);
