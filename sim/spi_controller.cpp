// The PCH SPI flash controller's memory-mapped registers (100-series layout) and
// its two ways of running flash cycles: hardware sequencing (FGO: the controller
// picks the opcodes, sends WREN itself and waits for the chip) and software
// sequencing (SCGO: one opcode of the opcode menu, optionally after a prefix
// opcode). Access checks follow the descriptor's region permissions, the
// protected ranges PR0-PR4 and GPR0, and BIOS_CONTROL.
#include "sim/regs/spi_mmio.h"
#include "sim/regs/spi_nor.h"
#include "sim/sim_internal.h"

namespace {

// Opcode menu as firmware leaves it: WRSR, PP, READ, RDSR, SE 4K, RDID, BE 64K,
// FAST READ with prefixes WREN and EWSR.
constexpr uint16_t FIRMWARE_PREOP = 0x5006;
constexpr uint16_t FIRMWARE_OPTYPE = 0xB32D;
constexpr uint32_t FIRMWARE_OPMENU0 = 0x05030201;
constexpr uint32_t FIRMWARE_OPMENU1 = 0x0BD89F20;

constexpr uint32_t DESCRIPTOR_MAP_OFFSET = 0x10;
constexpr uint32_t MAX_TRANSFER = 1 + 4 + 1 + SIM_FDATA_SIZE;  // opcode, address, dummy, data

struct Range {
  uint32_t Base;
  uint32_t End;  // exclusive
};

bool Overlaps(Range A, uint32_t Base, uint32_t Limit) { return A.Base <= Limit && Base < A.End; }

// PRn and GPR0 share one layout: base 14:0, RPE 15, limit 30:16, WPE 31.
uint32_t ProtectedRangeValue(const SimRange &R, uint32_t Enables) {
  return ((R.Base >> 12) & FIELD_4K_MASK) | (((R.Limit >> 12) & FIELD_4K_MASK) << 16) | Enables;
}

// Whether a PRn/GPR0 value refuses a read (RPE) or a write or erase (WPE) of Target.
bool RangeRegisterRefuses(uint32_t Pr, Range Target, bool Write) {
  if ((Pr & (Write ? PR_WPE : PR_RPE)) == 0) return false;
  const uint32_t Base = (Pr & FIELD_4K_MASK) << 12;
  const uint32_t Limit = (((Pr >> 16) & FIELD_4K_MASK) << 12) | 0xFFF;
  return Overlaps(Target, Base, Limit);
}

// One transfer on the SPI bus at the controller's current cycle time.
struct BusCursor {
  SimPlatform *Platform;
  SimChip *Chip;  // null: nothing answers (no such component, or power lost)
  uint64_t TimeNs;
  bool Modified;
};

void Transfer(BusCursor *Bus, const uint8_t *Out, uint32_t OutLength, uint8_t *In,
              uint32_t InLength) {
  if (Bus->Chip != nullptr) {
    const SimChipResult Result =
        SimChipTransfer(Bus->Platform, Bus->Chip, Bus->TimeNs, Out, OutLength, In, InLength);
    Bus->Modified |= Result.Modified;
  } else {
    SimFill(In, 0xFF, InLength);
  }
  Bus->TimeNs += SimBusTimeNs(Bus->Platform, OutLength + InLength);
}

void SendOpcode(BusCursor *Bus, uint8_t Opcode) { Transfer(Bus, &Opcode, 1, nullptr, 0); }

// The controller polls the chip's status until WIP clears; modelled as one RDSR
// at the moment the chip becomes ready.
void WaitChipReady(BusCursor *Bus) {
  if (Bus->Chip != nullptr && Bus->Chip->BusyUntilNs > Bus->TimeNs) {
    Bus->TimeNs = Bus->Chip->BusyUntilNs;
  }
  uint8_t Out = SPI_RDSR;
  uint8_t Status = 0;
  Transfer(Bus, &Out, 1, &Status, 1);
}

uint32_t PutAddress(uint8_t *Out, uint32_t Address, uint32_t AddressBytes) {
  for (uint32_t I = 0; I < AddressBytes; I++) {
    Out[1 + I] = static_cast<uint8_t>(Address >> (8 * (AddressBytes - 1 - I)));
  }
  return 1 + AddressBytes;
}

uint32_t BusAddressBytes(const BusCursor *Bus) {
  return Bus->Chip != nullptr ? SimChipAddressBytes(Bus->Chip) : 3;
}

SimSpiController &Spi(SimPlatform *Platform) { return Platform->Spi; }

bool Locked(const SimPlatform *Platform) {
  return (Platform->Spi.Hsfsts & HSFSTS_CTL_FLOCKDN) != 0;
}

// ---- Cycle bookkeeping ---------------------------------------------------------------

void NoteModifyingCycle(SimPlatform *Platform) {
  Platform->Counters.FlashModifyingCycles++;
  const uint32_t After = Platform->Config.PowerLossAfter;
  if (After != 0 && Platform->Counters.FlashModifyingCycles >= After) Platform->PowerLost = true;
}

// Which chip and chip address a flash-linear address selects.
SimChip *ChipFor(SimPlatform *Platform, uint32_t Address, uint32_t *ChipAddress) {
  const SimDescriptorView &View = Platform->Spi.Descriptor;
  uint32_t Index = 0;
  *ChipAddress = Address;
  if (View.Valid && View.TwoComponents && Address >= View.Component0Size) {
    Index = 1;
    *ChipAddress = Address - View.Component0Size;
  }
  if (Platform->PowerLost || Index >= Platform->ChipCount) return nullptr;
  return &Platform->Chips[Index];
}

uint32_t VsccFor(const SimPlatform *Platform, uint32_t Address) {
  const SimDescriptorView &View = Platform->Spi.Descriptor;
  const bool Upper = View.TwoComponents && Address >= View.Component0Size;
  return Upper ? Platform->Spi.Uvscc : Platform->Spi.Lvscc;
}

void FailHwCycle(SimPlatform *Platform, bool AccessViolation) {
  Spi(Platform).Hsfsts |= HSFSTS_CTL_FCERR | (AccessViolation ? HSFSTS_CTL_AEL : 0);
  Platform->Counters.HwCyclesFailed++;
}

void FailSwCycle(SimPlatform *Platform, bool AccessViolation) {
  Spi(Platform).Ssfsts |= SSFSTS_CTL_FCERR;
  if (AccessViolation) Spi(Platform).Hsfsts |= HSFSTS_CTL_AEL;  // SSFSTS AEL mirrors it
  Platform->Counters.SwCyclesFailed++;
}

// Regions 0..7 by their FRAP bits; FRAP has none for the regions above, which the
// controller grants from the host master's FLMSTR1 bits directly.
bool RegionGranted(const SimSpiController &S, uint32_t Region, bool Write) {
  if (Region < FRAP_REGION_COUNT) {
    return (S.Frap & (1u << (Region + (Write ? FRAP_BRWA_SHIFT : 0)))) != 0;
  }
  const uint32_t Shift = Write ? FLMSTR_WRITE_SHIFT : FLMSTR_READ_SHIFT;
  return (S.Descriptor.Flmstr1 & (1u << (Shift + Region))) != 0;
}

// Region permissions (FRAP), protected ranges and BIOS write protection for a
// programmed access to Target. Returns false when the access must be refused.
bool AccessAllowed(SimPlatform *Platform, Range Target, bool Write) {
  SimSpiController &S = Spi(Platform);
  if (S.Descriptor.Valid) {
    for (uint32_t Region = 0; Region < S.FregCount; Region++) {
      uint32_t Base = 0;
      uint32_t Limit = 0;
      if (!SimRegionRange(S.Freg[Region], &Base, &Limit) || !Overlaps(Target, Base, Limit))
        continue;
      if (!RegionGranted(S, Region, Write)) return false;
    }
    uint32_t BiosBase = 0;
    uint32_t BiosLimit = 0;
    if (Write && SimRegionRange(S.Freg[1], &BiosBase, &BiosLimit) &&
        Overlaps(Target, BiosBase, BiosLimit) &&
        (!SimBiosWriteEnabled(Platform) || SimEissSet(Platform))) {
      return false;
    }
  }
  for (uint32_t N = 0; N < SIM_MAX_PROTECTED_RANGES; N++) {
    if (RangeRegisterRefuses(S.Pr[N], Target, Write)) return false;
  }
  return !RangeRegisterRefuses(S.Gpr0, Target, Write);
}

// ---- Hardware sequencing ---------------------------------------------------------------

bool CycleType(uint32_t Fcycle, SimCycleType *Type) {
  switch (Fcycle) {
    case FCYCLE_READ:
      *Type = SimCycleRead;
      return true;
    case FCYCLE_WRITE:
      *Type = SimCycleWrite;
      return true;
    case FCYCLE_ERASE_4K:
      *Type = SimCycleErase4k;
      return true;
    case FCYCLE_ERASE_64K:
      *Type = SimCycleErase64k;
      return true;
    case FCYCLE_READ_SFDP:
      *Type = SimCycleReadSfdp;
      return true;
    case FCYCLE_READ_JEDEC_ID:
      *Type = SimCycleReadJedecId;
      return true;
    case FCYCLE_WRITE_STATUS:
      *Type = SimCycleWriteStatus;
      return true;
    case FCYCLE_READ_STATUS:
      *Type = SimCycleReadStatus;
      return true;
    default:
      return false;
  }
}

// The status-register write some parts need before every write and erase
// (VSCC WSR: EWSR then WRSR 00h; WEWS: WREN then WRSR 00h).
void ClearStatusIfRequired(BusCursor *Bus, uint32_t Vscc) {
  if ((Vscc & (VSCC_WSR | VSCC_WEWS)) == 0) return;
  SendOpcode(Bus, (Vscc & VSCC_WEWS) != 0 ? SPI_WREN : SPI_EWSR);
  const uint8_t Out[2] = {SPI_WRSR, 0x00};
  Transfer(Bus, Out, 2, nullptr, 0);
  WaitChipReady(Bus);
}

void RunHwProgram(BusCursor *Bus, uint32_t ChipAddress, const uint8_t *Data, uint32_t Count,
                  uint32_t Vscc) {
  uint8_t Out[MAX_TRANSFER];
  ClearStatusIfRequired(Bus, Vscc);
  // With 1-byte write granularity every byte is its own program command.
  const uint32_t Step = (Vscc & VSCC_WG_64) != 0 ? Count : 1;
  for (uint32_t Done = 0; Done < Count; Done += Step) {
    SendOpcode(Bus, SPI_WREN);
    Out[0] = SPI_PP;
    const uint32_t Header = PutAddress(Out, ChipAddress + Done, BusAddressBytes(Bus));
    SimCopy(Out + Header, Data + Done, Step);
    Transfer(Bus, Out, Header + Step, nullptr, 0);
    WaitChipReady(Bus);
  }
}

void RunHwErase(BusCursor *Bus, uint32_t ChipAddress, uint8_t Opcode, uint32_t Vscc) {
  uint8_t Out[8];
  ClearStatusIfRequired(Bus, Vscc);
  SendOpcode(Bus, SPI_WREN);
  Out[0] = Opcode;
  Transfer(Bus, Out, PutAddress(Out, ChipAddress, BusAddressBytes(Bus)), nullptr, 0);
  WaitChipReady(Bus);
}

// Out of line, as StartSwCycle: their bus buffers then live on the stack only when a
// cycle starts, not in the frame of every register access they would be inlined into.
__attribute__((noinline)) void StartHwCycle(SimPlatform *Platform) {
  SimSpiController &S = Spi(Platform);
  S.HwCycleNumber++;
  const uint32_t Fcycle = (S.Hsfsts & HSFSTS_CTL_FCYCLE_MASK) >> HSFSTS_CTL_FCYCLE_SHIFT;
  const uint32_t Count = ((S.Hsfsts & HSFSTS_CTL_FDBC_MASK) >> HSFSTS_CTL_FDBC_SHIFT) + 1;
  const uint32_t Address = S.Faddr & FADDR_MASK;
  SimCycleType Type = SimCycleRead;
  const bool Known = CycleType(Fcycle, &Type);
  if (Known) Platform->Counters.HwCycles[Type]++;

  // A second cycle while one runs is refused; the running one goes on.
  if (S.Owner != SimCycleNone || !S.Descriptor.Valid || !Known) return FailHwCycle(Platform, false);

  const bool IsErase = Type == SimCycleErase4k || Type == SimCycleErase64k;
  const bool IsWrite = Type == SimCycleWrite || IsErase;
  const bool Addressed = Type == SimCycleRead || IsWrite;
  if (Addressed) {
    Range Target{Address, Address + Count};
    if (Type == SimCycleErase4k) Target = Range{Address & ~0xFFFu, (Address & ~0xFFFu) + 0x1000};
    if (Type == SimCycleErase64k) {
      Target = Range{Address & ~0xFFFFu, (Address & ~0xFFFFu) + 0x10000};
    }
    const SimDescriptorView &View = S.Descriptor;
    const bool CrossesComponents =
        View.TwoComponents && Target.Base < View.Component0Size && Target.End > View.Component0Size;
    if (Target.End > View.TotalSize || CrossesComponents) return FailHwCycle(Platform, false);
    if (!AccessAllowed(Platform, Target, IsWrite)) return FailHwCycle(Platform, true);
  }
  if (Type == SimCycleWriteStatus && (S.Hsfsts & HSFSTS_CTL_WRSDIS) != 0) {
    return FailHwCycle(Platform, true);
  }
  const uint32_t Vscc = VsccFor(Platform, Address);
  uint8_t EraseOpcode = 0;
  if (Type == SimCycleErase4k) {
    if ((Vscc & VSCC_EO_4K_VALID) == 0) return FailHwCycle(Platform, false);
    EraseOpcode = static_cast<uint8_t>(Vscc >> VSCC_EO_4K_SHIFT);
  }
  if (Type == SimCycleErase64k) {
    if ((Vscc & VSCC_EO_64K_VALID) == 0) return FailHwCycle(Platform, false);
    EraseOpcode = static_cast<uint8_t>(Vscc >> VSCC_EO_64K_SHIFT);
  }

  S.Owner = SimCycleHw;
  S.WriteOrErase = IsWrite;
  S.EndWithError = false;
  S.ReadLength = 0;
  if (Platform->Config.FailCycle != 0 && S.HwCycleNumber == Platform->Config.FailCycle) {
    // An injected failure: the opcode and address go out, nothing reaches the
    // array, and the cycle ends with FCERR.
    S.EndWithError = true;
    S.EndNs = Platform->NowNs + SimBusTimeNs(Platform, 5);
    Platform->Counters.HwCyclesFailed++;
    return;
  }
  if (Platform->Config.StuckBusy) {
    // The controller never reports the end of this cycle; nothing reaches the chip.
    S.Stuck = true;
    return;
  }

  uint32_t ChipAddress = 0;
  BusCursor Bus{Platform, ChipFor(Platform, Address, &ChipAddress), Platform->NowNs, false};
  uint8_t Out[MAX_TRANSFER];
  switch (Type) {
    case SimCycleRead: {
      const bool Fast = S.Descriptor.FastRead;
      Out[0] = Fast ? SPI_FAST_READ : SPI_READ;
      uint32_t Length = PutAddress(Out, ChipAddress, BusAddressBytes(&Bus));
      if (Fast) Out[Length++] = 0;  // dummy byte
      Transfer(&Bus, Out, Length, S.ReadData, Count);
      S.ReadLength = Count;
      break;
    }
    case SimCycleWrite:
      RunHwProgram(&Bus, ChipAddress, S.Fdata, Count, Vscc);
      break;
    case SimCycleErase4k:
    case SimCycleErase64k:
      RunHwErase(&Bus, ChipAddress, EraseOpcode, Vscc);
      break;
    case SimCycleReadSfdp: {
      Out[0] = SPI_RDSFDP;
      uint32_t Length = PutAddress(Out, Address & 0xFFFFFF, 3);
      Out[Length++] = 0;  // eight wait states
      Transfer(&Bus, Out, Length, S.ReadData, Count);
      S.ReadLength = Count;
      break;
    }
    case SimCycleReadJedecId:
      Out[0] = SPI_RDID;
      Transfer(&Bus, Out, 1, S.ReadData, Count);
      S.ReadLength = Count;
      break;
    case SimCycleWriteStatus:
      SendOpcode(&Bus, (S.Hsfsts & HSFSTS_CTL_WET) != 0 ? SPI_EWSR : SPI_WREN);
      Out[0] = SPI_WRSR;
      Out[1] = S.Fdata[0];
      Transfer(&Bus, Out, 2, nullptr, 0);
      WaitChipReady(&Bus);
      break;
    case SimCycleReadStatus:
      Out[0] = SPI_RDSR;
      Transfer(&Bus, Out, 1, S.ReadData, Count);
      S.ReadLength = Count;
      break;
    default:
      break;
  }
  S.EndNs = Bus.TimeNs;
  if (Bus.Modified) NoteModifyingCycle(Platform);
}

// ---- Software sequencing ---------------------------------------------------------------

__attribute__((noinline)) void StartSwCycle(SimPlatform *Platform) {
  SimSpiController &S = Spi(Platform);
  Platform->Counters.SwCycles++;
  if (S.Owner != SimCycleNone) return FailSwCycle(Platform, false);

  const uint32_t Slot = (S.Ssfsts >> SSFSTS_CTL_COP_SHIFT) & 7;
  const uint8_t Opcode = static_cast<uint8_t>(S.Opmenu[Slot / 4] >> (8 * (Slot % 4)));
  const uint32_t OpType = (S.Optype >> (2 * Slot)) & 3;
  const bool Write = (OpType & OPTYPE_WRITE) != 0;
  const bool HasAddress = (OpType & OPTYPE_ADDRESS) != 0;
  const bool Data = (S.Ssfsts & SSFSTS_CTL_DS) != 0;
  const uint32_t Count = Data ? ((S.Ssfsts >> SSFSTS_CTL_DBC_SHIFT) & 0x3F) + 1 : 0;
  const uint32_t Address = S.Faddr & SW_FADDR_MASK;

  if (HasAddress) {
    const Range Target{Address, Address + (Count != 0 ? Count : 1)};
    if (!AccessAllowed(Platform, Target, Write)) return FailSwCycle(Platform, true);
  }

  uint32_t ChipAddress = 0;
  BusCursor Bus{Platform, ChipFor(Platform, Address, &ChipAddress), Platform->NowNs, false};
  const bool Atomic = (S.Ssfsts & SSFSTS_CTL_ACS) != 0;
  if (Atomic) {
    const bool Second = (S.Ssfsts & SSFSTS_CTL_SPOP) != 0;
    SendOpcode(&Bus, static_cast<uint8_t>(S.Preop >> (Second ? 8 : 0)));
  }
  uint8_t Out[MAX_TRANSFER];
  Out[0] = Opcode;
  uint32_t Length = HasAddress ? PutAddress(Out, ChipAddress & SW_FADDR_MASK, 3) : 1;
  uint32_t InLength = 0;
  if (Write) {
    SimCopy(Out + Length, S.Fdata, Count);
    Length += Count;
  } else {
    InLength = Count;
  }
  Transfer(&Bus, Out, Length, S.ReadData, InLength);
  // An atomic sequence also waits for the chip to finish.
  if (Atomic) WaitChipReady(&Bus);

  S.Owner = SimCycleSw;
  S.WriteOrErase = false;
  S.Stuck = false;
  S.EndWithError = false;
  S.ReadLength = InLength;
  S.EndNs = Bus.TimeNs;
  if (Bus.Modified) NoteModifyingCycle(Platform);
}

// ---- Register file ---------------------------------------------------------------------

uint32_t FdataDword(const SimSpiController &S, uint32_t Index) {
  return static_cast<uint32_t>(S.Fdata[Index]) | (static_cast<uint32_t>(S.Fdata[Index + 1]) << 8) |
         (static_cast<uint32_t>(S.Fdata[Index + 2]) << 16) |
         (static_cast<uint32_t>(S.Fdata[Index + 3]) << 24);
}

uint32_t ReadFdod(const SimSpiController &S) {
  if (!S.Descriptor.Valid) return 0;
  const uint32_t Section = (S.Fdoc >> FDOC_FDSS_SHIFT) & 7;
  const uint32_t Index = (S.Fdoc >> FDOC_FDSI_SHIFT) & FDOC_FDSI_MASK;
  uint32_t Base = 0;
  switch (Section) {
    case 0:
      Base = DESCRIPTOR_MAP_OFFSET;
      break;
    case 1:
      Base = S.Descriptor.Fcba;
      break;
    case 2:
      Base = S.Descriptor.Frba;
      break;
    case 3:
      Base = S.Descriptor.Fmba;
      break;
    case 4:
      Base = S.Descriptor.Fpsba;
      break;
    default:
      return 0;
  }
  const uint32_t Offset = Base + 4 * Index;
  if (Offset + 4 > SIM_DESCRIPTOR_SIZE) return 0;
  const uint8_t *D = S.DescriptorCopy + Offset;
  return static_cast<uint32_t>(D[0]) | (static_cast<uint32_t>(D[1]) << 8) |
         (static_cast<uint32_t>(D[2]) << 16) | (static_cast<uint32_t>(D[3]) << 24);
}

void WriteHsfsts(SimPlatform *Platform, uint32_t Value, uint32_t Mask) {
  SimSpiController &S = Spi(Platform);
  uint32_t New = S.Hsfsts & ~(Value & Mask & HSFSTS_CTL_W1C);
  New = SimMerge(New, Value, Mask & HSFSTS_CTL_CONTROL);
  if (!Locked(Platform)) New = SimMerge(New, Value, Mask & HSFSTS_CTL_WRSDIS);
  // Lock-down bits can be set, not cleared, until the next reset.
  New |= Value & Mask & (HSFSTS_CTL_FLOCKDN | HSFSTS_CTL_PRR34_LOCKDN);
  S.Hsfsts = New;
  if ((Value & Mask & HSFSTS_CTL_FGO) != 0) StartHwCycle(Platform);
}

void WriteSsfsts(SimPlatform *Platform, uint32_t Value, uint32_t Mask) {
  SimSpiController &S = Spi(Platform);
  uint32_t New = S.Ssfsts & ~(Value & Mask & SSFSTS_CTL_W1C);
  New = SimMerge(New, Value, Mask & SSFSTS_CTL_CONTROL);
  S.Ssfsts = New;
  if ((Value & Mask & SSFSTS_CTL_SCGO) != 0) StartSwCycle(Platform);
}

void WriteProtectedRange(SimPlatform *Platform, uint32_t Index, uint32_t Value, uint32_t Mask) {
  SimSpiController &S = Spi(Platform);
  const bool PrLocked = (S.Dlock & (1u << (DLOCK_PR0_LOCKDN_SHIFT + Index))) != 0;
  const bool Pr34Locked = Index >= 3 && (S.Hsfsts & HSFSTS_CTL_PRR34_LOCKDN) != 0;
  if (Locked(Platform) || PrLocked || Pr34Locked) return;
  S.Pr[Index] = SimMerge(S.Pr[Index], Value, Mask);
}

// GPR0 has no DLOCK bit: only FLOCKDN freezes it.
void WriteGlobalProtectedRange(SimPlatform *Platform, uint32_t Value, uint32_t Mask) {
  if (Locked(Platform)) return;
  Spi(Platform).Gpr0 = SimMerge(Spi(Platform).Gpr0, Value, Mask);
}

void WriteVscc(SimPlatform *Platform, uint32_t *Register, uint32_t Writable, uint32_t Value,
               uint32_t Mask) {
  // The vendor component lock in LVSCC locks both registers until reset.
  if ((Platform->Spi.Lvscc & VSCC_VCL) != 0) return;
  *Register = SimMerge(*Register, Value, Mask & Writable);
}

}  // namespace

