// An SPI NOR flash chip as seen on its pins: each transaction (chip select low,
// bytes out, bytes in, chip select high) is one command. The chip has a status
// register with WIP and WEL, needs WEL for every program, erase and status write,
// clears WEL after each of them, ignores everything but RDSR while busy, programs
// by AND-ing into the array within one 256-byte page (wrapping at the page end),
// and erases to 0xFF. With a block-protect bit set the array is protected: program
// and erase commands are ignored without an error flag (WEL still clears). Busy
// time starts when chip select rises, after the command's last byte.
#include "sim/regs/spi_nor.h"
#include "sim/sim_internal.h"

namespace {

constexpr uint32_t ERASE_64K = 0x10000;
constexpr uint32_t ERASE_32K = 0x8000;
constexpr uint8_t FLOATING_BUS = 0xFF;  // what the host clocks in when the chip does not drive

void FillIn(uint8_t *In, uint32_t InLength, uint8_t Value) { SimFill(In, Value, InLength); }

// Array bytes from Address on, wrapping at the end of the array.
void ReadArray(const SimChip *Chip, uint32_t Address, uint8_t *In, uint32_t InLength) {
  uint32_t Done = 0;
  while (Done < InLength) {
    const uint32_t ToEnd = Chip->Model->Size - Address;
    const uint32_t Run = InLength - Done < ToEnd ? InLength - Done : ToEnd;
    SimCopy(In + Done, Chip->Array + Address, Run);
    Done += Run;
    Address = (Address + Run) & (Chip->Model->Size - 1);
  }
}

uint32_t AddressOf(const SimChip *Chip, const uint8_t *Out) {
  uint32_t Address = 0;
  for (uint32_t I = 0; I < SimChipAddressBytes(Chip); I++) Address = (Address << 8) | Out[1 + I];
  // Address bits above the array are ignored: the top address aliases the last byte.
  return Address & (Chip->Model->Size - 1);
}

// The electronic signature of RES / the device byte of REMS.
uint8_t DeviceByte(const SimChipModel *Model) {
  return Model->IdLength == 3 ? static_cast<uint8_t>(Model->Id[2] - 1) : Model->Id[1];
}

// A minimal SFDP space: header, one parameter header, and the first two dwords of
// the basic flash parameter table (4 KiB erase opcode and density). Parts older
// than SFDP (SST, Atmel DF, ST, PMC) do not answer 5Ah.
bool HasSfdp(const SimChipModel *Model) {
  const uint8_t Vendor = Model->Id[0];
  return Vendor == 0xEF || Vendor == 0xC2 || Vendor == 0xC8 ||
         (Vendor == 0x20 && Model->Id[1] != 0x80);
}

uint8_t SfdpByte(const SimChipModel *Model, uint32_t Address) {
  constexpr uint32_t TABLE = 0x30;
  static constexpr uint8_t Header[16] = {'S',  'F',  'D',  'P',  0x00,  0x01, 0x00, 0xFF,
                                         0x00, 0x00, 0x01, 0x09, TABLE, 0x00, 0x00, 0xFF};
  if (Address < sizeof(Header)) return Header[Address];
  if (Address >= TABLE && Address < TABLE + 8) {
    const bool Has4k = Model->SmallEraseSize == 0x1000;
    const uint32_t Dword0 = 0xFFFF00E0u | (Has4k ? 0x01u : 0x03u) |
                            (static_cast<uint32_t>(Has4k ? Model->Erase4kOpcode : 0xFF) << 8);
    const uint32_t Dword1 = Model->Size * 8 - 1;
    const uint32_t Offset = Address - TABLE;
    const uint32_t Dword = Offset < 4 ? Dword0 : Dword1;
    return static_cast<uint8_t>(Dword >> ((Offset & 3) * 8));
  }
  return FLOATING_BUS;
}

// Erase size of an opcode on this chip, 0 when the chip does not know it.
uint32_t EraseSizeOf(const SimChipModel *Model, uint8_t Opcode) {
  if (Opcode == Model->Erase4kOpcode) return Model->SmallEraseSize;
  if (Model->Erase32kOpcode != 0 && Opcode == Model->Erase32kOpcode) return ERASE_32K;
  if (Model->Erase64kOpcode != 0 && Opcode == Model->Erase64kOpcode) return ERASE_64K;
  return 0;
}

uint64_t EraseTimeOf(const SimChipModel *Model, uint8_t Opcode) {
  if (Opcode == Model->Erase4kOpcode) return Model->SmallEraseNs;
  if (Opcode == Model->Erase32kOpcode) return SIM_ERASE_32K_NS;
  return SIM_ERASE_64K_NS;
}

void Erase(SimPlatform *Platform, SimChip *Chip, uint32_t Base, uint32_t Size) {
  SimFill(Chip->Array + Base, 0xFF, Size);
  SimRecordRange(Platform, &Platform->Erased, Chip->FlashBase + Base,
                 Chip->FlashBase + Base + Size);
}

// Page program: data beyond the page end wraps to the page start; of more than
// 256 bytes only the last 256 count; bits only go from 1 to 0.
void PageProgram(SimPlatform *Platform, SimChip *Chip, uint32_t Address, const uint8_t *Data,
                 uint32_t Length) {
  const uint32_t Page = Address & ~(SPI_PAGE_SIZE - 1) & (Chip->Model->Size - 1);
  uint32_t Offset = Address & (SPI_PAGE_SIZE - 1);
  if (Length > SPI_PAGE_SIZE) {
    Offset = (Offset + Length - SPI_PAGE_SIZE) & (SPI_PAGE_SIZE - 1);
    Data += Length - SPI_PAGE_SIZE;
    Length = SPI_PAGE_SIZE;
  }
  uint32_t RunStart = Offset;
  for (uint32_t I = 0; I < Length; I++) {
    Chip->Array[Page + Offset] &= Data[I];
    Offset = (Offset + 1) & (SPI_PAGE_SIZE - 1);
    if (Offset == 0 && I + 1 < Length) {
      SimRecordRange(Platform, &Platform->Programmed, Chip->FlashBase + Page + RunStart,
                     Chip->FlashBase + Page + SPI_PAGE_SIZE);
      RunStart = 0;
    }
  }
  const uint32_t RunEnd = Offset == 0 ? SPI_PAGE_SIZE : Offset;
  SimRecordRange(Platform, &Platform->Programmed, Chip->FlashBase + Page + RunStart,
                 Chip->FlashBase + Page + RunEnd);
}

// Any BP bit protects the whole array: the model keeps no per-part map of
// partial protection, and a driver must not write to a protected chip anyway.
bool ArrayProtected(const SimChip *Chip) {
  return (Chip->Status & Chip->Model->BlockProtectBits) != 0;
}

// A program or erase that the chip accepted but its protection refuses: nothing
// happens in the array, and WEL clears as after any program or erase.
void RefuseProtected(SimChip *Chip) { Chip->Status &= static_cast<uint8_t>(~SPI_SR_WEL); }

}  // namespace

