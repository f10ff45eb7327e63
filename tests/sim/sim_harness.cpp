#include "sim_harness.h"

namespace simtest {

namespace {
void *Allocate(void *, size_t Bytes) { return std::malloc(Bytes); }
void Free(void *, void *Pointer) { std::free(Pointer); }
const SimAllocator kAllocator{&Allocate, &Free, nullptr};
}  // namespace

Platform::Platform(const ConfigTweak &Tweak, const std::vector<uint8_t> *Flash) {
  SimConfig Config;
  SimConfigDefaults(&Config);
  if (Tweak) Tweak(Config);
  if (Flash != nullptr) {
    Config.InitialFlash = Flash->data();
    Config.InitialFlashSize = Flash->size();
  }
  Sim = SimPlatformCreate(&Config, &kAllocator);
  if (Sim != nullptr && Config.Bar0 != 0) Bar = Config.Bar0 & 0xFFFFF000;
}

Platform::~Platform() { SimPlatformDestroy(Sim); }

std::vector<uint8_t> Platform::Flash() const {
  const uint8_t *Data = SimFlashData(Sim);
  return std::vector<uint8_t>(Data, Data + SimFlashSize(Sim));
}

void Platform::EnableWrites() {
  Out(SMI_EN, In(SMI_EN) & ~1u);
  SetBiosControl(BiosControl() | BIOSWE);
}

uint32_t Platform::WaitHw(uint32_t MaxPolls) {
  uint32_t Status = Spi(HSFSTS);
  for (uint32_t I = 0; I < MaxPolls && (Status & SCIP) != 0; I++) Status = Spi(HSFSTS);
  return Status;
}

uint32_t Platform::HwCycle(uint32_t Cycle, uint32_t Address, uint32_t Count) {
  SpiWrite(HSFSTS, FDONE | FCERR | AEL);
  SpiWrite(FADDR, Address);
  SpiWrite(HSFSTS, ((Count - 1) << 24) | (Cycle << 17) | FGO);
  return WaitHw();
}

void Platform::PutData(const std::vector<uint8_t> &Data) {
  for (size_t I = 0; I < Data.size(); I++) SpiWrite(FDATA + static_cast<uint32_t>(I), Data[I], 8);
}

std::vector<uint8_t> Platform::GetData(uint32_t Count) {
  std::vector<uint8_t> Data(Count);
  for (uint32_t I = 0; I < Count; I++) Data[I] = static_cast<uint8_t>(Spi(FDATA + I, 8));
  return Data;
}

uint32_t Platform::HwRead(uint32_t Address, uint32_t Count, std::vector<uint8_t> *Data) {
  const uint32_t Status = HwCycle(CYCLE_READ, Address, Count);
  if (Data != nullptr) *Data = GetData(Count);
  return Status;
}

uint32_t Platform::HwWrite(uint32_t Address, const std::vector<uint8_t> &Data) {
  PutData(Data);
  return HwCycle(CYCLE_WRITE, Address, static_cast<uint32_t>(Data.size()));
}

uint32_t Platform::HwErase(uint32_t Address, bool Block64k) {
  return HwCycle(Block64k ? CYCLE_ERASE_64K : CYCLE_ERASE_4K, Address, 1);
}

uint8_t Platform::SwCycle(uint32_t Slot, uint32_t Address, bool Atomic, uint32_t DataBytes,
                          bool SecondPrefix) {
  SpiWrite(SSFSTS, 0x0C, 8);
  SpiWrite(FADDR, Address);
  uint32_t Control = 0x0002 | (Slot << 4) | (Atomic ? 0x0004 : 0) | (SecondPrefix ? 0x0008 : 0);
  if (DataBytes != 0) Control |= ((DataBytes - 1) << 8) | 0x4000;
  SpiWrite(SSFSTS + 1, Control, 16);
  uint8_t Status = static_cast<uint8_t>(Spi(SSFSTS, 8));
  for (int I = 0; I < 10000000 && (Status & 0x0C) == 0; I++) {
    Status = static_cast<uint8_t>(Spi(SSFSTS, 8));
  }
  return Status;
}

void Platform::SetMenu(const uint8_t Opcodes[8], uint16_t Types, uint16_t Prefixes) {
  uint32_t Low = 0;
  uint32_t High = 0;
  for (int I = 0; I < 4; I++) {
    Low |= static_cast<uint32_t>(Opcodes[I]) << (8 * I);
    High |= static_cast<uint32_t>(Opcodes[4 + I]) << (8 * I);
  }
  SpiWrite(OPMENU0, Low);
  SpiWrite(OPMENU1, High);
  SpiWrite(OPTYPE, Types, 16);
  SpiWrite(PREOP, Prefixes, 16);
}

std::vector<uint8_t> Pattern(size_t Size, uint8_t Seed) {
  std::vector<uint8_t> Data(Size);
  for (size_t I = 0; I < Size; I++) Data[I] = static_cast<uint8_t>(Seed + I * 7 + (I >> 8));
  return Data;
}

}  // namespace simtest