uint32_t SimDefaultVscc(const SimChipModel *Model) {
  uint32_t Value = 0;
  if (!Model->ByteProgram) Value |= VSCC_WG_64;
  if (Model->SmallEraseSize == 0x1000) {
    Value |= (static_cast<uint32_t>(Model->Erase4kOpcode) << VSCC_EO_4K_SHIFT) | VSCC_EO_4K_VALID;
  }
  if (Model->Erase64kOpcode != 0) {
    Value |=
        (static_cast<uint32_t>(Model->Erase64kOpcode) << VSCC_EO_64K_SHIFT) | VSCC_EO_64K_VALID;
  }
  return Value;
}

uint32_t SimBiosRegionEnd(const SimPlatform *Platform) {
  const SimSpiController &S = Platform->Spi;
  uint32_t Base = 0;
  uint32_t Limit = 0;
  if (!S.Descriptor.Valid || !SimRegionRange(S.Freg[1], &Base, &Limit)) return Platform->FlashSize;
  return Limit + 1;
}

void SimSpiPowerOn(SimPlatform *Platform) {
  SimSpiController &S = Spi(Platform);
  SimFill(&S, 0, sizeof(S));
  SimParseDescriptor(Platform->Flash, Platform->FlashSize, &S.Descriptor);
  S.FregCount = SimConfigPchModel(&Platform->Config)->RegionCount;
  if (S.Descriptor.Valid) {
    SimCopy(S.DescriptorCopy, Platform->Flash, SIM_DESCRIPTOR_SIZE);
    for (uint32_t Region = 0; Region < S.FregCount; Region++) {
      S.Freg[Region] =
          SimDescriptorRegion(Platform->Flash, Platform->FlashSize, &S.Descriptor, Region);
    }
    S.Bfpreg = S.Freg[1] & 0x7FFF7FFF;
    // BRRA/BRWA from FLMSTR1 (read bits 19:8, write bits 31:20); the host always
    // has its own region, the BIOS.
    const uint32_t Read = ((S.Descriptor.Flmstr1 >> FLMSTR_READ_SHIFT) & 0xFF) | 0x02;
    const uint32_t Write = ((S.Descriptor.Flmstr1 >> FLMSTR_WRITE_SHIFT) & 0xFF) | 0x02;
    S.Frap = Read | (Write << FRAP_BRWA_SHIFT);
  }
  const SimConfig &Config = Platform->Config;
  uint32_t Next = 0;
  for (uint32_t I = 0; I < Config.ProtectCount && Next < SIM_MAX_PROTECTED_RANGES; I++, Next++) {
    S.Pr[Next] = ProtectedRangeValue(Config.Protect[I], PR_WPE);
    S.Dlock |= 1u << (DLOCK_PR0_LOCKDN_SHIFT + Next);
  }
  for (uint32_t I = 0; I < Config.ProtectReadCount && Next < SIM_MAX_PROTECTED_RANGES;
       I++, Next++) {
    S.Pr[Next] = ProtectedRangeValue(Config.ProtectRead[I], PR_RPE);
    S.Dlock |= 1u << (DLOCK_PR0_LOCKDN_SHIFT + Next);
  }
  if (Config.Gpr0Enabled) S.Gpr0 = ProtectedRangeValue(Config.Gpr0, PR_WPE);
  // Firmware sets FLOCKDN last, after the menu, PR0-PR4 and GPR0 hold their values.
  if (Config.Flockdn) S.Hsfsts |= HSFSTS_CTL_FLOCKDN;
  S.Preop = FIRMWARE_PREOP;
  S.Optype = FIRMWARE_OPTYPE;
  S.Opmenu[0] = FIRMWARE_OPMENU0;
  S.Opmenu[1] = FIRMWARE_OPMENU1;
  // Firmware's values for each chip, or the values a board's firmware left; the
  // vendor component lock in LVSCC follows --vscc-unlocked. With one chip, UVSCC
  // describes no chip and firmware leaves the same value there.
  const SimChipModel *Upper = Platform->Chips[Platform->ChipCount - 1].Model;
  const uint32_t Lvscc =
      Config.LvsccGiven ? Config.Lvscc : SimDefaultVscc(Platform->Chips[0].Model);
  S.Lvscc = (Lvscc & ~VSCC_VCL) | (Config.VsccUnlocked ? 0 : VSCC_VCL);
  S.Uvscc = (Config.UvsccGiven ? Config.Uvscc : SimDefaultVscc(Upper)) & ~VSCC_VCL;
}

