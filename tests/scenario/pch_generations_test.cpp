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

// What the checks below need of a run's trace, gathered as the accesses happen: a
// read or write runs to millions of accesses, too many to keep under the sanitizers.
struct Traced {
  explicit Traced(uint64_t Ecam = 0) : Spi(Ecam + SpiFunction) {}
  uint64_t Spi;                            // configuration space of 0:31.5
  bool Written = false;                    // a write of any kind seen
  std::vector<SimEvent> BeforeFirstWrite;  // every access before the first write
  std::vector<SimEvent> ConfigWrites;      // memory writes to BAR0 or the command register
  std::vector<SimEvent> PortWrites;
  std::vector<SimEvent> NotReads;  // accesses other than memory reads (and barriers)
  static void Hook(void *Context, const SimEvent *Event) {
    auto *T = static_cast<Traced *>(Context);
    const SimEvent &E = *Event;
    // Most of a run: reads and ordering points after the first write, none kept.
    if (T->Written && (E.Kind == SimEventMemoryRead || E.Kind == SimEventBarrier)) return;
    const bool Write = E.Kind == SimEventMemoryWrite || E.Kind == SimEventPortWrite;
    if (Write) T->Written = true;
    if (!T->Written) T->BeforeFirstWrite.push_back(E);
    if (E.Kind == SimEventMemoryWrite &&
        (E.Address == T->Spi + 0x10 || (E.Address & ~3ull) == T->Spi + 0x04)) {
      T->ConfigWrites.push_back(E);
    }
    if (E.Kind == SimEventPortWrite) T->PortWrites.push_back(E);
    // The first ones tell what went wrong; the rest would only cost memory.
    if (E.Kind != SimEventMemoryRead && E.Kind != SimEventBarrier && T->NotReads.size() < 64) {
      T->NotReads.push_back(E);
    }
  }
};

// What each run on the platform must show in its trace: nothing written to 0:31.5's
// BAR0 or command register, and no write of any kind before the last read of
// configuration space that identification makes.
void ExpectIdentifiedBeforeWriting(const Traced &Trace) {
  for (const SimEvent &E : Trace.ConfigWrites) {
    EXPECT_NE(E.Address, Trace.Spi + 0x10) << "BAR0 written";
    EXPECT_NE(E.Address & ~3ull, Trace.Spi + 0x04) << "command register written";
  }
  ASSERT_TRUE(Trace.Written);
  // Identification reads the SPI controller's IDs, class, BAR0 and command register
  // before anything is written; the PMC's ABASE too where the PMC is visible.
  size_t IdentifyingReads = 0;
  for (const SimEvent &E : Trace.BeforeFirstWrite) {
    EXPECT_NE(E.Kind, SimEventPortRead) << "I/O before identification";
    if (E.Kind == SimEventMemoryRead && E.Address >= Trace.Spi && E.Address < Trace.Spi + 0x14) {
      IdentifyingReads++;
    }
  }
  EXPECT_GE(IdentifyingReads, 4u);
}

// Configuration reads alone: no write and no I/O of any kind.
void ExpectReadsOnly(const Traced &Trace) {
  for (const SimEvent &E : Trace.NotReads) {
    ADD_FAILURE() << "kind " << E.Kind << " at 0x" << std::hex << E.Address;
  }
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
  Traced ReadTrace(Model().EcamBase);
  SimSetTraceHook(Board.Platform(), &Traced::Hook, &ReadTrace);
  AppRun Read = Board.Run({"-r", "backup.bin"}, Firmware());
  Bytes Before = Board.Flash();
  Bytes Image = Board.Window();
  for (uint32_t Offset : {0x10u, 0x3F0000u, 0x7FFFF0u}) Image[Offset] ^= 0x5A;
  Board.PutFile("image.bin", Image);
  Traced Trace(Model().EcamBase);
  SimSetTraceHook(Board.Platform(), &Traced::Hook, &Trace);
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
    ExpectReadsOnly(ReadTrace);
    ExpectReadsOnly(Trace);
    return;
  }
  EXPECT_EQ(Read.Console, Saved);
  EXPECT_EQ(Read.Status, EFI_SUCCESS);
  EXPECT_TRUE(Board.GetFile("backup.bin") == Bytes(Before.end() - WindowSize, Before.end()));
  EXPECT_EQ(Write.Console, ThreeBlocksWritten);
  EXPECT_EQ(Write.Status, EFI_SUCCESS);
  EXPECT_TRUE(Board.Window() == Image);
  EXPECT_EQ(Board.Counters().SmiEnabledDuringWriteErase, 0u);
  ExpectIdentifiedBeforeWriting(ReadTrace);
  ExpectIdentifiedBeforeWriting(Trace);
  // SMI_EN is at the FADT's base + 0x30 on every generation, the PMC hidden or not.
  bool SmiEnWritten = false;
  for (const SimEvent &E : Trace.PortWrites) {
    if (E.Address != 0xCF9) {
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
    ExpectReadsOnly(Trace);
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
