// Every PCH generation the simulator sets up: on the supported ones "-r" saves the
// window and a three-block "-w" completes, a shipped board refuses the write before
// the first erase, and the registers stay where firmware put them; the platforms
// the tool does not know are refused after configuration reads alone.
#include <cstdio>
#include <functional>
#include <optional>

#include "scenario/scenario_support.h"

namespace {

const std::string Saved =
    "Now start read SPI, wait a minute...\r\nRead SPI is Success.\r\nSave to file is Success.\r\n";
const std::string ThreeBlocksWritten =
    "Flash BIOS Size : 0x800000\r\nProgramming starting ... completed.\r\n3 of 128 blocks "
    "rewritten and read back.\r\nSystem reset...\r\n";
const std::string NotFound = "Error. SPI flash controller not found.\r\n";

constexpr uint16_t AcpiBase = 0x1800;  // where the simulated PMC decodes
constexpr uint32_t SpiFunction = (31u << 15) | (5u << 12);

struct Traced {
  std::vector<SimEvent> Events;
  static void Hook(void *Context, const SimEvent *Event) {
    static_cast<Traced *>(Context)->Events.push_back(*Event);
  }
};

// What each run on the platform must show in its trace: nothing written to 0:31.5's
// BAR0 or command register, and no write of any kind before the last read of
// configuration space that identification makes.
void ExpectIdentifiedBeforeWriting(const std::vector<SimEvent> &Trace, uint64_t Ecam) {
  const uint64_t Spi = Ecam + SpiFunction;
  size_t FirstWrite = Trace.size();
  for (size_t I = 0; I < Trace.size(); ++I) {
    const SimEvent &E = Trace[I];
    const bool Write = E.Kind == SimEventMemoryWrite || E.Kind == SimEventPortWrite;
    if (Write && FirstWrite == Trace.size()) FirstWrite = I;
    if (E.Kind == SimEventMemoryWrite) {
      EXPECT_NE(E.Address, Spi + 0x10) << "BAR0 written";
      EXPECT_NE(E.Address & ~3ull, Spi + 0x04) << "command register written";
    }
  }
  ASSERT_LT(FirstWrite, Trace.size());
  // Identification reads the SPI controller's IDs, class, BAR0 and command register
  // before anything is written; the PMC's ABASE too where the PMC is visible.
  size_t IdentifyingReads = 0;
  for (size_t I = 0; I < FirstWrite; ++I) {
    const SimEvent &E = Trace[I];
    EXPECT_NE(E.Kind, SimEventPortRead) << "I/O before identification";
    if (E.Kind == SimEventMemoryRead && E.Address >= Spi && E.Address < Spi + 0x14) {
      IdentifyingReads++;
    }
  }
  EXPECT_GE(IdentifyingReads, 4u);
}

class Generation : public testing::TestWithParam<uint32_t> {
 protected:
  const SimPchModel &Model() const { return *SimPchAt(GetParam()); }
  SimConfig Config(bool Production) const {
    SimConfig C = DefaultSimConfig();
    SimConfigPch(&C, static_cast<int32_t>(GetParam()));
    // Where some firmware puts the registers: a run that moved BAR0 would show.
    if (Model().SpiIsController) C.Bar0 = 0xFED01000;
    if (Production) SimConfigProduction(&C);
    return C;
  }
  // The firmware as --pch sets it up: an MCFG where the platform decodes ECAM and
  // a FADT giving the ACPI base.
  HostFirmwareConfig Firmware() const {
    HostFirmwareConfig F;
    F.McfgBase = Model().EcamBase;
    F.FadtBase = AcpiBase;
    return F;
  }
  bool Supported() const { return Model().SpiIsController && Model().Spi.DeviceId != 0; }
};

TEST_P(Generation, ReadSavesAndThreeBlockWriteCompletesOrIsRefusedUntouched) {
  Scenario Board(Config(false));
  Traced Trace;
  SimSetTraceHook(Board.Platform(), &Traced::Hook, &Trace);
  AppRun Read = Board.Run({"-r", "backup.bin"}, Firmware());
  Bytes Before = Board.Flash();
  Bytes Image = Board.Window();
  for (uint32_t Offset : {0x10u, 0x3F0000u, 0x7FFFF0u}) Image[Offset] ^= 0x5A;
  Board.PutFile("image.bin", Image);
  std::vector<SimEvent> ReadTrace = std::move(Trace.Events);
  Trace.Events.clear();
  AppRun Write = Board.Run({"-w", "image.bin"}, Firmware());

  if (!Supported()) {
    char Refusal[160];
    std::snprintf(Refusal, sizeof Refusal,
                  "Error. No supported SPI flash controller at 0:31.5 (vendor 0x8086, device "
                  "0x%04X). Nothing was changed.\r\n",
                  Model().Spi.DeviceId);
    const std::string Expected = Model().Spi.DeviceId == 0 ? NotFound : Refusal;
    for (const AppRun *Run : {&Read, &Write}) {
      EXPECT_EQ(Run->Console, Expected);
      EXPECT_EQ(Run->Status, EFI_UNSUPPORTED);
      ExpectCleanReturn(*Run);
    }
    EXPECT_FALSE(Board.Exists("backup.bin"));
    EXPECT_TRUE(Board.Flash() == Before);
    for (const auto *Events : {&ReadTrace, &Trace.Events}) {
      for (const SimEvent &E : *Events) {
        EXPECT_TRUE(E.Kind == SimEventMemoryRead || E.Kind == SimEventBarrier)
            << "kind " << E.Kind << " at 0x" << std::hex << E.Address;
      }
    }
    return;
  }
  EXPECT_EQ(Read.Console, Saved);
  EXPECT_EQ(Read.Status, EFI_SUCCESS);
  EXPECT_TRUE(Board.GetFile("backup.bin") == Bytes(Before.end() - WindowSize, Before.end()));
  EXPECT_EQ(Write.Console, ThreeBlocksWritten);
  EXPECT_EQ(Write.Status, EFI_SUCCESS);
  EXPECT_TRUE(Board.Window() == Image);
  EXPECT_EQ(Board.Counters().SmiEnabledDuringWriteErase, 0u);
  ExpectIdentifiedBeforeWriting(ReadTrace, Model().EcamBase);
  ExpectIdentifiedBeforeWriting(Trace.Events, Model().EcamBase);
  // SMI_EN is at the FADT's base + 0x30 on every generation, the PMC hidden or not.
  bool SmiEnWritten = false;
  for (const SimEvent &E : Trace.Events) {
    if (E.Kind == SimEventPortWrite && E.Address != 0xCF9) {
      EXPECT_EQ(E.Address, AcpiBase + 0x30u);
      SmiEnWritten = true;
    }
  }
  EXPECT_TRUE(SmiEnWritten);
}

TEST_P(Generation, ShippedBoardReadsButRefusesTheWriteBeforeTheFirstErase) {
  Scenario Board(Config(true));
  AppRun Read = Board.Run({"-r", "backup.bin"}, Firmware());
  Bytes Before = Board.Flash();
  if (!Supported()) {
    EXPECT_EQ(Read.Status, EFI_UNSUPPORTED);
    EXPECT_EQ(Board.HwCycles(), 0u);
    EXPECT_EQ(SimPeekBiosControl(Board.Platform()) & 1u, 0u);
    return;
  }
  EXPECT_EQ(Read.Console, Saved);
  EXPECT_EQ(Read.Status, EFI_SUCCESS);
  Bytes Image = Board.Window();
  Image[0x3F0000] ^= 0x5A;
  Board.PutFile("image.bin", Image);
  AppRun Write = Board.Run({"-w", "image.bin"}, Firmware());
  EXPECT_EQ(Write.Status, EFI_WRITE_PROTECTED);
  EXPECT_NE(Write.Console.find("Nothing was changed."), std::string::npos) << Write.Console;
  EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u);
  EXPECT_TRUE(Board.Flash() == Before);
  EXPECT_EQ(Board.Reset(), SimResetNone);
}

