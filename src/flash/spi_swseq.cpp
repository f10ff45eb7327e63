#include "flash/spi_swseq.h"

#include "flash/hw_access.h"
#include "flash/regs/spi_mmio.h"
#include "flash/spi_controller.h"
#include "flash/spi_setup.h"

namespace {

// Software sequencing writes its control as a 16-bit word at SSFSTS_CTL + 1: bit
// n of that word is bit n + 8 of the register.
constexpr UINT32 SSFSTS_CTL_CONTROL_WORD = SSFSTS_CTL + 1;
constexpr UINT16 ControlWord(UINT32 RegisterBits) { return static_cast<UINT16>(RegisterBits >> 8); }
constexpr UINT8 SSFSTS_CLEAR = SSFSTS_CTL_FDONE | SSFSTS_CTL_FCERR | SSFSTS_CTL_AEL;
// The control bits a new cycle keeps: the reserved ones, SME, and SCGO, which it sets anyway.
constexpr UINT16 SSFC_KEEP = ControlWord(SSFSTS_CTL_RESERVED | SSFSTS_CTL_SME | SSFSTS_CTL_SCGO);

// Polls the software-sequencing status byte until Done says so; FALSE when the
// bound ran out. The waits get the same bound as the hardware-sequenced ones.
BOOLEAN SwSeqPoll(BOOLEAN (*Done)(UINT8 Status), UINT8 *Last) {
  for (UINT32 Poll = 0; Poll < SPI_CYCLE_POLLS; Poll++) {
    *Last = RegRead8(SpiDecodingBar() + SSFSTS_CTL);
    if (Done(*Last)) {
      return TRUE;
    }
    PmTimerDelay(SpiControllerState.AcpiIoBase, SPI_POLL_DELAY_US);
  }
  return FALSE;
}

BOOLEAN SwSeqIdle(UINT8 Status) { return (Status & SSFSTS_CTL_SCIP) == 0; }
BOOLEAN SwSeqFinished(UINT8 Status) {
  return (Status & (SSFSTS_CTL_FDONE | SSFSTS_CTL_FCERR)) != 0;
}

EFI_STATUS WaitIdle(UINT8 *Last) {
  if (!SwSeqPoll(SwSeqIdle, Last)) {
    return EFI_TIMEOUT;
  }
  RegOr8(SpiDecodingBar() + SSFSTS_CTL, SSFSTS_CLEAR);
  return EFI_SUCCESS;
}

EFI_STATUS WaitDone(UINT8 *Last) {
  if (!SwSeqPoll(SwSeqFinished, Last)) {
    return EFI_TIMEOUT;
  }
  RegOr8(SpiDecodingBar() + SSFSTS_CTL, SSFSTS_CLEAR);
  if ((*Last & SSFSTS_CTL_AEL) != 0) {
    return EFI_ACCESS_DENIED;
  }
  return (*Last & SSFSTS_CTL_FCERR) != 0 ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

}  // namespace

EFI_STATUS SwSeqCycle(UINT32 FlashAddress, UINT8 CountCode, UINT8 Slot, BOOLEAN PrefixFlag,
                      BOOLEAN AtomicFlag, BOOLEAN DataFlag) {
  // The waits run on the PM timer; without an ACPI base its port would be 0x08.
  if (!SpiControllerReady()) {
    return EFI_NOT_READY;
  }
  UINT8 Last = 0;
  EFI_STATUS Status = WaitIdle(&Last);
  if (EFI_ERROR(Status)) {
    SpiRecordCycleFailure(TRUE, FlashAddress, Last, Status);
    return Status;
  }
  UINT32 Control = (CountCode & SSFSTS_CTL_DBC_MASK) << SSFSTS_CTL_DBC_SHIFT |
                   (Slot & SSFSTS_CTL_COP_MASK) << SSFSTS_CTL_COP_SHIFT | SSFSTS_CTL_SCGO;
  if (DataFlag) {
    Control |= SSFSTS_CTL_DS;
  }
  if (PrefixFlag) {
    Control |= SSFSTS_CTL_SPOP;
  }
  if (AtomicFlag) {
    Control |= SSFSTS_CTL_ACS;
  }
  RegWrite32(SpiDecodingBar() + FADDR, FlashAddress);
  // SCGO starts the cycle.
  RegAndOr16(SpiDecodingBar() + SSFSTS_CTL_CONTROL_WORD, SSFC_KEEP, ControlWord(Control));
  Status = WaitDone(&Last);
  if (EFI_ERROR(Status)) {
    SpiRecordCycleFailure(TRUE, FlashAddress, Last, Status);
  }
  return Status;
}

EFI_STATUS SwSeqWaitIdle() {
  UINT8 Last = 0;
  return WaitIdle(&Last);
}

EFI_STATUS SwSeqWaitDone() {
  UINT8 Last = 0;
  return WaitDone(&Last);
}

EFI_STATUS SwSeqEraseBlock(UINT32 FlashLinear) {
  return SwSeqCycle(FlashLinear, 0, OPMENU_SLOT_ERASE, FALSE, TRUE, FALSE);
}

EFI_STATUS SwSeqProgramByte(UINT32 FlashLinear, UINT8 Byte) {
  RegWrite8(SpiDecodingBar() + FDATA0, Byte);
  return SwSeqCycle(FlashLinear, 0, OPMENU_SLOT_PROGRAM, FALSE, TRUE, TRUE);
}
