// "-r" and "-w" on platforms set up the way boards ship: production descriptors,
// locked BIOS_CONTROL, EISS, VSCC left by firmware. A board that cannot take
// writes is refused before the first erase, with the reason, and nothing changes.
#include <cctype>
#include <cstdio>
#include <functional>
#include <optional>

#include "scenario/scenario_support.h"

namespace {

const std::string ThreeBlocksDone =
    "... completed.\r\n3 of 128 blocks rewritten and read back.\r\nSystem reset...\r\n";
const std::string Saved =
    "Now start read SPI, wait a minute...\r\nRead SPI is Success.\r\nSave to file is Success.\r\n";

std::string Refused(const std::string &Reason) {
  return "\r\nError. The flash cannot be written on this platform: " + Reason +
         ". Nothing was changed.\r\n";
}

// LVSCC as firmware may leave it: locked (VCL) without a valid erase opcode.
void LockVsccWithoutEraseOpcode(SimPlatform *Platform) {
  SimMmioWrite(Platform, 0xFE0100C8, 32, 0);
  SimMmioWrite(Platform, 0xFE0100C4, 32, 1u << 30);
}

void ClearVscc(SimPlatform *Platform) {
  SimMmioWrite(Platform, 0xFE0100C8, 32, 0);
  SimMmioWrite(Platform, 0xFE0100C4, 32, 0);
}

struct BoardCase {
  const char *What;
  std::function<void(SimConfig &)> Adjust;
  std::function<void(SimPlatform *)> Firmware;  // what firmware left in the registers
  bool ReadSaves;
  std::string WriteTail;  // console after "Programming starting "
  EFI_STATUS WriteStatus;
};

const BoardCase Boards[] = {
    {"production descriptor: the host reads regions 0-3 and writes the BIOS region",
     [](SimConfig &C) { C.LockedDescriptor = true; },
     {},
     true,
     ThreeBlocksDone,
     EFI_SUCCESS},
    {"EISS",
     [](SimConfig &C) { C.Eiss = true; },
     {},
     true,
     Refused("BIOS writes are limited to SMM (EISS)"),
     EFI_WRITE_PROTECTED},
    {"SMI_LOCK with LE: SMM takes BIOSWE back",
     [](SimConfig &C) { C.SmiLock = true; },
     {},
     true,
     Refused("BIOS writes are locked (BIOSWE)"),
     EFI_WRITE_PROTECTED},
    {"SMI_LOCK without LE",
     [](SimConfig &C) { C.SmiLock = C.NoBle = true; },
     {},
     true,
     ThreeBlocksDone,
     EFI_SUCCESS},
    {"no descriptor: the flash cannot be read, so there is nothing to compare with",
     [](SimConfig &C) { C.NoDescriptor = true; },
     {},
     false,
     "\r\nError. The flash could not be read (Invalid Parameter). Nothing was changed.\r\n",
     EFI_INVALID_PARAMETER},
    {"VSCC left valid and unlocked",
     [](SimConfig &C) { C.VsccUnlocked = true; },
     {},
     true,
     ThreeBlocksDone,
     EFI_SUCCESS},
    {"VSCC left empty and unlocked: the set-up fills it",
     [](SimConfig &C) { C.VsccUnlocked = true; }, ClearVscc, true, ThreeBlocksDone, EFI_SUCCESS},
    {"VSCC left empty and locked", [](SimConfig &C) { C.VsccUnlocked = true; },
     LockVsccWithoutEraseOpcode, true,
     Refused("the flash controller has no valid erase opcode (VSCC)"), EFI_UNSUPPORTED},
    {"production: locked descriptor, FLOCKDN, LE, SMI_LOCK, EISS, VSCC locked",
     [](SimConfig &C) { SimConfigProduction(&C); },
     {},
     true,
     Refused("BIOS writes are limited to SMM (EISS)"),
     EFI_WRITE_PROTECTED},
    {"FLOCKDN: the opcode menu stays as firmware left it",
     [](SimConfig &C) { C.Flockdn = true; },
     {},
     true,
     ThreeBlocksDone,
     EFI_SUCCESS},
    {"chip with its block-protect bits set",
     [](SimConfig &C) { C.ChipProtect = true; },
     {},
     true,
     Refused("the flash chip is write-protected (status 0x1C)"),
     EFI_WRITE_PROTECTED},
    {"GPR0 over a block to rewrite",
     [](SimConfig &C) {
       C.Gpr0Enabled = true;
       C.Gpr0 = {0xBF0000, 0xBF0FFF};
     },
     {},
     true,
     "\r\nError. Flash is write-protected at 0xFFBF0000 (flash 0xBF0000, GPR0). Nothing was "
     "changed.\r\n",
     EFI_WRITE_PROTECTED},
    {"PM timer stopped: the waits fall back to Stall",
     [](SimConfig &C) { C.PmTimerStopped = true; },
     {},
     true,
     ThreeBlocksDone,
     EFI_SUCCESS},
};

class ShippedBoard : public testing::TestWithParam<BoardCase> {};

TEST_P(ShippedBoard, ReadSavesTheWindowAndWriteCompletesOrIsRefusedUntouched) {
  {
    const BoardCase &B = GetParam();
    SCOPED_TRACE(B.What);
    SimConfig Config = DefaultSimConfig();
    B.Adjust(Config);
    Scenario Board(Config);
    if (B.Firmware) {
      B.Firmware(Board.Platform());
    }
    AppRun Read = Board.Run({"-r", "backup.bin"});
    if (B.ReadSaves) {
      EXPECT_EQ(Read.Console, Saved);
      EXPECT_EQ(Read.Status, EFI_SUCCESS);
      EXPECT_TRUE(Board.GetFile("backup.bin") == Board.Window());
    } else {
      EXPECT_NE(Read.Status, EFI_SUCCESS);
      EXPECT_FALSE(Board.Exists("backup.bin"));
    }

    Bytes Before = Board.Flash();
    Bytes Image = Board.Window();
    for (uint32_t Offset : {0x10u, 0x3F0000u, 0x7FFFF0u}) {
      Image[Offset] ^= 0x5A;
    }
    Board.PutFile("image.bin", Image);
    AppRun Write = Board.Run({"-w", "image.bin"});
    EXPECT_EQ(Write.Console, Size8 + Starting + B.WriteTail);
    EXPECT_EQ(Write.Status, B.WriteStatus);
    if (B.WriteStatus == EFI_SUCCESS) {
      EXPECT_EQ(Board.Reset(), SimResetHard);
      EXPECT_TRUE(Board.Window() == Image);
    } else {
      EXPECT_EQ(Board.Reset(), SimResetNone);
      EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u);
      EXPECT_TRUE(Board.Flash() == Before);
      ExpectCleanReturn(Write);
    }
  }
}

