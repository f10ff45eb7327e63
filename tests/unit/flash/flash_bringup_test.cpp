// Preparing the flash layer from MainRoutine: the wrong-platform guard and the
// set-up on the simulated PCH.
#include <gtest/gtest.h>

#include <filesystem>

#include "flash_rig.h"
#include "support/app_run.h"

namespace {

constexpr const char *kNotFound = "Error. SPI flash controller not found.\r\n";

struct Case {
  const char *Name;
  std::function<void(SimConfig &)> Adjust;
};

TEST(BringUpFlashLayer, WithoutAControllerOnlyConfigurationIsRead) {
  const Case Platforms[] = {
      {"0:31.5 reads all ones", [](SimConfig &C) { C.NoSpi = true; }},
      {"BAR0 holds no base", [](SimConfig &C) { C.Bar0 = 0; }},
  };
  const std::vector<std::vector<std::string>> CommandLines = {
      {"a"}, {"-all", "a"}, {"-r", "x.bin"}};
  for (const Case &P : Platforms) {
    for (const auto &Args : CommandLines) {
      SCOPED_TRACE(std::string(P.Name) + ": " + Args[0]);
      FlashRig Rig(P.Adjust);
      ScratchDirectory Volume;
      HostFirmwareConfig Config;
      Config.Root = Volume.Path();
      Rig.Record();
      AppRun Run = RunApp(Args, Config, Rig.Platform);
      std::vector<SimEvent> Trace = Rig.Take();
      EXPECT_EQ(Run.Status, EFI_UNSUPPORTED);
      EXPECT_EQ(Run.Console, kNotFound);
      EXPECT_FALSE(std::filesystem::exists(Volume.Path() / "x.bin"));
      size_t Reads = 0;
      for (const SimEvent &E : Trace) {
        EXPECT_FALSE(IsPort(E));
        EXPECT_NE(E.Kind, SimEventMemoryWrite);
        if (E.Kind == SimEventMemoryRead) {
          // Bus 0 device 31 only: the SPI controller, the bridge, the PMC.
          EXPECT_EQ(E.Address & ~0x7FFFull, kEcamBase + (31u << 15)) << std::hex << E.Address;
          Reads++;
        }
      }
      EXPECT_GE(Reads, 1u);
    }
  }
}

TEST(BringUpFlashLayer, ArgumentErrorsComeFirst) {
  FlashRig Rig([](SimConfig &C) { C.NoSpi = true; });
  Rig.Record();
  AppRun Run = RunApp({"-x", "a"}, {}, Rig.Platform);
  EXPECT_EQ(Run.Status, EFI_INVALID_PARAMETER);
  EXPECT_EQ(Run.Console, "Error. The argument '-x' is incorrect.\r\n");
  EXPECT_TRUE(Rig.Take().empty());
}

TEST(BringUpFlashLayer, OnThePchItIdentifiesTheChipAndSetsUpTheController) {
  FlashRig Rig([](SimConfig &C) { C.Bar0 = 0xFD000000; });
  Rig.Record();
  AppRun Run = RunApp({"a"}, {}, Rig.Platform);
  std::vector<SimEvent> Trace = Rig.Take();
  EXPECT_EQ(Run.Status, EFI_SUCCESS);
  EXPECT_EQ(Run.Console, "");
  EXPECT_EQ(SelectedFlashPartIndex(), 13);  // W25Q128BV
  EXPECT_EQ(Rig.Counters().HwCycles[SimCycleReadJedecId], 14u);
  EXPECT_EQ(Rig.Counters().AccessesToStaleBar, 0u);
  // Firmware left LVSCC/UVSCC valid and locked: the set-up keeps them, and the
  // erase size follows what they hold.
  for (const SimEvent &E : Trace) {
    EXPECT_FALSE(IsWriteTo(E, 0xFD000000 + kLvscc) || IsWriteTo(E, 0xFD000000 + kUvscc));
    EXPECT_FALSE(IsWriteTo(E, kSpiBar0) || IsWriteTo(E, kSpiCommand));
  }
  EXPECT_EQ(SpiControllerState.UvsccValue, SimMmioRead(Rig.Platform, 0xFD000000 + kUvscc, 32));
  EXPECT_TRUE(BiosWindow.DescriptorMode);
  EXPECT_EQ(BiosWindow.FlashOffset, 0x800000);
}

}  // namespace