uint32_t SimChipAddressBytes(const SimChip *Chip) {
  // Parts above 16 MiB run in 4-byte address mode (set by firmware at boot).
  return Chip->Model->Size > 0x1000000 ? 4 : 3;
}

void SimChipPowerOn(SimChip *Chip, const SimChipModel *Model, uint8_t *Array, uint32_t FlashBase,
                    uint8_t Status) {
  Chip->Model = Model;
  Chip->Array = Array;
  Chip->FlashBase = FlashBase;
  Chip->Status = static_cast<uint8_t>(Status & SPI_SR_WRITABLE);
  Chip->StatusWriteEnabled = false;
  Chip->BusyUntilNs = 0;
}

bool SimChipBusy(const SimChip *Chip, uint64_t TimeNs) { return TimeNs < Chip->BusyUntilNs; }

SimChipResult SimChipTransfer(SimPlatform *Platform, SimChip *Chip, uint64_t TimeNs,
                              const uint8_t *Out, uint32_t OutLength, uint8_t *In,
                              uint32_t InLength) {
  SimChipResult Result{false};
  FillIn(In, InLength, FLOATING_BUS);
  if (OutLength == 0) return Result;
  const SimChipModel *Model = Chip->Model;
  const uint8_t Opcode = Out[0];
  const bool Busy = SimChipBusy(Chip, TimeNs);
  const uint64_t DeselectNs = TimeNs + SimBusTimeNs(Platform, OutLength + InLength);
  const uint8_t Status = static_cast<uint8_t>(Chip->Status | (Busy ? SPI_SR_WIP : 0));
  const uint32_t AddressBytes = SimChipAddressBytes(Chip);
  const bool HasAddress = OutLength >= 1 + AddressBytes;

  if (Opcode == SPI_RDSR) {
    FillIn(In, InLength, Status);
    return Result;
  }
  // A program, erase or status write in progress: every other command is ignored.
  if (Busy) return Result;

  switch (Opcode) {
    case SPI_WREN:
      Chip->Status |= SPI_SR_WEL;
      return Result;
    case SPI_WRDI:
      Chip->Status &= static_cast<uint8_t>(~SPI_SR_WEL);
      Chip->StatusWriteEnabled = false;
      return Result;
    case SPI_EWSR:
      Chip->StatusWriteEnabled = true;
      return Result;
    case SPI_WRSR: {
      const bool Enabled = (Chip->Status & SPI_SR_WEL) != 0 || Chip->StatusWriteEnabled;
      if (!Enabled || OutLength < 2) return Result;
      // After EWSR the write goes to the volatile copy and takes no time.
      const uint64_t BusyNs =
          (Chip->Status & SPI_SR_WEL) != 0 && !Chip->StatusWriteEnabled ? SIM_WRITE_STATUS_NS : 0;
      Chip->Status = static_cast<uint8_t>(Out[1] & SPI_SR_WRITABLE);
      Chip->StatusWriteEnabled = false;
      Chip->BusyUntilNs = DeselectNs + BusyNs;
      Result.Modified = true;
      return Result;
    }
    case SPI_READ:
    case SPI_FAST_READ: {
      const uint32_t Dummy = Opcode == SPI_FAST_READ ? 1 : 0;
      if (OutLength < 1 + AddressBytes + Dummy) return Result;
      ReadArray(Chip, AddressOf(Chip, Out), In, InLength);
      return Result;
    }
    case SPI_PP: {
      if ((Chip->Status & SPI_SR_WEL) == 0 || OutLength <= 1 + AddressBytes) return Result;
      const uint32_t Address = AddressOf(Chip, Out);
      const uint8_t *Data = Out + 1 + AddressBytes;
      const uint32_t Length = OutLength - 1 - AddressBytes;
      if (ArrayProtected(Chip)) {
        RefuseProtected(Chip);
        return Result;
      }
      if (Model->ByteProgram) {
        Chip->Array[Address] &= Data[0];
        SimRecordRange(Platform, &Platform->Programmed, Chip->FlashBase + Address,
                       Chip->FlashBase + Address + 1);
      } else {
        PageProgram(Platform, Chip, Address, Data, Length);
      }
      Chip->Status &= static_cast<uint8_t>(~SPI_SR_WEL);
      Chip->BusyUntilNs = DeselectNs + SimProgramNs(Model, Length);
      Result.Modified = true;
      return Result;
    }
    case SPI_CHIP_ERASE_60:
    case SPI_CHIP_ERASE_C7:
      if ((Chip->Status & SPI_SR_WEL) == 0 || OutLength != 1) return Result;
      if (ArrayProtected(Chip)) {
        RefuseProtected(Chip);
        return Result;
      }
      Erase(Platform, Chip, 0, Model->Size);
      Chip->Status &= static_cast<uint8_t>(~SPI_SR_WEL);
      Chip->BusyUntilNs = DeselectNs + SIM_ERASE_64K_NS * (Model->Size / ERASE_64K);
      Result.Modified = true;
      return Result;
    case SPI_RDID:
      for (uint32_t I = 0; I < InLength; I++) In[I] = Model->Id[I % Model->IdLength];
      return Result;
    case SPI_REMS: {
      // Two dummy bytes and an address byte whose bit 0 picks which ID comes first.
      if (OutLength < 4) return Result;
      const uint32_t First = Out[3] & 1;
      for (uint32_t I = 0; I < InLength; I++) {
        In[I] = ((I + First) & 1) == 0 ? Model->Id[0] : DeviceByte(Model);
      }
      return Result;
    }
    case SPI_RES:
      if (OutLength < 4) return Result;  // the opcode alone only releases from power-down
      if (Model->IdLength == 2) {
        for (uint32_t I = 0; I < InLength; I++) In[I] = Model->Id[I & 1];
      } else {
        FillIn(In, InLength, DeviceByte(Model));
      }
      return Result;
    case SPI_RDSFDP: {
      if (!HasSfdp(Model) || OutLength < 5) return Result;
      uint32_t Address = (static_cast<uint32_t>(Out[1]) << 16) | (Out[2] << 8) | Out[3];
      for (uint32_t I = 0; I < InLength; I++) In[I] = SfdpByte(Model, Address++);
      return Result;
    }
    default:
      break;
  }

  const uint32_t EraseSize = EraseSizeOf(Model, Opcode);
  if (EraseSize != 0) {
    // Chip select must rise right after the address, with WEL set.
    if ((Chip->Status & SPI_SR_WEL) == 0 || !HasAddress || OutLength != 1 + AddressBytes) {
      return Result;
    }
    if (ArrayProtected(Chip)) {
      RefuseProtected(Chip);
      return Result;
    }
    const uint32_t Base = AddressOf(Chip, Out) & ~(EraseSize - 1);
    Erase(Platform, Chip, Base, EraseSize);
    Chip->Status &= static_cast<uint8_t>(~SPI_SR_WEL);
    Chip->BusyUntilNs = DeselectNs + EraseTimeOf(Model, Opcode);
    Result.Modified = true;
  }
  // Unknown opcodes finish without effect.
  return Result;
}