void PrintTo(const BoardCase &B, std::ostream *Out) { *Out << B.What; }

// The test name: the case's words up to its first colon, run together.
std::string BoardName(const testing::TestParamInfo<BoardCase> &Info) {
  std::string Name;
  bool Upper = true;
  for (const char *C = Info.param.What; *C != 0 && *C != ':'; ++C) {
    if (std::isalnum(static_cast<unsigned char>(*C)) == 0) {
      Upper = true;
      continue;
    }
    Name += Upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*C))) : *C;
    Upper = false;
  }
  return Name;
}

INSTANTIATE_TEST_SUITE_P(Boards, ShippedBoard, testing::ValuesIn(Boards), BoardName);

// A controller that never finishes a cycle: the part scan stops at the first
// identification that times out, and every later cycle fails at once, so the
// command reports within seconds rather than after every row has timed out.
TEST(ShippedBoards, HungControllerFailsFast) {
  SimConfig Config = DefaultSimConfig();
  Config.StuckBusy = true;
  Scenario Board(Config);
  AppRun Run = Board.Run({"-r", "backup.bin"});
  EXPECT_EQ(Run.Status, EFI_TIMEOUT);
  EXPECT_LT(SimTimeNs(Board.Platform()), 10000000000ull);
  EXPECT_EQ(Board.Counters().HwCycles[SimCycleReadJedecId], 1u);
}

}  // namespace

namespace {

// Configuration space is where firmware's MCFG says, or at 0xE0000000 without
// one. An MCFG naming a base where this platform decodes nothing finds no
// controller, after configuration reads alone.
TEST(ShippedBoards, PciConfigurationSpaceElsewhereFindsNoControllerWithoutAnyWrite) {
  struct Case {
    std::optional<uint64_t> Mcfg;
    bool Refused;
  } Cases[] = {{0xE0000000, false}, {std::nullopt, false}, {0xB0000000, true}, {0xF8000000, true}};
  for (const Case &C : Cases) {
    Scenario Board;
    HostFirmwareConfig Firmware;
    Firmware.McfgBase = C.Mcfg;
    AppRun Run = Board.Run({"-r", "backup.bin"}, Firmware);
    if (C.Refused) {
      EXPECT_EQ(Run.Console, "Error. SPI flash controller not found.\r\n");
      EXPECT_EQ(Run.Status, EFI_UNSUPPORTED);
      EXPECT_EQ(SimPeekSmiEn(Board.Platform()) & 1u, 1u);
      EXPECT_EQ(Board.HwCycles(), 0u);
      EXPECT_FALSE(Board.Exists("backup.bin"));
      ExpectCleanReturn(Run);
    } else {
      EXPECT_EQ(Run.Console, Saved);
      EXPECT_EQ(Run.Status, EFI_SUCCESS);
    }
  }
}

}  // namespace