std::string GenerationName(const testing::TestParamInfo<uint32_t> &Info) {
  return SimPchAt(Info.param)->Name;
}

INSTANTIATE_TEST_SUITE_P(EveryPch, Generation, testing::Range(0u, SimPchCount()), GenerationName);

// What firmware tells the application, against what the platform is: each row a
// platform and firmware tables, and the outcome of "-r".
TEST(PlatformFacts, AcpiBaseEcamBaseAndHiddenIdsDecideBeforeAnyWrite) {
  struct Case {
    const char *What;
    const char *Pch;
    std::function<void(SimConfig &, HostFirmwareConfig &)> Adjust;
    std::string Console;  // "" : the read succeeds
  } Cases[] = {
      {"hidden PMC, no FADT", "tgp", [](SimConfig &, HostFirmwareConfig &F) { F.FadtBase.reset(); },
       "Error. The ACPI I/O base is unknown. Nothing was changed.\r\n"},
      {"visible PMC, no FADT: the PMC's ABASE", "spt",
       [](SimConfig &, HostFirmwareConfig &F) { F.FadtBase.reset(); }, ""},
      {"visible PMC at 0x20's generation is hidden: FADT only", "cnp",
       [](SimConfig &, HostFirmwareConfig &) {}, ""},
      {"FADT and PMC disagree", "kbp",
       [](SimConfig &, HostFirmwareConfig &F) { F.FadtBase = 0x1000; },
       "Error. The ACPI I/O base is ambiguous (FADT 0x1000, PMC 0x1800). Nothing was changed.\r\n"},
      {"FADT and the C620 PMC disagree", "lbg",
       [](SimConfig &, HostFirmwareConfig &F) { F.FadtBase = 0x500; },
       "Error. The ACPI I/O base is ambiguous (FADT 0x500, PMC 0x1800). Nothing was changed.\r\n"},
      {"no MCFG on a platform decoding at 0xC0000000", "adp",
       [](SimConfig &, HostFirmwareConfig &F) { F.McfgBase.reset(); }, NotFound},
      {"MCFG where nothing decodes", "spt",
       [](SimConfig &, HostFirmwareConfig &F) { F.McfgBase = 0xB0000000; }, NotFound},
      {"IDs hidden: 0:31.0 names the PCH", "rpl",
       [](SimConfig &C, HostFirmwareConfig &) { C.HideSpiIds = true; }, ""},
      {"IDs hidden on the 8-series: nothing is known", "lpt",
       [](SimConfig &C, HostFirmwareConfig &) { C.HideSpiIds = true; },
       "Error. No supported SPI flash controller at 0:31.5 (vendor 0x8086, device 0x8C08). "
       "Nothing was changed.\r\n"},
      {"BAR0 unassigned", "mtl", [](SimConfig &C, HostFirmwareConfig &) { C.Bar0 = 0; }, NotFound},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.What);
    SimConfig Config = DefaultSimConfig();
    SimConfigPch(&Config, SimFindPchByName(C.Pch));
    HostFirmwareConfig Firmware;
    Firmware.McfgBase = Config.EcamBase;
    C.Adjust(Config, Firmware);
    Scenario Board(Config);
    Traced Trace;
    SimSetTraceHook(Board.Platform(), &Traced::Hook, &Trace);
    AppRun Run = Board.Run({"-r", "backup.bin"}, Firmware);
    if (C.Console.empty()) {
      EXPECT_EQ(Run.Console, Saved);
      EXPECT_EQ(Run.Status, EFI_SUCCESS);
      continue;
    }
    EXPECT_EQ(Run.Console, C.Console);
    EXPECT_EQ(Run.Status, EFI_UNSUPPORTED);
    EXPECT_FALSE(Board.Exists("backup.bin"));
    for (const SimEvent &E : Trace.Events) {
      EXPECT_TRUE(E.Kind == SimEventMemoryRead || E.Kind == SimEventBarrier)
          << "kind " << E.Kind << " at 0x" << std::hex << E.Address;
    }
  }
}