void SimSpiUpdate(SimPlatform *Platform) {
  SimSpiController &S = Spi(Platform);
  if (S.Owner == SimCycleNone || S.Stuck || Platform->NowNs < S.EndNs) return;
  if (S.ReadLength != 0) SimCopy(S.Fdata, S.ReadData, S.ReadLength);
  if (S.Owner == SimCycleHw) {
    S.Hsfsts |= S.EndWithError ? HSFSTS_CTL_FCERR : HSFSTS_CTL_FDONE;
  } else {
    S.Ssfsts |= S.EndWithError ? SSFSTS_CTL_FCERR : SSFSTS_CTL_FDONE;
  }
  S.Owner = SimCycleNone;
  S.WriteOrErase = false;
  S.ReadLength = 0;
}

uint32_t SimSpiReadDword(SimPlatform *Platform, uint32_t Offset) {
  const SimSpiController &S = Platform->Spi;
  if (Offset >= SPI_FDATA0 && Offset < SPI_FDATA0 + SIM_FDATA_SIZE) {
    return FdataDword(S, Offset - SPI_FDATA0);
  }
  if (Offset >= SPI_FREG0 && Offset < SPI_FREG0 + 4 * S.FregCount) {
    return S.Freg[(Offset - SPI_FREG0) / 4];
  }
  if (Offset >= SPI_PR0 && Offset < SPI_PR0 + 4 * SIM_MAX_PROTECTED_RANGES) {
    return S.Pr[(Offset - SPI_PR0) / 4];
  }
  switch (Offset) {
    case SPI_BFPREG:
      return S.Bfpreg;
    case SPI_GPR0:
      return S.Gpr0;
    case SPI_HSFSTS_CTL: {
      uint32_t Value = S.Hsfsts;
      if (S.Owner == SimCycleHw) Value |= HSFSTS_CTL_SCIP;
      if (S.Descriptor.Valid) Value |= HSFSTS_CTL_FDV | HSFSTS_CTL_FDOPSS;
      return Value;
    }
    case SPI_FADDR:
      return S.Faddr;
    case SPI_DLOCK:
      return S.Dlock;
    case SPI_FRAP:
      return S.Frap;
    case SPI_SSFSTS_CTL: {
      uint32_t Value = S.Ssfsts;
      if (S.Owner == SimCycleSw) Value |= SSFSTS_CTL_SCIP;
      if ((S.Hsfsts & HSFSTS_CTL_AEL) != 0) Value |= SSFSTS_CTL_AEL;
      return Value;
    }
    case SPI_PREOP_OPTYPE:
      return S.Preop | (static_cast<uint32_t>(S.Optype) << 16);
    case SPI_OPMENU0:
      return S.Opmenu[0];
    case SPI_OPMENU1:
      return S.Opmenu[1];
    case SPI_FDOC:
      return S.Fdoc;
    case SPI_FDOD:
      return ReadFdod(S);
    case SPI_LVSCC:
      return S.Lvscc;
    case SPI_UVSCC:
      return S.Uvscc;
    default:
      return 0;
  }
}

