// A simulated platform for the flash-layer tests, attached to the hardware back
// end for the lifetime of the rig, with a recorder of every access.
//
//   FlashRig Rig([](SimConfig &C) { C.ChipIndex = ChipNamed("W25Q64BV"); });
//   Rig.Prepare();                       // SpiControllerInit, BiosWindowInit, DetectFlashPart
//   Rig.Record();  ...  auto Trace = Rig.Take();
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include "flash/part_table.h"
#include "flash/pch_generation.h"
#include "flash/spi_hwseq.h"
#include "sim/sim_backend.h"
#include "sim/sim_platform.h"

// Addresses the tests look for in a trace.
constexpr uint64_t kSpiConfig = 0xE00FD000;
constexpr uint64_t kSpiBar0 = kSpiConfig + 0x10;
constexpr uint64_t kSpiCommand = kSpiConfig + 0x04;
constexpr uint64_t kBiosControl = kSpiConfig + 0xDC;
constexpr uint64_t kFixedBar = 0xFE010000;
constexpr uint64_t kEcamBase = 0xE0000000;
constexpr uint64_t kEcamEnd = 0xF0000000;
constexpr uint32_t kHsfstsCtl = 0x04;
constexpr uint32_t kFaddr = 0x08;
constexpr uint32_t kFdata = 0x10;
constexpr uint32_t kSsfstsCtl = 0xA0;
constexpr uint32_t kLvscc = 0xC4;
constexpr uint32_t kUvscc = 0xC8;
constexpr uint32_t kMiB = 0x100000;

inline bool operator==(const SimByteRange &A, const SimByteRange &B) {
  return A.Base == B.Base && A.End == B.End;
}
inline void PrintTo(const SimByteRange &R, std::ostream *Out) {
  *Out << std::hex << "[" << R.Base << "," << R.End << ")";
}

inline int32_t ChipNamed(const char *Name) {
  int32_t Index = SimFindChipByName(Name);
  EXPECT_GE(Index, 0) << Name;
  return Index;
}

inline bool IsMemory(const SimEvent &E) {
  return E.Kind == SimEventMemoryRead || E.Kind == SimEventMemoryWrite;
}
inline bool IsPort(const SimEvent &E) {
  return E.Kind == SimEventPortRead || E.Kind == SimEventPortWrite;
}
inline bool IsWriteTo(const SimEvent &E, uint64_t Address) {
  return E.Kind == SimEventMemoryWrite && E.Address == Address;
}

// One hardware-sequenced cycle as the trace shows it: the FADDR value and the
// HSFSTS_CTL write that set FGO.
struct HwCycle {
  uint32_t Address;
  uint32_t Bytes;   // FDBC + 1
  uint32_t Fcycle;  // bits 20:17
};

inline std::vector<HwCycle> HwCyclesIn(const std::vector<SimEvent> &Trace, uint64_t Bar) {
  std::vector<HwCycle> Cycles;
  uint32_t Address = 0;
  for (const SimEvent &E : Trace) {
    if (IsWriteTo(E, Bar + kFaddr)) Address = E.Value;
    if (IsWriteTo(E, Bar + kHsfstsCtl) && (E.Value & 0x10000) != 0) {
      Cycles.push_back({Address, ((E.Value >> 24) & 0x3F) + 1, (E.Value >> 17) & 0xF});
    }
  }
  return Cycles;
}

class FlashRig {
 public:
  explicit FlashRig(const std::function<void(SimConfig &)> &Adjust = {},
                    const std::function<void(std::vector<uint8_t> &)> &EditImage = {}) {
    SimConfigDefaults(&Config);
    if (Adjust) Adjust(Config);
    if (EditImage) {
      Image.resize(SimConfigFlashSize(&Config));
      SimGenerateImage(&Config, Image.data());
      EditImage(Image);
      Config.InitialFlash = Image.data();
      Config.InitialFlashSize = Image.size();
    }
    SimAllocator Allocator{[](void *, size_t Bytes) { return std::calloc(1, Bytes); },
                           [](void *, void *Pointer) { std::free(Pointer); }, nullptr};
    Platform = SimPlatformCreate(&Config, &Allocator);
    EXPECT_NE(Platform, nullptr);
    SimSetTraceHook(Platform, &FlashRig::Hook, this);
    SimBackendAttach(Platform);
    // Start every test from the state a freshly loaded image has.
    SpiControllerState = {};
    BiosWindow = {0, 0, 0, 0, 0, 0, 0, TRUE};
    PchForgetPlatform();
  }
  ~FlashRig() {
    SimBackendAttach(nullptr);
    SimPlatformDestroy(Platform);
  }
  FlashRig(const FlashRig &) = delete;
  FlashRig &operator=(const FlashRig &) = delete;

  void Prepare() {
    SpiControllerInit();
    BiosWindowInit();
    DetectFlashPart();
  }
  void Record() {
    Trace.clear();
    Recording = true;
  }
  std::vector<SimEvent> Take() {
    Recording = false;
    return std::move(Trace);
  }
  const SimCounters &Counters() const { return *SimGetCounters(Platform); }
  const uint8_t *Flash() const { return SimFlashData(Platform); }

  SimConfig Config{};
  std::vector<uint8_t> Image;
  SimPlatform *Platform = nullptr;

 private:
  static void Hook(void *Context, const SimEvent *Event) {
    auto *Rig = static_cast<FlashRig *>(Context);
    if (Rig->Recording) Rig->Trace.push_back(*Event);
  }
  bool Recording = false;
  std::vector<SimEvent> Trace;
};

// Descriptor edits on a generated image (100-series layout).
inline uint32_t Get32(const std::vector<uint8_t> &Image, uint32_t Offset) {
  return Image[Offset] | Image[Offset + 1] << 8 | Image[Offset + 2] << 16 |
         static_cast<uint32_t>(Image[Offset + 3]) << 24;
}
inline void Put32(std::vector<uint8_t> &Image, uint32_t Offset, uint32_t Value) {
  for (int I = 0; I < 4; I++) Image[Offset + I] = static_cast<uint8_t>(Value >> (8 * I));
}
// FLREGn of the descriptor: base and limit in 4 KiB units, the limit inclusive.
inline void SetFlashRegion(std::vector<uint8_t> &Image, uint32_t Region, uint32_t Value) {
  uint32_t Frba = ((Get32(Image, 0x14) >> 16) & 0xFF) << 4;
  Put32(Image, Frba + 4 * Region, Value);
}
inline uint32_t RegionValue(uint32_t Base, uint32_t Limit) {
  return (Base >> 12) | ((Limit >> 12) << 16);
}
