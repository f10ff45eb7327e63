// Software-sequenced cycles of the PCH SPI controller: the controller sends an
// opcode of its menu (OPMENU/OPTYPE, with a prefix opcode of PREOP ahead of it)
// with the address and data given. Used to erase and program where no valid
// descriptor allows hardware sequencing.
#pragma once

#include "uefi/uefi.h"

EFI_STATUS SwSeqCycle(UINT32 FlashAddress, UINT8 CountCode, UINT8 Slot, BOOLEAN PrefixFlag,
                      BOOLEAN AtomicFlag, BOOLEAN DataFlag);
// The two waits of a cycle, on SSFSTS_CTL: until no cycle runs, and until the
// started one is done. EFI_TIMEOUT when the poll bound runs out; the wait for
// done gives EFI_ACCESS_DENIED for AEL and EFI_DEVICE_ERROR for FCERR.
EFI_STATUS SwSeqWaitIdle();
EFI_STATUS SwSeqWaitDone();

// One erase with the menu's erase opcode (slot 1) at FlashLinear, atomic with
// prefix opcode 0 ahead of it.
EFI_STATUS SwSeqEraseBlock(UINT32 FlashLinear);
// One byte programmed with the menu's program opcode (slot 2), likewise atomic.
EFI_STATUS SwSeqProgramByte(UINT32 FlashLinear, UINT8 Byte);
