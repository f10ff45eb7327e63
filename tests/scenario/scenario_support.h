// Whole runs of the application through ModuleEntry on the host: the firmware
// model with a scratch volume, and a simulated platform for the hardware.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "host/firmware_model.h"
#include "sim/sim_platform.h"
#include "support/app_run.h"
#include "support/host_file.h"

using Bytes = std::vector<uint8_t>;

constexpr uint32_t Block = 0x10000;
constexpr uint32_t WindowSize = 0x800000;
constexpr uint32_t WholeFlashSize = 0x1000000;

// The first lines of every -w of an 8 MiB window.
inline const std::string Size8 = "Flash BIOS Size : 0x800000\r\n";
inline const std::string Starting = "Programming starting ";

struct SimPlatformDeleter {
  void operator()(SimPlatform *Platform) const { SimPlatformDestroy(Platform); }
};

inline SimConfig DefaultSimConfig() {
  SimConfig Config;
  SimConfigDefaults(&Config);
  return Config;
}

// One platform and one volume that several runs share, as a board and its USB
// stick would between two commands.
class Scenario {
 public:
  explicit Scenario(const SimConfig &Config = DefaultSimConfig()) { Create(Config); }

  // A platform booted from the given whole-flash contents.
  Scenario(SimConfig Config, const Bytes &InitialFlash) {
    Config.InitialFlash = InitialFlash.data();
    Config.InitialFlashSize = InitialFlash.size();
    Create(Config);
  }

  SimPlatform *Platform() const { return Sim.get(); }

  Bytes Flash() const {
    const uint8_t *Data = SimFlashData(Sim.get());
    return Bytes(Data, Data + SimFlashSize(Sim.get()));
  }
  // The BIOS window: the top 8 MiB of the flash.
  Bytes Window() const {
    Bytes All = Flash();
    return Bytes(All.end() - WindowSize, All.end());
  }

  std::filesystem::path PathOf(const std::string &Name) const { return Volume.Path() / Name; }
  void PutFile(const std::string &Name, const Bytes &Data) const {
    WriteHostBytes(PathOf(Name), Data);
  }
  Bytes GetFile(const std::string &Name) const { return ReadHostBytes(PathOf(Name)); }
  bool Exists(const std::string &Name) const { return std::filesystem::exists(PathOf(Name)); }

  AppRun Run(const std::vector<std::string> &Args, HostFirmwareConfig Config = {}) const {
    Config.Root = Volume.Path();
    return RunApp(Args, std::move(Config), Sim.get());
  }

  const SimCounters &Counters() const { return *SimGetCounters(Sim.get()); }
  uint64_t HwCycles() const {
    uint64_t Total = 0;
    for (uint64_t Count : Counters().HwCycles) {
      Total += Count;
    }
    return Total;
  }
  SimResetKind Reset() const { return SimGetReset(Sim.get()); }

  // Flash-linear ranges erased so far, in order.
  std::vector<std::pair<uint32_t, uint32_t>> Erased() const {
    std::vector<std::pair<uint32_t, uint32_t>> Ranges;
    for (uint32_t I = 0; I < SimErasedRangeCount(Sim.get()); ++I) {
      SimByteRange Range = SimErasedRange(Sim.get(), I);
      Ranges.emplace_back(Range.Base, Range.End);
    }
    return Ranges;
  }
  // Every flash-linear byte that some erase touched, as 64 KiB block numbers.
  std::vector<uint32_t> ErasedBlocks() const {
    std::vector<uint32_t> Blocks;
    for (auto [Base, End] : Erased()) {
      for (uint32_t At = Base & ~(Block - 1); At < End; At += Block) {
        if (Blocks.empty() || Blocks.back() != At / Block) {
          Blocks.push_back(At / Block);
        }
      }
    }
    return Blocks;
  }

 private:
  void Create(const SimConfig &Config) {
    SimAllocator Allocator = {
        [](void *, size_t Size) { return std::malloc(Size); },
        [](void *, void *Pointer) { std::free(Pointer); },
        nullptr,
    };
    Sim.reset(SimPlatformCreate(&Config, &Allocator));
    if (!Sim) {
      ADD_FAILURE() << "simulated platform not created";
      std::abort();
    }
  }

  ScratchDirectory Volume;
  std::unique_ptr<SimPlatform, SimPlatformDeleter> Sim;
};

// The generated whole-flash image of a configuration.
inline Bytes GeneratedFlash(const SimConfig &Config) {
  Bytes Image(SimConfigFlashSize(&Config));
  SimGenerateImage(&Config, Image.data());
  return Image;
}

inline bool AllBytesAre(const Bytes &Data, size_t Begin, size_t End, uint8_t Value) {
  for (size_t I = Begin; I < End; ++I) {
    if (Data[I] != Value) {
      return false;
    }
  }
  return true;
}

// What every run that returns to the shell must leave behind.
inline void ExpectCleanReturn(const AppRun &Run) {
  EXPECT_EQ(Run.PoolOutstanding, 0u) << "pool allocations left behind";
  EXPECT_EQ(Run.Firmware->OpenFileHandles(), 0u) << "file left open";
  EXPECT_EQ(Run.Firmware->UnexpectedCalls(), 0u)
      << (Run.Firmware->UnexpectedCallNames().empty() ? std::string()
                                                      : Run.Firmware->UnexpectedCallNames()[0]);
}

// A failed write names the controller's status register, its value and the flash
// address of the failed cycle on a line of its own. Tests of what the command did
// take that line out once its form is checked; the value is the controller's.
inline std::string WithoutControllerStatus(std::string Console) {
  const std::string Start = "Controller status HSFSTS_CTL 0x";
  const std::string Middle = " (flash 0x";
  const std::string End = ").\r\n";
  auto IsHex = [](char C) { return std::isxdigit(static_cast<unsigned char>(C)) != 0; };
  for (size_t At = Console.find(Start); At != std::string::npos; At = Console.find(Start, At)) {
    size_t P = At + Start.size();
    size_t Digits = 0;
    while (P + Digits < Console.size() && IsHex(Console[P + Digits])) Digits++;
    if (Digits != 8 || Console.compare(P + 8, Middle.size(), Middle) != 0) break;
    P += 8 + Middle.size();
    while (P < Console.size() && IsHex(Console[P])) P++;
    if (Console.compare(P, End.size(), End) != 0) break;
    Console.erase(At, P + End.size() - At);
  }
  return Console;
}