// Twelve regions: one above 7 in use over a block to rewrite is refused before the
// first erase (FRAP cannot say the host may write it); regions 6 and 7 go by FRAP.
TEST(PlatformFacts, RegionsBeyondTheFirstSixAreCheckedBeforeTheFirstErase) {
  struct Case {
    uint32_t Region;
    bool Refused;
  } Cases[] = {{8, true}, {11, true}, {6, false}, {7, false}};
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Region);
    SimConfig Config = DefaultSimConfig();
    SimConfigPch(&Config, SimFindPchByName("lbg"));
    Config.Region[C.Region] = {0xBF0000, 0xBFFFFF};
    Config.RegionsGiven = 1u << C.Region;
    Scenario Board(Config);
    HostFirmwareConfig Firmware;
    Firmware.McfgBase = Config.EcamBase;
    Bytes Image = Board.Window();
    Image[0x3F0000] ^= 0x5A;  // flash 0xBF0000
    Board.PutFile("image.bin", Image);
    AppRun Write = Board.Run({"-w", "image.bin"}, Firmware);
    if (C.Refused) {
      char Expected[160];
      std::snprintf(Expected, sizeof Expected,
                    "Flash BIOS Size : 0x800000\r\nProgramming starting \r\nError. Flash is "
                    "write-protected at 0xFFBF0000 (flash 0xBF0000, region %u). Nothing was "
                    "changed.\r\n",
                    C.Region);
      EXPECT_EQ(Write.Console, Expected);
      EXPECT_EQ(Write.Status, EFI_WRITE_PROTECTED);
      EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u);
    } else {
      EXPECT_EQ(Write.Status, EFI_SUCCESS);
      EXPECT_TRUE(Board.Window() == Image);
    }
  }
}

}  // namespace