void SimSpiWriteDword(SimPlatform *Platform, uint32_t Offset, uint32_t Value, uint32_t Mask) {
  SimSpiController &S = Spi(Platform);
  if (Offset >= SPI_FDATA0 && Offset < SPI_FDATA0 + SIM_FDATA_SIZE) {
    for (uint32_t Lane = 0; Lane < 4; Lane++) {
      if ((Mask >> (8 * Lane) & 0xFF) != 0) {
        S.Fdata[Offset - SPI_FDATA0 + Lane] = static_cast<uint8_t>(Value >> (8 * Lane));
      }
    }
    return;
  }
  if (Offset >= SPI_PR0 && Offset < SPI_PR0 + 4 * SIM_MAX_PROTECTED_RANGES) {
    WriteProtectedRange(Platform, (Offset - SPI_PR0) / 4, Value, Mask);
    return;
  }
  switch (Offset) {
    case SPI_HSFSTS_CTL:
      WriteHsfsts(Platform, Value, Mask);
      return;
    case SPI_FADDR:
      S.Faddr = SimMerge(S.Faddr, Value, Mask & FADDR_MASK);
      return;
    case SPI_GPR0:
      WriteGlobalProtectedRange(Platform, Value, Mask);
      return;
    case SPI_DLOCK:
      S.Dlock |= Value & Mask & DLOCK_WRITABLE;
      return;
    case SPI_FRAP:
      if (!Locked(Platform)) S.Frap = SimMerge(S.Frap, Value, Mask & ~FRAP_BRRA_BRWA);
      return;
    case SPI_SSFSTS_CTL:
      WriteSsfsts(Platform, Value, Mask);
      return;
    case SPI_PREOP_OPTYPE:
      if (Locked(Platform)) return;
      S.Preop = static_cast<uint16_t>(SimMerge(S.Preop, Value, Mask & 0xFFFF));
      S.Optype = static_cast<uint16_t>(SimMerge(S.Optype, Value >> 16, Mask >> 16));
      return;
    case SPI_OPMENU0:
    case SPI_OPMENU1:
      if (!Locked(Platform)) {
        uint32_t &Menu = S.Opmenu[Offset == SPI_OPMENU0 ? 0 : 1];
        Menu = SimMerge(Menu, Value, Mask);
      }
      return;
    case SPI_FDOC:
      S.Fdoc = SimMerge(S.Fdoc, Value, Mask & FDOC_WRITABLE);
      return;
    case SPI_LVSCC:
      WriteVscc(Platform, &S.Lvscc, VSCC_WRITABLE, Value, Mask);
      return;
    case SPI_UVSCC:
      WriteVscc(Platform, &S.Uvscc, VSCC_WRITABLE & ~VSCC_VCL, Value, Mask);
      return;
    default:  // BFPREG, FREGn, FDOD and the rest are read-only or not modelled
      return;
  }
}
